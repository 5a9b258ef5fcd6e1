#pragma once
// Pushing and popping block and loop scopes. Inline: every script-function call pushes and
// pops the scope of its parameters, and a call should cost little next to the body it runs.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "engine/scope/scope_state.h"

namespace cobalt::scopeStack {

/// Room a new block scope and a new loop scope are made with.
constexpr size_t kBlockReserve = 4;
constexpr size_t kLoopReserve = 2;
/// Keeps at most this many emptied entry lists; deeper nesting than this is rare.
constexpr size_t kMaxSpareEntryLists = 64;
/// A list grown larger than this is freed rather than kept, so one big scope does not pin memory.
constexpr size_t kMaxSpareCapacity = 64;

/// Pushes a fresh block or loop scope, built in its place on the stack, reusing the entry
/// list of a popped one when there is one (no temporary list to move in and destroy).
[[gnu::always_inline]] inline ScopeList& push(ScopeState& scopes, std::vector<ScopeList>& stack, size_t reserve)
{
    const uint64_t below = ScopeState::stackMask(stack);
    ScopeList& list = stack.emplace_back();
    list.id = scopes.nextScopeId++;
    list.belowMask = below;
    if (scopes.spareEntries.empty()) {
        list.entries.reserve(reserve);
        return list;
    }
    list.entries.swap(scopes.spareEntries.back());
    scopes.spareEntries.pop_back();
    return list;
}

/// Pushes a scope whose entry list is taken from `entries` (left empty): a list kept with its
/// names by the caller, who sets the name bits. It comes back with the id it had when it was
/// kept: its names are still the same ones at the same places, so what a look-up cached
/// about it holds again.
[[gnu::always_inline]] inline ScopeList& pushWithEntries(std::vector<ScopeList>& stack,
                                                         std::vector<std::pair<std::string, Variable>>& entries,
                                                         uint64_t id)
{
    const uint64_t below = ScopeState::stackMask(stack);
    ScopeList& list = stack.emplace_back();
    list.id = id;
    list.belowMask = below;
    list.entries.swap(entries);
    return list;
}

/// Removes the innermost scope of the stack. Its values are destroyed after it has left the
/// stack; the emptied entry list is kept for the next push.
[[gnu::always_inline]] inline void pop(ScopeState& scopes, std::vector<ScopeList>& stack)
{
    if (stack.empty()) return;
    std::vector<std::pair<std::string, Variable>>& top = stack.back().entries;
    const size_t capacity = top.capacity();
    if (scopes.spareEntries.size() < kMaxSpareEntryLists && capacity > 0 && capacity <= kMaxSpareCapacity) {
        // Straight into the spare slot, where the values are destroyed once the list is off
        // the stack: no list in between to move through and destroy.
        std::vector<std::pair<std::string, Variable>>& spare = scopes.spareEntries.emplace_back();
        spare.swap(top);
        stack.pop_back();
        spare.clear();
        return;
    }
    std::vector<std::pair<std::string, Variable>> entries = std::move(top);
    stack.pop_back();
}

} // namespace cobalt::scopeStack
