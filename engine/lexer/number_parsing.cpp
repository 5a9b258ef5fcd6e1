// Strict number parsing that never depends on the process locale: "3.5" is three and a
// half whatever LC_NUMERIC says.

#include <charconv>
#include <cctype>
#include <cmath>
#include <string_view>
#include <system_error>

#include "engine/lexer/token_analysis.h"

namespace cobalt {

namespace {

bool isCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool startsWithHexPrefix(std::string_view text)
{
    return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Like the C conversion, a result that lost precision by landing below the normal float
// range (or on zero) counts as out of range; an exactly representable tiny value does not.
bool underflowed(std::string_view text, std::chars_format format, float value)
{
    if (value != 0.0f && std::fpclassify(value) != FP_SUBNORMAL) return false;
    double wide = 0.0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), wide, format);
    if (result.ec != std::errc()) return true;
    return static_cast<double>(value) != wide;
}

} // namespace

bool parseIntStrict(std::string_view text, int32_t& out)
{
    // from_chars takes an optional "-", rejects "+", spaces and values outside int32.
    if (text.empty()) return false;
    int32_t value = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    out = value;
    return true;
}

bool parseFloatStrict(std::string_view text, float& out)
{
    // The text-to-float conversion of C (leading white space, a sign, decimal or "0x" hex
    // digits, inf, nan) must consume the whole text and stay in range.
    while (!text.empty() && isCSpace(text.front())) text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-') return false;

    std::chars_format format = std::chars_format::general;
    if (startsWithHexPrefix(text)) {
        text.remove_prefix(2);
        format = std::chars_format::hex;
        // Hex digits or a point must follow: "0xinf" is not a number.
        if (text.empty() || !(std::isxdigit(static_cast<unsigned char>(text.front())) || text.front() == '.')) {
            return false;
        }
    }
    float value = 0.0f;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value, format);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    if (underflowed(text, format, value)) return false;
    out = negative ? -value : value;
    return true;
}

} // namespace cobalt
