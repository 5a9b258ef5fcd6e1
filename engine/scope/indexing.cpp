// container[key] for reading and writing: arrays (1-based, grown on write, promoted to tables
// by keys an array cannot hold), tables (text keys) and strings (bytes and methods).

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/scope/scope_lookup.h"
#include "engine/value/array_growth.h"

namespace cobalt {

namespace {

// Writing past the end fills the gap with "not"; a gap this large is a mistake in the script
// (a[2000000000] = x), not an array it means to build, and would exhaust memory.
constexpr size_t kMaxArrayGap = size_t{1} << 24;

// An int, or a float that is finite, whole and inside the int32 range.
bool integralIndex(const Variable& key, int32_t& out)
{
    if (key.type == VarType::Int) {
        out = key.asInt();
        return true;
    }
    if (key.type != VarType::Float) return false;
    const double value = key.asFloat();
    if (!std::isfinite(value) || std::trunc(value) != value) return false;
    if (value < -2147483648.0 || value > 2147483647.0) return false;
    out = static_cast<int32_t>(value);
    return true;
}

[[noreturn]] void failNotIndexable()
{
    fail("Indexing requires an array, table, or string");
}

// s["upper"] binds the string library's function to the string: calling the result calls
// the function with the string prepended to the arguments.
Variable stringMethod(CobaltScript& engine, const std::string& text, const std::string& methodName)
{
    uint64_t slot = 0;
    if (!findGlobalSlot(engine.scopes, "string", slot) || !globalSlotDefined(engine.scopes, slot)) return Variable();
    const Variable library = engine.scopes.globalSlots[slot];
    if (library.type != VarType::Table) return Variable();
    const auto found = library.asTable()->map.find(methodName);
    if (found == library.asTable()->map.end() || found->second.type != VarType::Function) return Variable();

    auto bound = std::make_shared<ScriptCallable>();
    bound->isNative = true;
    const CallableRef& method = found->second.asCallable();
    bound->name = method ? method->name : "string." + methodName;
    bound->native = [engine = &engine, receiver = Variable(text), function = found->second](NativeArgs args) {
        std::vector<Variable> full;
        full.reserve(args.size() + 1);
        full.push_back(receiver);
        full.insert(full.end(), args.begin(), args.end());
        return engine->invokeCallableFast(function, full.data(), full.size());
    };
    return Variable(CallableRef(std::move(bound)));
}

Variable readString(CobaltScript& engine, const std::string& text, const Variable& key)
{
    if (key.type == VarType::Int) {
        const int32_t i = key.asInt();
        if (i < 1 || static_cast<size_t>(i) > text.size()) return Variable();
        return Variable(std::string(1, text[static_cast<size_t>(i) - 1]));
    }
    if (key.type == VarType::String) return stringMethod(engine, text, key.asString());
    fail("String index must be an int or string method name");
}

void writeString(std::string& text, const Variable& key, const Variable& value)
{
    if (key.type != VarType::Int) fail("String index must be an int");
    if (value.type != VarType::String) fail("String element assignment requires a string value");
    if (value.asString().size() != 1) fail("String element assignment requires a single-character string");
    const int32_t i = key.asInt();
    if (i < 1 || static_cast<size_t>(i) > text.size()) fail("String index out of range");
    text[static_cast<size_t>(i) - 1] = value.asString().front();
}

// A missing key's new entry ("not"), or the failure when it may not be created.
Variable& insertTableEntry(ScriptTable& table, std::string key, bool create)
{
    if (!create) fail("Table key not found: " + key);
    Variable& entry = table.map.emplace(std::move(key), Variable()).first->second;
    CobaltScript::bumpTableVersion(table);
    return entry;
}

// The table entry for the key text `key`, inserted as "not" when missing and `create` is set.
Variable& tableEntry(ScriptTable& table, std::string key, bool create)
{
    const auto found = table.map.find(key);
    if (found != table.map.end()) return found->second;
    return insertTableEntry(table, std::move(key), create);
}

// The same for a key value: a string key is looked up as it is, and copied only to be inserted.
Variable& tableEntry(const CobaltScript& engine, ScriptTable& table, const Variable& key, bool create)
{
    if (key.type != VarType::String) return tableEntry(table, engine.keyToString(key), create);
    const auto found = table.map.find(key.asString());
    if (found != table.map.end()) return found->second;
    return insertTableEntry(table, key.asString(), create);
}

void growArray(ScriptArray& array, int32_t index)
{
    const size_t wanted = static_cast<size_t>(index);
    if (wanted - array.items.size() > kMaxArrayGap) fail("Array index too far beyond the end of the array");
    if (wanted == array.items.size() + 1) makeRoomForOneMore(array.items);
    array.items.resize(wanted);
}

// The array element at `key`, growing or promoting the array when `create` is set.
Variable& arrayElement(CobaltScript& engine, Variable& container, const Variable& key, bool create)
{
    int32_t i = 0;
    if (!integralIndex(key, i)) {
        if (!create) fail("Array index must be an int");
        CobaltScript::promoteArrayVariableToTable(container);
        return tableEntry(engine, *container.asTable(), key, true);
    }
    if (i < 1) {
        if (!create) fail("Array index must be >= 1");
        CobaltScript::promoteArrayVariableToTable(container);
        return tableEntry(*container.asTable(), std::to_string(i), true);
    }
    ScriptArray& array = *container.asArray();
    if (static_cast<size_t>(i) > array.items.size()) {
        if (!create) fail("Array index out of range");
        growArray(array, i);
    }
    return array.items[static_cast<size_t>(i) - 1];
}

} // namespace

void CobaltScript::promoteArrayVariableToTable(Variable& variable)
{
    if (variable.type != VarType::Array) return;
    // Hold the array: `variable` may itself live inside it.
    const ArrayRef array = variable.asArray();
    auto table = makeTableRef();
    table->map.reserve(array->items.size());
    for (size_t i = 0; i < array->items.size(); ++i) table->map.emplace(std::to_string(i + 1), array->items[i]);
    bumpTableVersion(*table);
    variable = Variable(TableRef(std::move(table)));
}

Variable CobaltScript::getIndexedValue(const Variable& container, const Variable& key)
{
    switch (container.type) {
    case VarType::String:
        return readString(*this, container.asString(), key);
    case VarType::Table: {
        const Variable* entry = findTableEntry(*container.asTable(), key);
        return entry ? *entry : Variable();
    }
    case VarType::Array: {
        const auto& items = container.asArray()->items;
        int32_t i = 0;
        if (!integralIndex(key, i) || i < 1 || static_cast<size_t>(i) > items.size()) return Variable();
        return items[static_cast<size_t>(i) - 1];
    }
    default:
        failNotIndexable();
    }
}

void CobaltScript::setIndexedValue(Variable& container, const Variable& key, Variable value, bool create)
{
    switch (container.type) {
    case VarType::String:
        writeString(container.asString(), key, value);
        return;
    case VarType::Table:
        tableEntry(*this, *container.asTable(), key, create) = std::move(value);
        return;
    case VarType::Array:
        arrayElement(*this, container, key, create) = std::move(value);
        return;
    default:
        failNotIndexable();
    }
}

Variable& CobaltScript::getIndexedValueMutable(Variable& container, const Variable& key, bool create)
{
    switch (container.type) {
    case VarType::Table:
        return tableEntry(*this, *container.asTable(), key, create);
    case VarType::Array:
        return arrayElement(*this, container, key, create);
    case VarType::String:
        fail("String elements cannot be indexed for assignment");
    default:
        failNotIndexable();
    }
}

bool CobaltScript::prefersArrayStorage(const Variable& key) const
{
    int32_t i = 0;
    return integralIndex(key, i) && i > 0;
}

int32_t CobaltScript::arrayLength(const Variable& value)
{
    constexpr size_t kMax = static_cast<size_t>(std::numeric_limits<int32_t>::max());
    switch (value.type) {
    case VarType::String:
        return static_cast<int32_t>(std::min(value.asString().size(), kMax));
    case VarType::Array:
        return static_cast<int32_t>(std::min(value.asArray()->items.size(), kMax));
    case VarType::Table:
        return numericTableLength(value.asTable());
    default:
        fail("len(x) expects an array, table, or string");
    }
}

const Variable* CobaltScript::findTableEntry(const ScriptTable& table, const Variable& key) const
{
    const auto found = key.type == VarType::String ? table.map.find(key.asString()) : table.map.find(keyToString(key));
    return found == table.map.end() ? nullptr : &found->second;
}

std::string CobaltScript::keyToString(const Variable& key) const
{
    switch (key.type) {
    case VarType::Int:
        return std::to_string(key.asInt());
    case VarType::Float:
        return formatFloat(key.asFloat());
    case VarType::String:
        return key.asString();
    case VarType::Bool:
        return key.asBool() ? "true" : "false";
    default:
        fail("Table key must be string, number, or bool");
    }
}

} // namespace cobalt
