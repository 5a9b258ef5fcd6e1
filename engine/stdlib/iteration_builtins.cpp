// Container iteration and measuring: pairs, ipairs, next, select and len.

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/stdlib/core_builtins.h"

namespace cobalt::builtins {
namespace {

Variable makePair(Variable first, Variable second)
{
    return Variable::makeArray(std::vector<Variable>{std::move(first), std::move(second)});
}

/// (index, element) for every element of an array.
Variable arrayPairs(const ScriptArray& array)
{
    std::vector<Variable> pairs;
    pairs.reserve(array.items.size());
    for (size_t i = 0; i < array.items.size() && i < static_cast<size_t>(std::numeric_limits<int32_t>::max()); ++i) {
        pairs.push_back(makePair(Variable(static_cast<int32_t>(i + 1)), array.items[i]));
    }
    return Variable::makeArray(std::move(pairs));
}

/// The index a key names in an array, or -1 when it names none (not an integral number).
int64_t integralIndex(const Variable& key)
{
    if (key.type == VarType::Int) return key.asInt();
    if (key.type == VarType::Float) {
        const float value = key.asFloat();
        if (std::isfinite(value) && std::trunc(value) == value && value >= -2147483648.0f && value < 2147483648.0f) {
            return static_cast<int64_t>(value);
        }
    }
    return -1;
}

Variable nextInArray(const ScriptArray& array, const Variable* key)
{
    int64_t index = 0;
    if (key && !key->isNot()) {
        index = integralIndex(*key);
        if (index < 0) return Variable();
    }
    if (index >= static_cast<int64_t>(array.items.size())) return Variable();
    return Variable::makeMulti({Variable(static_cast<int32_t>(index + 1)), array.items[static_cast<size_t>(index)]});
}

Variable nextInTable(CobaltScript& engine, const TableRef& table, const Variable* key)
{
    size_t position = 0;
    if (key && !key->isNot()) {
        const std::string text = engine.keyToString(*key);
        const auto& index = engine.getIterationTableKeyIndex(table);
        auto found = index.find(text);
        if (found == index.end()) return Variable();
        position = found->second + 1;
    }
    const std::vector<std::string>& keys = engine.getIterationTableKeys(table);
    if (position >= keys.size()) return Variable();
    auto entry = table->map.find(keys[position]);
    if (entry == table->map.end()) return Variable();
    const std::vector<Variable>& keyValues = engine.getIterationTableKeyValues(table);
    Variable keyValue = position < keyValues.size() ? keyValues[position] : Variable(keys[position]);
    return Variable::makeMulti({std::move(keyValue), entry->second});
}

} // namespace

Variable pairs(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count != 1) fail("pairs(container) requires exactly 1 argument");
    const Variable& container = args[0];
    if (container.type == VarType::Array) return arrayPairs(*container.asArray());
    if (container.type != VarType::Table) fail("pairs(container) expects an array or table");
    const TableRef& table = container.asTable();
    // The cached key list: nothing below can run script code or change the table.
    const std::vector<std::string>& keys = engine.getIterationTableKeys(table);
    std::vector<Variable> pairs;
    pairs.reserve(keys.size());
    for (const std::string& key : keys) {
        auto entry = table->map.find(key);
        if (entry != table->map.end()) pairs.push_back(makePair(Variable(key), entry->second));
    }
    return Variable::makeArray(std::move(pairs));
}

Variable ipairs(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count != 1) fail("ipairs(container) requires exactly 1 argument");
    const Variable& container = args[0];
    if (container.type == VarType::Array) return arrayPairs(*container.asArray());
    if (container.type != VarType::Table) fail("ipairs(container) expects an array or table");
    // The keys "1" up to the first missing one: exactly the cached numeric length.
    const int32_t length = engine.numericTableLength(container.asTable());
    const ScriptTable& table = *container.asTable();
    std::vector<Variable> pairs;
    pairs.reserve(static_cast<size_t>(length));
    for (int32_t i = 1; i <= length; ++i) {
        auto entry = table.map.find(std::to_string(i));
        if (entry == table.map.end()) break;
        pairs.push_back(makePair(Variable(i), entry->second));
        if (i == std::numeric_limits<int32_t>::max()) break;
    }
    return Variable::makeArray(std::move(pairs));
}

Variable next(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count < 1 || count > 2) fail("next(container[, key]) requires 1 or 2 arguments");
    const Variable* key = count == 2 ? &args[1] : nullptr;
    const Variable& container = args[0];
    if (container.type == VarType::Array) return nextInArray(*container.asArray(), key);
    if (container.type == VarType::Table) return nextInTable(engine, container.asTable(), key);
    fail("next(container[, key]) expects an array or table");
}

Variable select(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count < 2) fail("select(index, values...) requires at least 2 arguments");
    if (args[0].type != VarType::Int) fail("select(index, values...) requires an integer index");
    const int32_t index = args[0].asInt();
    if (index < 1) fail("select index must be >= 1");

    const Variable* first = args + 1;
    const Variable* last = args + count;
    if (count == 2 && args[1].type == VarType::Array && args[1].asArray()) {
        const auto& items = args[1].asArray()->items;
        first = items.data();
        last = items.data() + items.size();
    } else if (count == 2 && args[1].type == VarType::Multi && args[1].asMulti()) {
        const auto& values = args[1].asMulti()->values;
        first = values.data();
        last = values.data() + values.size();
    }
    const auto available = static_cast<size_t>(last - first);
    if (static_cast<size_t>(index) > available) return Variable();
    return Variable::makeMulti(std::vector<Variable>(first + (index - 1), last));
}

Variable len(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count != 1) fail("len(x) requires exactly 1 argument");
    return Variable(engine.arrayLength(args[0]));
}

} // namespace cobalt::builtins
