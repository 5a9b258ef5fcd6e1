// The simple string functions (len, upper, lower, sub, byte, char, rep), the utf8 table,
// and building the two library tables.

#include "engine/stdlib/string_library.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/stdlib/core_builtins.h"

namespace cobalt::builtins {
namespace {

bool isString(const Variable& value) { return value.type == VarType::String; }

/// An optional argument: missing, or given as the absent value.
bool isOmitted(const Variable* args, size_t count, size_t index)
{
    return index >= count || args[index].isNot();
}

/// A byte count or position as a script int (strings are far below 2^31 bytes in practice).
Variable sizeValue(size_t size) { return Variable(saturateToInt32(static_cast<double>(size))); }

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// ASCII only: the C library's mapping depends on the locale and must never see a negative
// char, and a UTF-8 byte must never be changed into another.
char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

void checkStringResultSize(size_t size, const char* function)
{
    if (size > kMaxStringResultBytes) fail(std::string(function) + ": result would be larger than 256 MiB");
}

Variable stringLen(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count != 1 || !isString(args[0])) fail("string['len'](s) requires exactly 1 string argument");
    return sizeValue(args[0].asString().size());
}

Variable stringUpper(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count != 1 || !isString(args[0])) fail("string['upper'](s) requires exactly 1 string argument");
    std::string text = args[0].asString();
    for (char& c : text) c = asciiUpper(c);
    return Variable(std::move(text));
}

Variable stringLower(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count != 1 || !isString(args[0])) fail("string['lower'](s) requires exactly 1 string argument");
    std::string text = args[0].asString();
    for (char& c : text) c = asciiLower(c);
    return Variable(std::move(text));
}

Variable stringSub(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    static const char* const usage = "string['sub'](s, i[, j]) requires a string and 1-2 numeric indices";
    if (count < 2 || count > 3 || !isString(args[0]) || !args[1].isNumeric()) fail(usage);
    if (count == 3 && !args[2].isNot() && !args[2].isNumeric()) fail(usage);
    const std::string& text = args[0].asString();
    const auto length = static_cast<int64_t>(text.size());
    int64_t first = toInt(args[1]);
    if (first < 0) first += length + 1;
    if (first < 1) first = 1;
    int64_t last = length;
    if (!isOmitted(args, count, 2)) {
        last = toInt(args[2]);
        if (last < 0) last += length + 1;
        else if (last == 0) last = length;
        if (last > length) last = length;
    }
    if (last < first) return Variable(std::string());
    return Variable(text.substr(static_cast<size_t>(first - 1), static_cast<size_t>(last - first + 1)));
}

bool stringByteRange(const Variable* args, size_t count, ByteRange& out)
{
    if (count < 1 || count > 3 || !isString(args[0])) fail("string['byte'](s[, i[, j]]) requires a string");
    const std::string& text = args[0].asString();
    if (text.empty()) return false;
    const auto length = static_cast<int64_t>(text.size());
    const int64_t givenFirst = isOmitted(args, count, 1) ? 1 : toInt(args[1]);
    int64_t last = isOmitted(args, count, 2) ? givenFirst : toInt(args[2]);
    int64_t first = givenFirst < 0 ? givenFirst + length + 1 : givenFirst;
    if (last < 0) last += length + 1;
    if (first < 1) first = 1;
    if (last > length) last = length;
    out.first = static_cast<size_t>(first - 1);
    out.last = last < first ? out.first : static_cast<size_t>(last);
    return true;
}

Variable stringByte(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    ByteRange range;
    if (!stringByteRange(args, count, range)) return Variable();
    const std::string& text = args[0].asString();
    auto byteAt = [&text](size_t i) { return Variable(int32_t{static_cast<unsigned char>(text[i])}); };
    if (range.last == range.first) return Variable();
    if (range.last - range.first == 1) return byteAt(range.first);
    std::vector<Variable> values;
    values.reserve(range.last - range.first);
    for (size_t i = range.first; i < range.last; ++i) values.push_back(byteAt(i));
    return Variable::makeMulti(std::move(values));
}

Variable stringChar(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    std::string text(count, '\0');
    for (size_t i = 0; i < count; ++i) text[i] = static_cast<char>(static_cast<uint32_t>(toInt(args[i])) & 0xFFu);
    return Variable(std::move(text));
}

