#pragma once
// Per-table cached key lists and lengths, rebuilt only when the table's version changes.
// Entries hold weak references, so the cache never keeps a table alive.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/value/variable.h"

namespace cobalt {

inline constexpr uint64_t kNoVersion = ~uint64_t{0};

/// The keys of one version of a table in iteration order. Shared: a pairs loop holds the list
/// it started with, without a copy, while its body may change the table (and the cache).
struct TableIterationKeys {
    std::vector<std::string> keys;
    std::vector<Variable> keyValues;  // each key as a script value (an int, a float or text)
    // Each key's value in the table's map, and the table version the list was made for.
    // While the table still has that version no key has been removed (every removal bumps
    // it), so every node, and the value in it, is where it was: a loop reads the value
    // through the pointer instead of hashing the key again. Only read after that check.
    std::vector<const Variable*> values;
    uint64_t version = kNoVersion;

    /// The value of key `i` without a look-up, or null when the table has changed keys since.
    const Variable* valueIfCurrent(const ScriptTable& table, size_t i) const
    {
        return table.version == version && i < values.size() ? values[i] : nullptr;
    }
};

struct TableCacheEntry {
    std::weak_ptr<ScriptTable> table;
    uint64_t version = kNoVersion;

    std::vector<std::string> sortedKeys;
    uint64_t sortedVersion = kNoVersion;

    std::shared_ptr<const TableIterationKeys> iteration;
    std::unordered_map<std::string, size_t> iterationKeyIndex;
    uint64_t iterationVersion = kNoVersion;

    int32_t numericLength = 0;
    uint64_t lengthVersion = kNoVersion;
};

struct TableCache {
    std::unordered_map<uint64_t, TableCacheEntry> entries;  // keyed by ScriptTable::id
    uint64_t useCounter = 0;
};

} // namespace cobalt
