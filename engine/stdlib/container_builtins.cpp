// The global container functions: array, push, pop, reserve, get, set, clear, erase,
// contains, keys and values. Arrays and tables are shared, so every change here is made to
// the shared object and seen through every variable that refers to it.

#include "engine/stdlib/container_builtins.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/value/array_growth.h"

namespace cobalt::builtins {
namespace {

// reserve() is only a hint about future growth; a script asking for gigabytes gets this
// much and the array still grows past it on demand.
constexpr int64_t kMaxReservedElements = int64_t{1} << 22;

int32_t countAsInt(size_t size)
{
    return static_cast<int32_t>(std::min<size_t>(size, std::numeric_limits<int32_t>::max()));
}

/// Whether indexed assignment would store `key` in the array itself (an int >= 1, or a
/// whole float of that range) rather than turn the array into a table.
bool isArrayPosition(const Variable& key)
{
    if (key.type == VarType::Int) return key.asInt() >= 1;
    if (key.type != VarType::Float) return false;
    const double value = key.asFloat();
    return std::isfinite(value) && std::trunc(value) == value && value >= 1.0 && value <= 2147483647.0;
}

} // namespace

Variable newArray(CobaltScript& /*engine*/, const Variable* /*args*/, size_t count)
{
    if (count != 0) fail("array() takes no arguments");
    return Variable::makeArray();
}

Variable push(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count != 2) fail("push(array, value) requires exactly 2 arguments");
    if (args[0].type != VarType::Array) fail("push(array, value): first argument must be an array");
    auto& items = args[0].asArray()->items;
    makeRoomForOneMore(items);
    items.push_back(args[1]);
    return Variable(countAsInt(items.size()));
}

Variable pop(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count != 1) fail("pop(array) requires exactly 1 argument");
    if (args[0].type != VarType::Array) fail("pop(array): argument must be an array");
    auto& items = args[0].asArray()->items;
    if (items.empty()) fail("pop(array): array is empty");
    Variable last = std::move(items.back());
    items.pop_back();
    return last;
}

Variable reserve(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count != 2) fail("reserve(array, capacity) requires exactly 2 arguments");
    if (args[0].type != VarType::Array || !args[1].isNumeric()) fail("reserve(array, capacity) expects (array, int)");
    const int32_t capacity = toInt(args[1]);
    if (capacity < 0) fail("reserve(array, capacity): capacity must be >= 0");
    args[0].asArray()->items.reserve(static_cast<size_t>(std::min<int64_t>(capacity, kMaxReservedElements)));
    return Variable();
}

Variable get(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count < 2 || count > 3) fail("get(container, keyOrIndex[, defaultValue]) requires 2 or 3 arguments");
    Variable element = engine.getIndexedValue(args[0], args[1]);
    if (count == 3 && element.isNot()) return args[2];
    return element;
}

Variable set(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count != 3) fail("set(container, keyOrIndex, value) requires exactly 3 arguments");
    const Variable& original = args[0];
    if (original.type != VarType::Array && original.type != VarType::Table && original.type != VarType::String) {
        fail("set(container, keyOrIndex, value): container must be an array, table, or string");
    }
    // A write an array cannot hold would turn the array into a new table, but that table
    // could only replace this function's copy of the argument: the caller would never see
    // the write. Refuse it rather than lose it.
    if (original.type == VarType::Array && !isArrayPosition(args[1])) {
        fail("set(array, index, value): index must be an int >= 1");
    }
    Variable container = original;
    engine.setIndexedValue(container, args[1], args[2], true);
    // Strings are values, not shared: the changed string is the result.
    if (container.type == VarType::String) return container;
    return args[2];
}

Variable clear(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count != 1) fail("clear(container) requires exactly 1 argument");
    const Variable& container = args[0];
    if (container.type == VarType::Array) {
        // Emptied first and released afterwards, so the array is already consistent while
        // the old elements are destroyed.
        std::vector<Variable> old;
        old.swap(container.asArray()->items);
        return Variable();
    }
    if (container.type != VarType::Table) fail("clear(container): container must be an array or table");
    ScriptTable& table = *container.asTable();
    if (table.map.empty()) return Variable();
    TableMap old;
    old.swap(table.map);
    engine.bumpTableVersion(table);
    return Variable();
}

Variable erase(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count != 2) fail("erase(container, keyOrIndex) requires exactly 2 arguments");
    const Variable& container = args[0];
    if (container.type == VarType::Array) {
        if (args[1].type != VarType::Int) fail("erase(array, index): index must be an int");
        auto& items = container.asArray()->items;
        const int64_t index = args[1].asInt();
        if (index < 1 || index > static_cast<int64_t>(items.size())) return Variable(false);
        // Moved out before erasing so the element dies after the array is consistent again.
        Variable removed = std::move(items[static_cast<size_t>(index - 1)]);
        items.erase(items.begin() + (index - 1));
        return Variable(true);
    }
    if (container.type != VarType::Table) fail("erase(container, keyOrIndex): container must be an array or table");
    ScriptTable& table = *container.asTable();
    auto found = table.map.find(engine.keyToString(args[1]));
    if (found == table.map.end()) return Variable(false);
    Variable removed = std::move(found->second);
    table.map.erase(found);
    engine.bumpTableVersion(table);
    return Variable(true);
}

Variable contains(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count != 2) fail("contains(container, valueOrKey) requires exactly 2 arguments");
    const Variable& container = args[0];
    if (container.type == VarType::Array) {
        const auto& items = container.asArray()->items;
        const bool found = std::any_of(items.begin(), items.end(),
                                       [&](const Variable& item) { return variablesEqual(item, args[1]); });
        return Variable(found);
    }
    if (container.type != VarType::Table) fail("contains(container, valueOrKey): container must be an array or table");
    return Variable(container.asTable()->map.count(engine.keyToString(args[1])) != 0);
}

Variable keys(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count != 1 || args[0].type != VarType::Table) fail("keys(table) requires exactly 1 table argument");
    const std::vector<std::string>& sorted = engine.getSortedTableKeys(args[0].asTable());
    std::vector<Variable> result;
    result.reserve(sorted.size());
    for (const std::string& key : sorted) result.emplace_back(key);
    return Variable::makeArray(std::move(result));
}

Variable values(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count != 1) fail("values(container) requires exactly 1 argument");
    const Variable& container = args[0];
    if (container.type == VarType::Array) return Variable::makeArray(container.asArray()->items);
    if (container.type != VarType::Table) fail("values(container): container must be an array or table");
    const TableRef& table = container.asTable();
    const std::vector<std::string>& sorted = engine.getSortedTableKeys(table);
    std::vector<Variable> result;
    result.reserve(sorted.size());
    for (const std::string& key : sorted) {
        auto entry = table->map.find(key);
        if (entry != table->map.end()) result.push_back(entry->second);
    }
    return Variable::makeArray(std::move(result));
}

} // namespace cobalt::builtins