Variable stringRep(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    static const char* const usage = "string['rep'](s, n[, sep]) requires a string, count, and optional separator";
    if (count < 2 || count > 3 || !isString(args[0]) || !args[1].isNumeric()) fail(usage);
    if (count == 3 && !args[2].isNot() && !isString(args[2])) fail(usage);
    const int32_t times = toInt(args[1]);
    if (times < 1) return Variable(std::string());
    const std::string& text = args[0].asString();
    static const std::string noSeparator;
    const std::string& separator = isOmitted(args, count, 2) ? noSeparator : args[2].asString();

    // times * |s| + (times - 1) * |sep|, without overflow.
    const auto copies = static_cast<size_t>(times);
    size_t total = 0;
    size_t separators = 0;
    if (__builtin_mul_overflow(text.size(), copies, &total) ||
        __builtin_mul_overflow(separator.size(), copies - 1, &separators) ||
        __builtin_add_overflow(total, separators, &total)) {
        total = kMaxStringResultBytes + 1;
    }
    checkStringResultSize(total, "string['rep']");
    if (total == 0) return Variable(std::string());  // never loop a billion times over nothing
    // The text, then (separator + text) repeated: once built, that periodic tail doubles by
    // copying from itself, so a large count takes a few big copies instead of many small ones.
    std::string result;
    result.reserve(total);
    result += text;
    if (copies > 1) {
        result += separator;
        result += text;
        while (result.size() < total) {
            const size_t tail = result.size() - text.size();
            result.append(result, text.size(), std::min(tail, total - result.size()));
        }
    }
    return Variable(std::move(result));
}

Variable utf8Len(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count != 1 || !isString(args[0])) fail("utf8['len'](s) requires exactly 1 string argument");
    size_t codePoints = 0;
    for (char c : args[0].asString()) codePoints += isContinuationByte(c) ? 0 : 1;
    return sizeValue(codePoints);
}

Variable utf8Offset(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count < 2 || count > 3 || !isString(args[0]) || !args[1].isNumeric()) {
        fail("utf8['offset'](s, n[, i]) requires a string and a codepoint index");
    }
    const std::string& text = args[0].asString();
    const int32_t wanted = toInt(args[1]);
    int64_t start = isOmitted(args, count, 2) ? 1 : toInt(args[2]);
    if (start < 1) start = 1;
    if (wanted <= 0) return Variable();
    int32_t seen = 0;
    for (auto i = static_cast<size_t>(start - 1); i < text.size(); ++i) {
        if (isContinuationByte(text[i])) continue;
        if (++seen == wanted) return sizeValue(i + 1);
    }
    return Variable();
}

namespace {

void addEntry(CobaltScript& engine, Variable& table, const char* library, const char* key, Body body)
{
    const std::string name = std::string(library) + "." + key;
    NativeFunction function = [&engine, body](NativeArgs args) { return body(engine, args.data(), args.size()); };
    table.asTable()->map.emplace(key, engine.makeNativeCallable(std::move(function), name, BuiltinId::None));
}

} // namespace

Variable makeStringLibrary(CobaltScript& engine)
{
    Variable table = Variable::makeTable();
    addEntry(engine, table, "string", "gsub", stringGsub);
    addEntry(engine, table, "string", "len", stringLen);
    addEntry(engine, table, "string", "upper", stringUpper);
    addEntry(engine, table, "string", "lower", stringLower);
    addEntry(engine, table, "string", "sub", stringSub);
    addEntry(engine, table, "string", "find", stringFind);
    addEntry(engine, table, "string", "match", stringMatch);
    addEntry(engine, table, "string", "gmatch", stringGmatch);
    addEntry(engine, table, "string", "byte", stringByte);
    addEntry(engine, table, "string", "char", stringChar);
    addEntry(engine, table, "string", "format", stringFormat);
    addEntry(engine, table, "string", "rep", stringRep);
    return table;
}

Variable makeUtf8Library(CobaltScript& engine)
{
    Variable table = Variable::makeTable();
    addEntry(engine, table, "utf8", "len", utf8Len);
    addEntry(engine, table, "utf8", "offset", utf8Offset);
    return table;
}

} // namespace cobalt::builtins
