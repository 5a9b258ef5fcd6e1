// Type names, equality, ordering and the numeric conversions every operator relies on.

#include <cmath>
#include <string_view>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/value/variable.h"

namespace cobalt {

namespace {

int sign(int value) { return (value > 0) - (value < 0); }

const void* sharedIdentity(const Variable& v)
{
    switch (v.type) {
    case VarType::Array: return v.asArray().get();
    case VarType::Table: return v.asTable().get();
    case VarType::Function: return v.asCallable().get();
    case VarType::Multi: return v.asMulti().get();
    default: return nullptr;
    }
}

} // namespace

const char* typeName(VarType type)
{
    switch (type) {
    case VarType::Not: return "not";
    case VarType::Int: return "int";
    case VarType::Float: return "float";
    case VarType::String: return "string";
    case VarType::Raw: return "raw";
    case VarType::Bool: return "bool";
    case VarType::Pointer: return "pointer";
    case VarType::Array: return "array";
    case VarType::Multi: return "multivalue";
    case VarType::Table: return "table";
    case VarType::Function: return "function";
    }
    return "unknown";
}

bool variablesEqual(const Variable& a, const Variable& b)
{
    // int, float and bool meet as doubles, so 1 == 1.0 and true == 1.
    if (a.isNumeric() && b.isNumeric()) return toDouble(a) == toDouble(b);
    if (a.type != b.type) return false;
    switch (a.type) {
    case VarType::Not: return true;
    case VarType::String: return a.asString() == b.asString();
    case VarType::Raw: return a.asRaw() == b.asRaw();
    case VarType::Pointer: return a.asPointer() == b.asPointer();
    case VarType::Array:
    case VarType::Table:
    case VarType::Function:
    case VarType::Multi: return sharedIdentity(a) == sharedIdentity(b);
    default: return false;
    }
}

int compareVariables(const Variable& a, const Variable& b)
{
    if (a.isNumeric() && b.isNumeric()) {
        double left = toDouble(a);
        double right = toDouble(b);
        return (left > right) - (left < right);
    }
    if (a.type == VarType::String && b.type == VarType::String) {
        // char_traits<char> compares as unsigned bytes, and a prefix orders first.
        return sign(std::string_view(a.asString()).compare(b.asString()));
    }
    fail(std::string("Cannot compare ") + typeName(a.type) + " with " + typeName(b.type));
}

double toDouble(const Variable& v)
{
    switch (v.type) {
    case VarType::Int: return v.asInt();
    case VarType::Float: return v.asFloat();
    case VarType::Bool: return v.asBool() ? 1.0 : 0.0;
    default: fail("Expected a numeric value");
    }
}

int32_t saturateToInt32(double d)
{
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);  // in range: truncates toward zero
}

int32_t toInt(const Variable& v)
{
    switch (v.type) {
    case VarType::Int: return v.asInt();
    case VarType::Float: return saturateToInt32(v.asFloat());
    case VarType::Bool: return v.asBool() ? 1 : 0;
    default: fail("Expected a numeric value");
    }
}

const char* CobaltScript::typeName(VarType type) const { return cobalt::typeName(type); }

bool CobaltScript::variablesEqual(const Variable& a, const Variable& b) const { return cobalt::variablesEqual(a, b); }

int CobaltScript::compareVariables(const Variable& a, const Variable& b) const
{
    return cobalt::compareVariables(a, b);
}

} // namespace cobalt
