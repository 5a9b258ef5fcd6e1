#pragma once
// The one value type of CobaltScript. Every literal, variable, argument, return value,
// array element and table entry is a Variable: a kind tag plus a payload that always agrees
// with it. Strings and byte vectors are owned and copied; arrays, tables, functions and
// multivalues are shared by reference.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "engine/value/block_cache.h"
#include "engine/value/container_registry.h"

namespace cobalt {

enum class VarType : uint32_t {
    Not = 0,
    Int = 1,
    Float = 2,
    String = 3,
    Raw = 4,
    Bool = 5,
    Pointer = 6,
    Array = 7,
    Multi = 8,
    Table = 9,
    Function = 10,
};

struct Variable;
struct ScriptArray;
struct ScriptTable;
struct MultiResult;
struct ScriptCallable;

using ArrayRef = std::shared_ptr<ScriptArray>;
using TableRef = std::shared_ptr<ScriptTable>;
using MultiRef = std::shared_ptr<MultiResult>;
using CallableRef = std::shared_ptr<ScriptCallable>;
using RawBytes = std::vector<uint8_t>;

struct Variable {
    // Alternatives in the order of the kind codes that use them.
    using Payload = std::variant<int32_t, float, std::string, RawBytes, bool, void*, ArrayRef, TableRef,
                                 CallableRef, MultiRef>;

    VarType type = VarType::Not;
    Payload value = int32_t{0};

    Variable() = default;
    Variable(int32_t i) : type(VarType::Int), value(i) {}
    Variable(float f) : type(VarType::Float), value(f) {}
    Variable(bool b) : type(VarType::Bool), value(b) {}
    Variable(std::string s) : type(VarType::String), value(std::move(s)) {}
    Variable(const char* s) : type(VarType::String), value(std::string(s)) {}
    Variable(std::string_view s) : type(VarType::String), value(std::string(s)) {}
    Variable(RawBytes bytes) : type(VarType::Raw), value(std::move(bytes)) {}
    Variable(void* p) : type(VarType::Pointer), value(p) {}
    Variable(ArrayRef a) : type(VarType::Array), value(std::move(a)) {}
    Variable(TableRef t) : type(VarType::Table), value(std::move(t)) {}
    Variable(CallableRef c) : type(VarType::Function), value(std::move(c)) {}
    Variable(MultiRef m) : type(VarType::Multi), value(std::move(m)) {}

    Variable(const Variable&) = default;
    Variable(Variable&&) noexcept = default;
    Variable& operator=(const Variable&) = default;
    /// Values move on every return, store and sort step. The commonest moves (an int over an
    /// int, a container over an empty or held container) are done here in place; the
    /// variant's own assignment would dispatch through a table of functions.
    Variable& operator=(Variable&& other) noexcept
    {
        type = other.type;
        if (auto* number = std::get_if<int32_t>(&value)) {
            if (const auto* incoming = std::get_if<int32_t>(&other.value)) {
                *number = *incoming;
                return *this;
            }
        } else if (auto* table = std::get_if<TableRef>(&value)) {
            if (auto* incoming = std::get_if<TableRef>(&other.value)) {
                *table = std::move(*incoming);
                return *this;
            }
        } else if (auto* array = std::get_if<ArrayRef>(&value)) {
            if (auto* incoming = std::get_if<ArrayRef>(&other.value)) {
                *array = std::move(*incoming);
                return *this;
            }
        }
        value = std::move(other.value);
        return *this;
    }

    static Variable makeTable();
    static Variable makeArray();
    static Variable makeArray(std::vector<Variable> items);
    static Variable makeMulti(std::vector<Variable>&& values);

    /// The text form: "not", decimal ints, six-decimal floats, "[a, b]", "{k: v}", ...
    /// Containers that contain themselves print "[...]" / "{...}" where they recur.
    std::string toString() const;
    /// Appends the text form to out (the allocation-light form used by concatenation).
    void appendTo(std::string& out) const;

    bool isNot() const { return type == VarType::Not; }
    bool isNumeric() const { return type == VarType::Int || type == VarType::Float || type == VarType::Bool; }
    /// Only "not" and false are false.
    bool truthy() const
    {
        if (type == VarType::Not) return false;
        if (type == VarType::Bool) return std::get<bool>(value);
        return true;
    }

