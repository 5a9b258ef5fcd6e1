// Per-table cached key lists and numeric lengths. Entries are keyed by the table's id (never
// reused), hold only weak references, and are rebuilt when the table's version (bumped on
// every key addition or removal) no longer matches the version they were built for.

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/cobalt_script.h"

namespace cobalt {

namespace {

constexpr size_t kPruneMinimumEntries = 256;
constexpr uint64_t kPruneInterval = 64;

TableCacheEntry& cacheEntryFor(CobaltScript& engine, const TableRef& table)
{
    engine.maybePruneDeadTableCacheEntries();
    TableCacheEntry& entry = engine.tableCache.entries[table->id];
    if (entry.table.expired()) entry.table = table;
    return entry;
}

void buildSortedKeys(const ScriptTable& table, TableCacheEntry& entry)
{
    entry.sortedKeys.clear();
    entry.sortedKeys.reserve(table.map.size());
    for (const auto& item : table.map) entry.sortedKeys.push_back(item.first);
    // std::string compares bytes as unsigned char: plain byte-wise order.
    std::sort(entry.sortedKeys.begin(), entry.sortedKeys.end());
    entry.sortedVersion = table.version;
}

const std::vector<std::string>& sortedKeysOf(const TableRef& table, TableCacheEntry& entry)
{
    if (entry.sortedVersion != table->version) buildSortedKeys(*table, entry);
    return entry.sortedKeys;
}

TableCacheEntry& iterationEntry(CobaltScript& engine, const TableRef& table)
{
    TableCacheEntry& entry = cacheEntryFor(engine, table);
    if (entry.iterationVersion == table->version && entry.iteration) return entry;
    const std::vector<std::string>& sorted = sortedKeysOf(table, entry);
    // A new list, never an update in place: loops that started on the old one keep it.
    auto iteration = std::make_shared<TableIterationKeys>();
    iteration->keys = sorted;
    iteration->keyValues.reserve(sorted.size());
    entry.iterationKeyIndex.clear();
    entry.iterationKeyIndex.reserve(sorted.size());
    iteration->values.reserve(sorted.size());
    for (size_t i = 0; i < sorted.size(); ++i) {
        iteration->keyValues.push_back(CobaltScript::iterationKeyValue(sorted[i]));
        entry.iterationKeyIndex.emplace(sorted[i], i);
        const auto found = table->map.find(sorted[i]);
        iteration->values.push_back(found == table->map.end() ? nullptr : &found->second);
    }
    iteration->version = table->version;
    entry.iteration = std::move(iteration);
    entry.iterationVersion = table->version;
    return entry;
}

} // namespace

Variable CobaltScript::iterationKeyValue(const std::string& key)
{
    int32_t whole = 0;
    if (parseIntStrict(key, whole) && std::to_string(whole) == key) return Variable(whole);
    float number = 0.0f;
    if (parseFloatStrict(key, number) && std::isfinite(number) && formatFloat(number) == key) return Variable(number);
    return Variable(key);
}

int32_t CobaltScript::numericTableLength(const TableRef& table)
{
    if (!table) return 0;
    TableCacheEntry& entry = cacheEntryFor(*this, table);
    if (entry.lengthVersion != table->version) {
        int32_t length = 0;
        while (length < std::numeric_limits<int32_t>::max() && table->map.count(std::to_string(length + 1)) != 0) {
            ++length;
        }
        entry.numericLength = length;
        entry.lengthVersion = table->version;
    }
    return entry.numericLength;
}

void CobaltScript::recordNumericTableLength(const TableRef& table, int32_t length)
{
    if (!table) return;
    TableCacheEntry& entry = cacheEntryFor(*this, table);
    entry.numericLength = length;
    entry.lengthVersion = table->version;
}

const std::vector<std::string>& CobaltScript::getSortedTableKeys(const TableRef& table)
{
    static const std::vector<std::string> kNoKeys;
    if (!table) return kNoKeys;
    return sortedKeysOf(table, cacheEntryFor(*this, table));
}

std::shared_ptr<const TableIterationKeys> CobaltScript::sharedIterationKeys(const TableRef& table)
{
    static const auto kNoKeys = std::make_shared<const TableIterationKeys>();
    if (!table) return kNoKeys;
    return iterationEntry(*this, table).iteration;
}

const std::vector<std::string>& CobaltScript::getIterationTableKeys(const TableRef& table)
{
    static const std::vector<std::string> kNoKeys;
    if (!table) return kNoKeys;
    return iterationEntry(*this, table).iteration->keys;
}

const std::vector<Variable>& CobaltScript::getIterationTableKeyValues(const TableRef& table)
{
    static const std::vector<Variable> kNoValues;
    if (!table) return kNoValues;
    return iterationEntry(*this, table).iteration->keyValues;
}

const std::unordered_map<std::string, size_t>& CobaltScript::getIterationTableKeyIndex(const TableRef& table)
{
    static const std::unordered_map<std::string, size_t> kNoIndex;
    if (!table) return kNoIndex;
    return iterationEntry(*this, table).iterationKeyIndex;
}

void CobaltScript::maybePruneDeadTableCacheEntries()
{
    ++tableCache.useCounter;
    if (tableCache.entries.size() < kPruneMinimumEntries || tableCache.useCounter % kPruneInterval != 0) return;
    std::erase_if(tableCache.entries, [](const auto& item) { return item.second.table.expired(); });
}

} // namespace cobalt
