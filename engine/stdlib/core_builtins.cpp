// Conversions and checks (toString, toNumber, typeOf, assert), error, print, the clock and
// collectGarbage.

#include "engine/stdlib/core_builtins.h"

#include <chrono>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt::builtins {
namespace {

int digitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

/// Digits of `base` only (at least one), accumulated without overflow; false otherwise.
bool parseUnsignedDigits(std::string_view text, int base, uint64_t& out)
{
    if (text.empty()) return false;
    uint64_t value = 0;
    for (char c : text) {
        const int digit = digitValue(c);
        if (digit >= base) return false;
        const auto step = static_cast<uint64_t>(digit);
        if (value > (std::numeric_limits<uint64_t>::max() - step) / static_cast<uint64_t>(base)) return false;
        value = value * static_cast<uint64_t>(base) + step;
    }
    out = value;
    return true;
}

/// Base 10: a text with ".", "e" or "E" is a float, any other a whole decimal integer. An
/// integer beyond the int range becomes the nearest float rather than being lost.
Variable parseDecimalNumber(const std::string& text)
{
    if (text.find_first_of(".eE") != std::string::npos) {
        float value = 0.0f;
        return parseFloatStrict(text, value) ? Variable(value) : Variable();
    }
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    uint64_t magnitude = 0;
    if (!parseUnsignedDigits(digits, 10, magnitude)) {
        // All digits but too many for 64 bits: still a number, just a large one.
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return Variable();
        float value = 0.0f;
        return parseFloatStrict(text, value) ? Variable(value) : Variable();
    }
    const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
    if (magnitude <= static_cast<uint64_t>(limit)) {
        const int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
        return Variable(static_cast<int32_t>(value));
    }
    float value = 0.0f;
    return parseFloatStrict(text, value) ? Variable(value) : Variable();
}

/// Other bases: "-digits" must fit the int range; plain digits below 2^31 give an int, larger
/// ones a pointer value holding the full unsigned number.
Variable parseBasedNumber(const std::string& text, int base)
{
    std::string_view digits = text;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (negative || (!digits.empty() && digits.front() == '+')) digits.remove_prefix(1);
    uint64_t magnitude = 0;
    if (!parseUnsignedDigits(digits, base, magnitude)) return Variable();
    if (negative) {
        if (magnitude > (uint64_t{1} << 31)) return Variable();
        return Variable(static_cast<int32_t>(-static_cast<int64_t>(magnitude)));
    }
    if (magnitude < (uint64_t{1} << 31)) return Variable(static_cast<int32_t>(magnitude));
    return Variable(reinterpret_cast<void*>(static_cast<uintptr_t>(magnitude)));
}

} // namespace

Variable print(CobaltScript& engine, const Variable* args, size_t count)
{
    std::string line;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) line += ' ';
        args[i].appendTo(line);
    }
    if (engine.printHandler) {
        engine.printHandler(line);
    } else {
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    return Variable();
}

int32_t elapsedMilliseconds(const CobaltScript& engine)
{
    const auto elapsed = std::chrono::steady_clock::now() - engine.calls.startTime;
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    return saturateToInt32(static_cast<double>(milliseconds));
}

Variable getTimeMs(CobaltScript& engine, const Variable* /*args*/, size_t count)
{
    if (count != 0) fail("getTimeMs function takes no arguments");
    return Variable(elapsedMilliseconds(engine));
}

Variable toString(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count != 1) fail("toString function requires exactly 1 argument");
    return Variable(args[0].toString());
}

Variable toNumber(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count < 1 || count > 2) fail("toNumber(x[, base]) requires 1 or 2 arguments");
    int32_t base = 10;
    if (count == 2) {
        base = toInt(args[1]);
        if (base < 2 || base > 36) return Variable();
    }
    const Variable& value = args[0];
    switch (value.type) {
    case VarType::Int:
    case VarType::Float: return value;
    case VarType::Bool: return Variable(int32_t{value.asBool() ? 1 : 0});
    case VarType::String:
        return base == 10 ? parseDecimalNumber(value.asString()) : parseBasedNumber(value.asString(), base);
    default: return Variable();
    }
}

Variable typeOf(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count != 1) fail("typeOf(x) requires exactly 1 argument");
    switch (args[0].type) {
    case VarType::Not: return Variable("not");
    case VarType::Int:
    case VarType::Float: return Variable("number");
    case VarType::String: return Variable("string");
    case VarType::Bool: return Variable("boolean");
    case VarType::Raw:
    case VarType::Pointer: return Variable("userdata");
    case VarType::Array:
    case VarType::Multi:
    case VarType::Table: return Variable("table");
    case VarType::Function: return Variable("function");
    }
    return Variable("unknown");
}

Variable assertValue(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count == 0) fail("assert requires at least 1 argument");
    if (args[0].truthy()) {
        if (count == 1) return args[0];
        return Variable::makeMulti(std::vector<Variable>(args, args + count));
    }
    engine.raiseScriptErrorSoft(count == 1 ? std::string("assertion failed!") : args[1].toString());
    return Variable();
}

Variable raiseError(CobaltScript& engine, const Variable* args, size_t count)
{
    engine.raiseScriptErrorSoft(count == 0 ? std::string("error") : args[0].toString());
    return Variable();
}

Variable collectGarbage(CobaltScript& engine, const Variable* /*args*/, size_t /*count*/)
{
    engine.containers.collectCycles();
    auto& entries = engine.tableCache.entries;
    for (auto it = entries.begin(); it != entries.end();) {
        it = it->second.table.expired() ? entries.erase(it) : std::next(it);
    }
    return Variable();
}

} // namespace cobalt::builtins