    // Unchecked accessors: the caller has tested the type.
    int32_t asInt() const { return std::get<int32_t>(value); }
    float asFloat() const { return std::get<float>(value); }
    bool asBool() const { return std::get<bool>(value); }
    void* asPointer() const { return std::get<void*>(value); }
    const std::string& asString() const { return std::get<std::string>(value); }
    std::string& asString() { return std::get<std::string>(value); }
    const RawBytes& asRaw() const { return std::get<RawBytes>(value); }
    const ArrayRef& asArray() const { return std::get<ArrayRef>(value); }
    const TableRef& asTable() const { return std::get<TableRef>(value); }
    const CallableRef& asCallable() const { return std::get<CallableRef>(value); }
    const MultiRef& asMulti() const { return std::get<MultiRef>(value); }
};

/// to = from, copying, for a variable that already exists: an int (or the absent value) over
/// an int payload is a plain store, and a text over a text reuses the held text's capacity;
/// everything else takes the general assignment. What binding a loop variable or a parameter
/// does on every pass or call.
inline void copyValueInto(const Variable& from, Variable& to)
{
    if (const auto* number = std::get_if<int32_t>(&from.value)) {
        if (auto* held = std::get_if<int32_t>(&to.value)) {
            *held = *number;
            to.type = from.type;
            return;
        }
    } else if (const auto* text = std::get_if<std::string>(&from.value)) {
        if (auto* held = std::get_if<std::string>(&to.value)) {
            held->assign(*text);
            to.type = from.type;
            return;
        }
    }
    to = from;
}

/// to = from for a variable or element that already exists. An int, float or bool (or the
/// absent value) over a payload of the same kind is a plain store, as in a pass over numbers;
/// everything else takes the general assignment.
inline void storeValueInto(Variable&& from, Variable& to)
{
    if (from.value.index() == to.value.index()) {
        if (const int32_t* number = std::get_if<int32_t>(&from.value)) {
            to.type = from.type;
            *std::get_if<int32_t>(&to.value) = *number;
            return;
        }
        if (const float* real = std::get_if<float>(&from.value)) {
            to.type = from.type;
            *std::get_if<float>(&to.value) = *real;
            return;
        }
        if (const bool* flag = std::get_if<bool>(&from.value)) {
            to.type = from.type;
            *std::get_if<bool>(&to.value) = *flag;
            return;
        }
    }
    to = std::move(from);
}

// Containers release their nested containers without recursing, so dropping a deeply
// nested value cannot exhaust the native stack. Each one is entered in the registry of the
// engine active on its thread (container_registry.h).
struct ScriptArray : ContainerLink {
    ScriptArray() noexcept : ContainerLink(ContainerKind::Array) {}
    ~ScriptArray();
    std::vector<Variable> items;
};

/// A table: text keys to values. `version` counts key additions and removals so that
/// cached key lists and lengths know when to rebuild; value updates leave it alone.
/// `id` is unique for the engine's life, so caches never confuse a freed table with a new
/// one that happens to get the same address.
/// A table's entries, allocated through the block cache (tables come and go by the thousand).
using TableMap = std::unordered_map<std::string, Variable, std::hash<std::string>, std::equal_to<std::string>,
                                    blockCache::Allocator<std::pair<const std::string, Variable>>>;

struct ScriptTable : ContainerLink {
    ScriptTable();
    ~ScriptTable();
    ScriptTable(const ScriptTable&) = delete;
    ScriptTable& operator=(const ScriptTable&) = delete;
    TableMap map;
    uint64_t version = 0;
    const uint64_t id;
};

struct MultiResult : ContainerLink {
    MultiResult() noexcept : ContainerLink(ContainerKind::Multi) {}
    ~MultiResult();
    std::vector<Variable> values;
};

/// A new empty table; the table itself comes from the block cache as its entries do.
TableRef makeTableRef();

/// Type name of a kind code ("not", "int", ..., "unknown").
const char* typeName(VarType type);

/// Both numeric and equal as doubles; otherwise same kind and same bytes / same shared object.
bool variablesEqual(const Variable& a, const Variable& b);
/// -1, 0 or 1; fails with "Cannot compare X with Y" unless both numeric or both strings.
int compareVariables(const Variable& a, const Variable& b);

/// Numeric conversions; non-numeric kinds fail with "Expected a numeric value".
double toDouble(const Variable& v);
/// Floats truncate toward zero and saturate to the 32-bit range; NaN gives 0.
int32_t toInt(const Variable& v);
/// Saturating, NaN-safe double to int32 conversion shared by every path.
int32_t saturateToInt32(double d);

/// Six-decimal fixed notation of a float (locale independent): 1.5 -> "1.500000".
std::string formatFloat(float f);
void appendFloat(std::string& out, float f);

} // namespace cobalt
