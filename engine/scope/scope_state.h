#pragma once
// The engine's scope stacks: globals, the external scope, frame scopes (one per lexical
// nesting depth of running functions), block scopes and loop scopes.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/lexer/token_analysis.h"
#include "engine/scope/global_slots.h"
#include "engine/value/variable.h"

namespace cobalt {

/// Whether a stored name equals a looked-up one. Variable names are short and often differ
/// only in their first byte (i, j, x): a short name is compared byte by byte in place, which
/// costs less than the call to the library comparison that longer ones get.
inline bool sameName(const std::string& stored, std::string_view name)
{
    const size_t size = stored.size();
    if (size != name.size()) return false;
    const char* a = stored.data();
    const char* b = name.data();
    if (size <= 16) {
        for (size_t i = 0; i < size; ++i) {
            if (a[i] != b[i]) return false;
        }
        return true;
    }
    return a[0] == b[0] && std::memcmp(a, b, size) == 0;
}

/// Hashing and equality that accept a string_view, so the globals can be searched by a
/// token's text without building a std::string for every look-up.
struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
};
struct NameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
};

/// An ordered list of (name, value) pairs, searched from the first entry. `id` is given
/// anew each time a list is pushed, so resolution caches can tell a list from its successor.
struct ScopeList {
    uint64_t id = 0;
    std::vector<std::pair<std::string, Variable>> entries;
    // One bit per name ever added (scopeNameBit): a clear bit proves the name is absent, so the
    // look-ups that must make sure a scope does not hide a name skip most lists without
    // comparing a single name. Entries are only ever added through add(); a bit left set by
    // an entry that went away only costs a comparison.
    uint64_t nameMask = 0;
    // The name bits of every list below this one in its stack, taken when it was pushed.
    // Names are only ever added to the list on top of a stack, so the lists below a list
    // cannot gain a name while it stands: this stays a superset of what they hold, and
    // `belowMask | nameMask` of the top list tells for a whole stack at once that a name is
    // not in it.
    uint64_t belowMask = 0;

    bool mayHold(std::string_view name) const { return (nameMask & scopeNameBit(name)) != 0; }

    void add(std::string_view name, Variable value) { add(name, scopeNameBit(name), std::move(value)); }
    /// The same with the name's bit already known (a token's nameBit).
    void add(std::string_view name, uint64_t bit, Variable value)
    {
        nameMask |= bit;
        entries.emplace_back(std::string(name), std::move(value));
    }

    /// Sets a name to a copy of `value` (update or append), copying the value once, straight
    /// into its place: what binding an argument to a parameter needs on every call.
    void setCopy(std::string_view name, const Variable& value)
    {
        const uint64_t bit = scopeNameBit(name);
        if ((nameMask & bit) != 0) {
            for (auto& entry : entries) {
                if (sameName(entry.first, name)) {
                    entry.second = value;
                    return;
                }
            }
        }
        nameMask |= bit;
        entries.emplace_back(std::piecewise_construct, std::forward_as_tuple(name), std::forward_as_tuple(value));
    }

    Variable* find(std::string_view name)
    {
        if (!mayHold(name)) return nullptr;
        for (auto& entry : entries) {
            if (sameName(entry.first, name)) return &entry.second;
        }
        return nullptr;
    }
};

struct ScopeState {
    // Globals: each name's slot index, given once for the life of the engine, and the slots.
    std::unordered_map<std::string, uint64_t, NameHash, NameEqual> globalIndex;
    GlobalSlots globalSlots;

    ScopeList external;

    std::vector<ScopeList> frames;  // indexed by frame index
    uint64_t currentFrame = 0;

    std::vector<ScopeList> blocks;  // innermost last
    size_t blockBase = 0;           // first block scope of the running call

    std::vector<ScopeList> loops;   // innermost last

    // Emptied entry lists of popped block and loop scopes, kept with their capacity so that
    // pushing a scope (every script call, every loop) does not allocate.
    std::vector<std::vector<std::pair<std::string, Variable>>> spareEntries;

    // Scope ids are never reused, and the engines of one process count in ranges of their
    // own: a resolution cache recorded by one engine's look-up can then never take a list of
    // another engine for the list it found (see cached_resolution.h).
    uint64_t nextScopeId = firstScopeIdOfEngine();
    // The identity a resolution cache records with a global slot: the engine's own, one below
    // its first scope id, so no scope list ever carries it. A slot recorded under it names the
    // same global for the life of this engine.
    const uint64_t globalsId = nextScopeId - 1;

    static uint64_t firstScopeIdOfEngine()
    {
        static std::atomic<uint64_t> engines{0};
        return ((engines.fetch_add(1, std::memory_order_relaxed) + 1) << 40) + 1;
    }

    /// The name bits of a whole block or loop stack (see ScopeList::belowMask).
    static uint64_t stackMask(const std::vector<ScopeList>& stack)
    {
        return stack.empty() ? 0 : (stack.back().belowMask | stack.back().nameMask);
    }
};

} // namespace cobalt
