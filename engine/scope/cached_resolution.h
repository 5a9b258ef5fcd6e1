#pragma once
// The cached half of name resolution: whether the place a token's name was found last time
// still holds it and nothing searched earlier hides it. Inline, so that the expression walker
// answers most look-ups without a call; a miss goes to the full search (resolve_variable.cpp).
//
// The cache only ever shortens the search; it never changes its answer. A cached entry is
// used when its list is still on the stack at the recorded depth, the entry at the recorded
// index still carries the name, and no scope searched earlier has gained the name since.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/lexer/token_analysis.h"
#include "engine/scope/scope_lookup.h"
#include "engine/scope/scope_state.h"

namespace cobalt::resolution {

inline ScopeList* existingFrameScope(ScopeState& scopes)
{
    return scopes.currentFrame < scopes.frames.size() ? &scopes.frames[scopes.currentFrame] : nullptr;
}

// The helpers of the cached look-up are forced inline: each runs several times per look-up
// and a look-up runs for nearly every name an expression reads. They take the name's bit
// (the token's nameBit, or scopeNameBit on a full search), found once per look-up.

// Entry index of `name` in `list` (first match), or npos. The name comparisons stay out of
// line: a mask bit set by another name is rare, and the look-ups that inline these helpers
// stay small enough to need few registers.
[[gnu::noinline]] size_t findEntry(const ScopeList& list, std::string_view name);

[[gnu::always_inline]] inline size_t entryIndex(const ScopeList& list, std::string_view name, uint64_t bit)
{
    if ((list.nameMask & bit) == 0) return std::string::npos;
    return findEntry(list, name);
}

// The helpers below take `kQuick`: the quick form answers without comparing a single name
// (and so without a call), taking a set mask bit for "holds" and giving up on a long name.
// It can only turn a hit into a miss, which the full form then decides: the expression
// walker tries it first, as a small leaf that needs no saved registers.

// True when a list in [first, last) holds the name. Walked by pointer: the stacks' sizes
// would otherwise be recomputed (a division by the list size) on every step.
template <bool kQuick = false>
[[gnu::always_inline]] inline bool rangeHolds(const ScopeList* first, const ScopeList* last, std::string_view name,
                                              uint64_t bit)
{
    for (; first < last; ++first) {
        if ((first->nameMask & bit) == 0) continue;
        if (kQuick || findEntry(*first, name) != std::string::npos) return true;
    }
    return false;
}

[[gnu::always_inline]] inline const ScopeList* stackEnd(const std::vector<ScopeList>& stack)
{
    return stack.data() + stack.size();
}

// True when a visible block scope at stack index `from` or above holds the name.
template <bool kQuick = false>
[[gnu::always_inline]] inline bool blocksFromHold(const ScopeState& scopes, size_t from, std::string_view name,
                                                  uint64_t bit)
{
    return rangeHolds<kQuick>(scopes.blocks.data() + from, stackEnd(scopes.blocks), name, bit);
}

template <bool kQuick = false>
[[gnu::always_inline]] inline bool loopsFromHold(const ScopeState& scopes, size_t from, std::string_view name,
                                                 uint64_t bit)
{
    return rangeHolds<kQuick>(scopes.loops.data() + from, stackEnd(scopes.loops), name, bit);
}

// The stack masks answer "not in any block scope" and "not in any loop scope" without a
// walk, which is the common answer for a global or a loop variable.
template <bool kQuick = false>
[[gnu::always_inline]] inline bool visibleBlocksHold(const ScopeState& scopes, std::string_view name, uint64_t bit)
{
    return (ScopeState::stackMask(scopes.blocks) & bit) != 0 &&
           blocksFromHold<kQuick>(scopes, firstVisibleBlock(scopes), name, bit);
}

template <bool kQuick = false>
[[gnu::always_inline]] inline bool localsHold(ScopeState& scopes, std::string_view name, uint64_t bit)
{
    if (visibleBlocksHold<kQuick>(scopes, name, bit)) return true;
    if ((ScopeState::stackMask(scopes.loops) & bit) != 0 && loopsFromHold<kQuick>(scopes, 0, name, bit)) return true;
    const ScopeList* frame = existingFrameScope(scopes);
    if (frame == nullptr || (frame->nameMask & bit) == 0) return false;
    return kQuick || entryIndex(*frame, name, bit) != std::string::npos;
}

// The entry of a block or loop list found through the cache, or null.
template <bool kQuick = false>
[[gnu::always_inline]] inline Variable* cachedListEntry(ScopeList& list, const TokenAnalysis& analysis,
                                                        std::string_view name, bool namesUnique)
{
    const size_t index = analysis.resolvedIndex;
    if (index >= list.entries.size()) return nullptr;
    // The very list the name was found in last time (ids are never reused): a live list only
    // ever gains entries at its end and never renames one, so the entry at the index is still
    // the name's first.
    if (list.id == analysis.lastScopeId) return &list.entries[index].second;
    // A long name would be compared by a library call.
    if (kQuick && name.size() > 16) return nullptr;
    if (!sameName(list.entries[index].first, name)) return nullptr;
    // A name can occur twice only in a loop scope (for k, k in ...); elsewhere an entry that
    // carries the name is its first, as is the first entry everywhere.
    if (!namesUnique && index != 0) {
        if (kQuick || entryIndex(list, name, analysis.nameBit) != index) return nullptr;
    }
    analysis.lastScopeId = list.id;
    return &list.entries[index].second;
}

template <bool kQuick = false>
[[gnu::always_inline]] inline Variable* cachedHit(ScopeState& scopes, std::string_view name, const TokenAnalysis& analysis)
{
    const size_t depth = analysis.resolvedDepth;
    switch (analysis.resolvedKind) {
    case ResolutionKind::BlockScope: {
        ScopeList* const end = scopes.blocks.data() + scopes.blocks.size();
        const size_t count = scopes.blocks.size();
        const size_t visible = count - std::min(scopes.blockBase, count);
        if (depth >= visible) return nullptr;
        ScopeList* const list = end - 1 - depth;
        if (depth != 0 && rangeHolds<kQuick>(list + 1, end, name, analysis.nameBit)) return nullptr;
        return cachedListEntry<kQuick>(*list, analysis, name, true);
    }
    case ResolutionKind::LoopScope: {
        if (depth >= scopes.loops.size()) return nullptr;
        ScopeList* const list = scopes.loops.data() + scopes.loops.size() - 1 - depth;
        const uint64_t bit = analysis.nameBit;
        if (visibleBlocksHold<kQuick>(scopes, name, bit) ||
            rangeHolds<kQuick>(list + 1, stackEnd(scopes.loops), name, bit)) {
            return nullptr;
        }
        return cachedListEntry<kQuick>(*list, analysis, name, false);
    }
    case ResolutionKind::GlobalSlot: {
        // Recorded by this engine (its globals id): the slot still belongs to the name.
        const uint64_t slot = analysis.globalSlot;
        if (analysis.lastScopeId != scopes.globalsId || !analysis.globalSlotValid) return nullptr;
        if (!globalSlotDefined(scopes, slot)) return nullptr;
        if (localsHold<kQuick>(scopes, name, analysis.nameBit)) return nullptr;
        return &scopes.globalSlots[slot];
    }
    default:
        return nullptr;
    }
}

} // namespace cobalt::resolution
