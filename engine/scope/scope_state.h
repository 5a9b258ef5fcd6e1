#pragma once
// The engine's scope stacks: globals, the external scope, frame scopes (one per lexical
// nesting depth of running functions), block scopes and loop scopes.

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/value/variable.h"

namespace cobalt {

/// An ordered list of (name, value) pairs, searched from the first entry. `id` is given
/// anew each time a list is pushed, so resolution caches can tell a list from its successor.
struct ScopeList {
    uint64_t id = 0;
    std::vector<std::pair<std::string, Variable>> entries;

    Variable* find(std::string_view name)
    {
        for (auto& entry : entries) {
            if (entry.first == name) return &entry.second;
        }
        return nullptr;
    }
};

struct ScopeState {
    // Globals. Slots live in a deque so their addresses stay put while new globals are
    // defined in the middle of an evaluation.
    std::unordered_map<std::string, uint64_t> globalIndex;
    std::deque<Variable> globalSlots;
    std::vector<bool> globalDefined;
    std::vector<std::string> globalNames;  // name of each slot; lets a cached slot be checked

    ScopeList external;

    std::vector<ScopeList> frames;  // indexed by frame index
    uint64_t currentFrame = 0;

    std::vector<ScopeList> blocks;  // innermost last
    size_t blockBase = 0;           // first block scope of the running call

    std::vector<ScopeList> loops;   // innermost last

    // Emptied entry lists of popped block and loop scopes, kept with their capacity so that
    // pushing a scope (every script call, every loop) does not allocate.
    std::vector<std::vector<std::pair<std::string, Variable>>> spareEntries;

    uint64_t nextScopeId = 1;
};

} // namespace cobalt
