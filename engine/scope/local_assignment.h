#pragma once
// `local name = value` for a plain name whose token carries its analysis: the statement a loop
// body with locals runs on every iteration, so it is written for that case. Shared by the
// general store (assignVariableFast) and the interpreter's inline assignment.

#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "engine/cobalt_script.h"
#include "engine/scope/cached_resolution.h"

namespace cobalt {

/// True when `name` with `analysis` is a plain name (no explicit scope), as assignVariableFast
/// decides it.
inline bool isPlainTargetName(std::string_view name, const TokenAnalysis* analysis)
{
    return analysis != nullptr && (analysis->noScopeMark || name.find('#') == std::string_view::npos);
}

/// Sets the plain name in the innermost block scope of the running call, opening one when
/// there is none. The name's bit comes with its token, and a scope that cannot hold the name
/// is not searched.
[[gnu::always_inline]] inline void assignLocalFast(CobaltScript& engine, std::string_view name,
                                                   const TokenAnalysis& analysis, Variable&& value)
{
    ScopeState& scopes = engine.scopes;
    if (scopes.blocks.size() <= scopes.blockBase) engine.pushBlockScope();
    ScopeList& scope = scopes.blocks.back();
    const uint64_t bit = analysis.noScopeMark ? analysis.nameBit : scopeNameBit(name);
    const size_t index = resolution::entryIndex(scope, name, bit);
    if (index != std::string::npos) {
        storeValueInto(std::move(value), scope.entries[index].second);
        return;
    }
    // Built in place: the name straight into its entry, no string to move in and destroy.
    scope.nameMask |= bit;
    scope.entries.emplace_back(std::piecewise_construct, std::forward_as_tuple(name),
                               std::forward_as_tuple(std::move(value)));
}

} // namespace cobalt
