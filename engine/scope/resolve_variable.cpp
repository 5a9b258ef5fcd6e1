// Name resolution: the plain look-up through block, loop and frame scopes to the globals,
// the explicit-scope names (name#0 .. name#3), and the per-token resolution cache (its
// checks are in cached_resolution.h; this file records what a full search found).

#include <algorithm>
#include <limits>
#include <string>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/scope/cached_resolution.h"
#include "engine/scope/scope_lookup.h"

namespace cobalt {

size_t resolution::findEntry(const ScopeList& list, std::string_view name)
{
    for (size_t i = 0; i < list.entries.size(); ++i) {
        if (sameName(list.entries[i].first, name)) return i;
    }
    return std::string::npos;
}

using namespace resolution;

namespace {

constexpr size_t kMaxCachedPosition = std::numeric_limits<uint16_t>::max();

// Where a plain look-up found a name.
struct Location {
    ResolutionKind kind = ResolutionKind::None;
    size_t depth = 0;  // from the top of the block or loop stack
    size_t index = 0;  // entry index in the scope list
    uint64_t scopeId = 0;
    uint64_t slot = 0;
    Variable* variable = nullptr;
};

// Search order of a plain name: block scopes of the running call (innermost first), all loop
// scopes (innermost first), the current frame scope, the globals. `forWriting` makes a global
// whose slot is missing an internal error instead of "not found".
Location locate(ScopeState& scopes, std::string_view name, bool forWriting)
{
    Location found;
    const uint64_t bit = scopeNameBit(name);
    const size_t first = (ScopeState::stackMask(scopes.blocks) & bit) != 0 ? firstVisibleBlock(scopes)
                                                                            : scopes.blocks.size();
    for (size_t i = scopes.blocks.size(); i-- > first;) {
        const size_t index = entryIndex(scopes.blocks[i], name, bit);
        if (index == std::string::npos) continue;
        ScopeList& list = scopes.blocks[i];
        return {ResolutionKind::BlockScope, scopes.blocks.size() - 1 - i, index, list.id, 0,
                &list.entries[index].second};
    }
    const size_t loopCount = (ScopeState::stackMask(scopes.loops) & bit) != 0 ? scopes.loops.size() : 0;
    for (size_t i = loopCount; i-- > 0;) {
        const size_t index = entryIndex(scopes.loops[i], name, bit);
        if (index == std::string::npos) continue;
        ScopeList& list = scopes.loops[i];
        return {ResolutionKind::LoopScope, scopes.loops.size() - 1 - i, index, list.id, 0,
                &list.entries[index].second};
    }
    if (ScopeList* frame = existingFrameScope(scopes)) {
        if (Variable* variable = frame->find(name)) {
            found.variable = variable;  // frame entries are not cached
            return found;
        }
    }
    uint64_t slot = 0;
    if (!findGlobalSlot(scopes, name, slot)) return found;
    if (slot >= scopes.globalSlots.size()) {
        if (forWriting) fail("Internal slot error while assigning variable: " + std::string(name));
        return found;
    }
    if (!globalSlotDefined(scopes, slot)) return found;
    found.kind = ResolutionKind::GlobalSlot;
    found.depth = scopes.loops.size();
    found.slot = slot;
    found.variable = &scopes.globalSlots[slot];
    return found;
}

void remember(const ScopeState& scopes, const TokenAnalysis& analysis, const Location& location)
{
    const bool fits = location.depth <= kMaxCachedPosition && location.index <= kMaxCachedPosition;
    if (location.variable == nullptr || location.kind == ResolutionKind::None || !fits) {
        analysis.resolvedKind = ResolutionKind::None;
        return;
    }
    analysis.resolvedKind = location.kind;
    analysis.resolvedDepth = static_cast<uint16_t>(location.depth);
    analysis.resolvedIndex = static_cast<uint16_t>(location.index);
    if (location.kind == ResolutionKind::GlobalSlot) {
        analysis.globalSlot = location.slot;
        analysis.globalSlotValid = true;
        analysis.lastScopeId = scopes.globalsId;
    } else {
        analysis.lastScopeId = location.scopeId;
    }
}

// Names are a few bytes long: a plain loop beats a call to memchr on every look-up.
bool isScopedName(std::string_view name)
{
    for (const char c : name) {
        if (c == '#') return true;
    }
    return false;
}


} // namespace

bool CobaltScript::parseScopedVariableToken(std::string_view token, std::string_view& baseName, int& scope) const
{
    const size_t hash = token.rfind('#');
    if (hash == std::string_view::npos || hash == 0 || hash + 1 >= token.size()) return false;
    const std::string_view digits = token.substr(hash + 1);
    if (digits.size() > 9) return false;
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    if (number > 3) return false;
    const std::string_view base = token.substr(0, hash);
    if (!isIdentifierToken(base) || isScopedName(base)) return false;
    baseName = base;
    scope = number;
    return true;
}

Variable* CobaltScript::resolveExplicitScopeVariablePtr(std::string_view baseName, int scope)
{
    switch (scope) {
    case 0:
        return scopes.external.find(baseName);
    case 1: {
        uint64_t slot = 0;
        if (!findGlobalSlot(scopes, baseName, slot) || !globalSlotDefined(scopes, slot)) return nullptr;
        return &scopes.globalSlots[slot];
    }
    case 2: {
        ScopeList* frame = existingFrameScope(scopes);
        return frame ? frame->find(baseName) : nullptr;
    }
    case 3:
        for (size_t i = scopes.blocks.size(); i-- > firstVisibleBlock(scopes);) {
            if (Variable* variable = scopes.blocks[i].find(baseName)) return variable;
        }
        return nullptr;
    default:
        return nullptr;
    }
}

Variable* CobaltScript::resolveExplicitScopeVariableMutable(std::string_view baseName, int scope, bool create)
{
    if (scope == 1) {
        uint64_t slot = 0;
        if (findGlobalSlot(scopes, baseName, slot) && slot >= scopes.globalSlots.size()) {
            fail("Internal slot error while assigning variable: " + std::string(baseName));
        }
    }
    if (Variable* existing = resolveExplicitScopeVariablePtr(baseName, scope)) return existing;
    if (!create) return nullptr;
    switch (scope) {
    case 0:
        setInScope(scopes.external, baseName, Variable());
        return scopes.external.find(baseName);
    case 1:
        pushVariable(baseName, Variable());
        return resolveExplicitScopeVariablePtr(baseName, 1);
    case 2: {
        ScopeList& frame = currentFrameScope();
        setInScope(frame, baseName, Variable());
        return frame.find(baseName);
    }
    case 3:
        if (scopes.blocks.size() <= scopes.blockBase) pushBlockScope();
        setInScope(scopes.blocks.back(), baseName, Variable());
        return scopes.blocks.back().find(baseName);
    default:
        return nullptr;
    }
}

Variable* CobaltScript::resolveVariablePtr(std::string_view name)
{
    std::string_view baseName;
    int scope = 0;
    if (isScopedName(name) && parseScopedVariableToken(name, baseName, scope)) {
        return resolveExplicitScopeVariablePtr(baseName, scope);
    }
    return locate(scopes, name, false).variable;
}

namespace {

// The search after a cache miss, kept out of line so that a hit (nearly every look-up) runs
// in a small function that saves and restores few registers.
[[gnu::noinline]] Variable* locateAndRemember(ScopeState& scopes, std::string_view name,
                                              const TokenAnalysis& analysis)
{
    const Location location = locate(scopes, name, false);
    remember(scopes, analysis, location);
    return location.variable;
}

} // namespace

Variable* CobaltScript::resolveVariableFastPtr(std::string_view name, const TokenAnalysis* analysis)
{
    if (analysis == nullptr || (!analysis->noScopeMark && isScopedName(name))) return resolveVariablePtr(name);
    if (Variable* hit = cachedHit(scopes, name, *analysis)) return hit;
    return locateAndRemember(scopes, name, *analysis);
}

bool CobaltScript::resolveVariableFast(std::string_view name, const TokenAnalysis* analysis, Variable& out)
{
    const Variable* found = resolveVariableFastPtr(name, analysis);
    if (found == nullptr) {
        out = Variable();
        return false;
    }
    out = *found;
    return true;
}

Variable* CobaltScript::resolveExistingVariableFastMutable(std::string_view name, const TokenAnalysis* analysis,
                                                           bool create)
{
    std::string_view baseName;
    int scope = 0;
    const bool plain = analysis != nullptr && analysis->noScopeMark;
    if (!plain && isScopedName(name) && parseScopedVariableToken(name, baseName, scope)) {
        return resolveExplicitScopeVariableMutable(baseName, scope, create);
    }
    if (analysis != nullptr) {
        if (Variable* hit = cachedHit(scopes, name, *analysis)) return hit;
    }
    const Location location = locate(scopes, name, true);
    if (analysis != nullptr) remember(scopes, *analysis, location);
    return location.variable;
}

} // namespace cobalt
