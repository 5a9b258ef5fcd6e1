#pragma once
// The scope that holds a script function's parameters during a call. Binding them is the
// main cost of a call next to its body, so the entry lists of a function's last calls are
// kept with the function: the names are already in place and a call only copies the argument
// values. A recursion deeper than the lists kept builds its own as usual.

#include <cstddef>
#include <cstdint>

#include "engine/scope/scope_stack_ops.h"
#include "engine/stdlib/script_callable.h"

namespace cobalt::parameterScope {

/// How many lists a function keeps: enough for the levels of a recursion that a call tree
/// revisits most (the leaves and the levels just above them).
constexpr uint32_t kMaxKeptLists = 8;

/// The value of a parameter that got no argument.
inline const Variable kMissingArgument;

/// bind() with the argument at each position given by `argumentAt(i)` (i < count), a value
/// the caller holds or one read in place where it lives.
template <class ArgumentAt>
inline uint64_t bindEach(ScopeState& scopes, const ScriptCallable& function, size_t count, ArgumentAt argumentAt)
{
    const size_t parameterCount = function.parameters.size();
    if (function.keptParameterLists != 0) {
        const uint32_t kept = --function.keptParameterLists;
        ScopeList& list = scopeStack::pushWithEntries(scopes.blocks, function.spareParameters[kept],
                                                      function.spareParameterIds[kept]);
        list.nameMask = function.parameterMask;
        for (size_t i = 0; i < parameterCount; ++i) {
            copyValueInto(i < count ? argumentAt(i) : kMissingArgument, list.entries[i].second);
        }
        return list.id;
    }
    ScopeList& list = scopeStack::push(scopes, scopes.blocks, scopeStack::kBlockReserve);
    for (size_t i = 0; i < parameterCount; ++i) {
        list.setCopy(function.parameters[i], i < count ? argumentAt(i) : kMissingArgument);
    }
    // One entry per parameter means no two share a name: such a list can be kept.
    if (parameterCount > 0 && list.entries.size() == parameterCount) function.parameterMask = list.nameMask;
    return list.id;
}

/// Pushes the callee's block scope (which the caller makes its block base) and binds each
/// parameter to the argument at its position, or to the absent value. Returns the scope's
/// id, which release() needs.
inline uint64_t bind(ScopeState& scopes, const ScriptCallable& function, const Variable* args, size_t count)
{
    return bindEach(scopes, function, count, [args](size_t i) -> const Variable& { return args[i]; });
}

/// Pops the scope bind() pushed (the top block scope, with id `scopeId`). A list that holds
/// exactly the parameters goes back to the function, emptied of its values and with its id,
/// while it keeps fewer than kMaxKeptLists; any other list is popped as every block scope is.
[[gnu::always_inline]] inline void release(ScopeState& scopes, const ScriptCallable& function, uint64_t scopeId)
{
    ScopeList& top = scopes.blocks.back();
    const uint32_t kept = function.keptParameterLists;
    if (top.id != scopeId || function.parameterMask == 0 || top.entries.size() != function.parameters.size() ||
        kept >= kMaxKeptLists) {
        scopeStack::pop(scopes, scopes.blocks);
        return;
    }
    auto& lists = function.spareParameters;
    if (kept == lists.size()) {
        lists.emplace_back();
        function.spareParameterIds.emplace_back();
    }
    std::vector<std::pair<std::string, Variable>>& list = lists[kept];
    list.swap(top.entries);
    // The id goes with the names: the list is only ever kept holding exactly the parameters
    // (a body that added a name to it retired it, and its id with it).
    function.spareParameterIds[kept] = top.id;
    function.keptParameterLists = kept + 1;
    scopes.blocks.pop_back();
    // The values go once the list is off the stack, as a popped scope's do.
    for (auto& entry : list) {
        Variable& value = entry.second;
        value.type = VarType::Not;
        if (int32_t* number = std::get_if<int32_t>(&value.value)) {
            *number = 0;
        } else {
            value.value = int32_t{0};
        }
    }
}

} // namespace cobalt::parameterScope
