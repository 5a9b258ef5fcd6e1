// string.format: C-style directives over script values. The directive is validated piece by
// piece and rebuilt for the C library, so no script text ever reaches printf as a format.
// Numbers are always written with "." as the decimal point, whatever the process locale.

#include <clocale>
#include <cstdio>
#include <locale.h>
#include <string>
#include <string_view>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/stdlib/string_library.h"

namespace cobalt::builtins {
namespace {

constexpr const char* kFunction = "string['format']";
// Widths and precisions of numbers go to the C library, which works through every digit of a
// huge precision; nothing sensible needs more than this.
constexpr size_t kMaxNumberField = 65535;

struct Directive {
    std::string_view text;  // after the "%", up to and including the conversion letter
    std::string_view flags;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
    char conversion = 0;
};

/// Digits of a width or precision; a number above the result cap could never be honoured.
size_t parseCount(std::string_view format, size_t& i)
{
    size_t value = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        value = value * 10 + static_cast<size_t>(format[i] - '0');
        if (value > kMaxStringResultBytes) fail(std::string(kFunction) + ": width or precision too large");
        ++i;
    }
    return value;
}

/// Parses the directive that starts after the "%" at `start`; `i` ends past its conversion.
Directive parseDirective(std::string_view format, size_t start, size_t& i)
{
    Directive directive;
    i = start;
    while (i < format.size() && std::string_view("-+ #0").find(format[i]) != std::string_view::npos) ++i;
    directive.flags = format.substr(start, i - start);
    directive.width = parseCount(format, i);
    if (i < format.size() && format[i] == '.') {
        ++i;
        directive.hasPrecision = true;
        directive.precision = parseCount(format, i);
    }
    while (i < format.size() && std::string_view("hlLzjt").find(format[i]) != std::string_view::npos) ++i;
    if (i >= format.size()) fail(std::string(kFunction) + ": incomplete format specifier");
    directive.conversion = format[i++];
    directive.text = format.substr(start, i - start);
    return directive;
}

/// The C locale, for number formatting that never follows the process locale.
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

class ScopedCLocale {
public:
    ScopedCLocale() : m_previous(cLocale() ? uselocale(cLocale()) : static_cast<locale_t>(nullptr)) {}
    ~ScopedCLocale()
    {
        if (m_previous) uselocale(m_previous);
    }
    ScopedCLocale(const ScopedCLocale&) = delete;
    ScopedCLocale& operator=(const ScopedCLocale&) = delete;

private:
    locale_t m_previous;
};

/// The directive rebuilt for the C library: flags, width, precision, `length` and the letter.
std::string cFormat(const Directive& directive, std::string_view length)
{
    std::string format = "%";
    format += directive.flags;
    if (directive.width > 0) format += std::to_string(directive.width);
    if (directive.hasPrecision) {
        // Two appends: GCC 12 at -O3 misreads "." + std::string as an overlapping copy.
        format += '.';
        format += std::to_string(directive.precision);
    }
    format += length;
    format += directive.conversion;
    return format;
}

template <typename Number>
void appendNumber(std::string& out, const Directive& directive, std::string_view length, Number value)
{
    if (directive.width > kMaxNumberField || directive.precision > kMaxNumberField) {
        fail(std::string(kFunction) + ": width or precision too large");
    }
    const std::string format = cFormat(directive, length);
    ScopedCLocale locale;
    char buffer[128];
    const int needed = std::snprintf(buffer, sizeof buffer, format.c_str(), value);
    if (needed < 0) fail(std::string(kFunction) + ": failed to format value");
    const auto size = static_cast<size_t>(needed);
    checkStringResultSize(out.size() + size, kFunction);
    if (size < sizeof buffer) {
        out.append(buffer, size);
        return;
    }
    const size_t offset = out.size();
    out.resize(offset + size + 1);
    if (std::snprintf(out.data() + offset, size + 1, format.c_str(), value) != needed) {
        fail(std::string(kFunction) + ": failed to format value");
    }
    out.resize(offset + size);
}

/// Text padded to the width, on the left unless the "-" flag asks for the right.
void appendPadded(std::string& out, const Directive& directive, std::string_view text)
{
    const size_t padding = directive.width > text.size() ? directive.width - text.size() : 0;
    checkStringResultSize(out.size() + text.size() + padding, kFunction);
    const bool leftAligned = directive.flags.find('-') != std::string_view::npos;
    if (!leftAligned) out.append(padding, ' ');
    out += text;
    if (leftAligned) out.append(padding, ' ');
}

void appendQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c; break;
        }
    }
    out += '"';
    checkStringResultSize(out.size(), kFunction);
}

void appendValue(std::string& out, const Directive& directive, const Variable& value)
{
    switch (directive.conversion) {
    case 'd':
    case 'i': appendNumber(out, directive, "ll", static_cast<long long>(toInt(value))); return;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        appendNumber(out, directive, "ll", static_cast<unsigned long long>(static_cast<uint32_t>(toInt(value))));
        return;
    case 'c': {
        const char byte = static_cast<char>(static_cast<uint32_t>(toInt(value)) & 0xFFu);
        appendPadded(out, directive, std::string_view(&byte, 1));
        return;
    }
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G': appendNumber(out, directive, "", toDouble(value)); return;
    case 's': {
        std::string scratch;
        std::string_view text;
        if (value.type == VarType::String) {
            text = value.asString();
        } else {
            scratch = value.toString();
            text = scratch;
        }
        if (directive.hasPrecision && directive.precision < text.size()) text = text.substr(0, directive.precision);
        appendPadded(out, directive, text);
        return;
    }
    case 'q': {
        if (value.type == VarType::String) {
            appendQuoted(out, value.asString());
        } else {
            appendQuoted(out, value.toString());
        }
        return;
    }
    default: fail(std::string(kFunction) + ": unsupported specifier %" + directive.conversion);
    }
}

} // namespace

Variable stringFormat(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count < 1 || args[0].type != VarType::String) fail("string['format'](format, ...) requires a format string");
    const std::string_view format = args[0].asString();
    std::string out;
    out.reserve(format.size() + 16);
    size_t nextValue = 1;
    size_t i = 0;
    while (i < format.size()) {
        const size_t percent = format.find('%', i);
        out.append(format.substr(i, percent == std::string_view::npos ? std::string_view::npos : percent - i));
        if (percent == std::string_view::npos) break;
        if (percent + 1 < format.size() && format[percent + 1] == '%') {
            out += '%';
            i = percent + 2;
            continue;
        }
        const Directive directive = parseDirective(format, percent + 1, i);
        if (nextValue >= count) {
            fail(std::string(kFunction) + ": missing argument for format specifier %" + std::string(directive.text));
        }
        appendValue(out, directive, args[nextValue++]);
    }
    return Variable(std::move(out));
}

} // namespace cobalt::builtins
