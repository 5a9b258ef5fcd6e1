// Pattern search and replacement: find, match, gmatch and gsub, with direct byte scans for
// the fixed patterns bots use most ("%d+" for find and gmatch, "(%a+)-(%d+)" for match).

#include <string>
#include <string_view>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/stdlib/string_library.h"
#include "engine/stdlib/string_patterns.h"

namespace cobalt::builtins {
namespace {

using patterns::MatchSpans;

constexpr std::string_view kDigitRun = "%d+";
constexpr std::string_view kWordDashNumber = "(%a+)-(%d+)";

bool isString(const Variable& value) { return value.type == VarType::String; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

Variable position(size_t offset) { return Variable(saturateToInt32(static_cast<double>(offset))); }

/// Spans reused by every search of this thread; searching never calls back into scripts.
MatchSpans& scratchSpans()
{
    thread_local MatchSpans spans;
    return spans;
}

/// The 0-based start of a search from the 1-based `init` argument at `index` (default 1, at
/// least 1); false when it lies beyond the end of the subject.
bool searchStart(const Variable* args, size_t count, size_t index, size_t length, size_t& from)
{
    int64_t init = index < count && !args[index].isNot() ? toInt(args[index]) : 1;
    if (init < 1) init = 1;
    if (static_cast<uint64_t>(init - 1) > length) return false;
    from = static_cast<size_t>(init - 1);
    return true;
}

/// The first run of ASCII digits at or after `from`: [start, end), or false.
bool findDigitRun(std::string_view text, size_t from, size_t& start, size_t& end)
{
    size_t i = from;
    while (i < text.size() && !isDigit(text[i])) ++i;
    if (i == text.size()) return false;
    start = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    end = i;
    return true;
}

std::string_view spanText(std::string_view subject, const patterns::MatchSpan& span)
{
    return span.matched ? subject.substr(span.start, span.end - span.start) : std::string_view();
}

/// What match and gmatch give for one match: the whole text without groups, else the groups.
Variable groupTexts(std::string_view subject, const MatchSpans& spans)
{
    std::vector<Variable> texts;
    texts.reserve(spans.size() - 1);
    for (size_t i = 1; i < spans.size(); ++i) texts.emplace_back(spanText(subject, spans[i]));
    return Variable::makeArray(std::move(texts));
}

// ---------------------------------------------------------------------------------------
// Replacement expansion

/// Appends a string replacement for one match, expanding its escapes.
void appendExpanded(std::string& out, std::string_view replacement, std::string_view subject, const MatchSpans& spans)
{
    for (size_t i = 0; i < replacement.size(); ++i) {
        const char c = replacement[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 == replacement.size()) {
            out += '\\';  // a trailing lone backslash stays
            break;
        }
        const char next = replacement[++i];
        if (isDigit(next)) {
            // Every digit that follows belongs to the group number; a number past the groups
            // (or too long to be one) gives nothing.
            size_t group = 0;
            for (; i < replacement.size() && isDigit(replacement[i]); ++i) {
                if (group <= spans.size()) group = group * 10 + static_cast<size_t>(replacement[i] - '0');
            }
            --i;
            if (group < spans.size()) out += spanText(subject, spans[group]);
            continue;
        }
        switch (next) {
        case '&': out += spanText(subject, spans[0]); break;
        case '`': out += subject.substr(0, spans[0].start); break;
        case '\'': out += subject.substr(spans[0].end); break;
        case '+':
            for (size_t group = spans.size(); group-- > 1;) {
                if (spans[group].matched) {
                    out += spanText(subject, spans[group]);
                    break;
                }
            }
            break;
        default: out += next; break;  // "\\" gives one backslash, any other byte itself
        }
    }
}

} // namespace

Variable stringFind(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count < 2 || count > 4 || !isString(args[0]) || !isString(args[1])) {
        fail("string['find'](s, pattern[, init[, plain]]) requires a string and a pattern");
    }
    const std::string& subject = args[0].asString();
    const std::string& pattern = args[1].asString();
    size_t from = 0;
    if (!searchStart(args, count, 2, subject.size(), from)) return Variable();
    if (count == 4 && args[3].truthy()) {
        const size_t found = subject.find(pattern, from);
        if (found == std::string::npos) return Variable();
        return Variable::makeMulti({position(found + 1), position(found + pattern.size())});
    }
    if (pattern == kDigitRun) {
        size_t start = 0;
        size_t end = 0;
        if (!findDigitRun(subject, from, start, end)) return Variable();
        return Variable::makeMulti({position(start + 1), position(end)});
    }
    const patterns::PatternRef compiled = patterns::getCachedGsubPattern(pattern);
    MatchSpans& spans = scratchSpans();
    if (!patterns::searchPattern(*compiled, subject, from, patterns::SearchMode::Fresh, spans)) return Variable();
    return Variable::makeMulti({position(spans[0].start + 1), position(spans[0].end)});
}

Variable stringMatch(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count < 2 || count > 3 || !isString(args[0]) || !isString(args[1])) {
        fail("string['match'](s, pattern[, init]) requires a string and a pattern");
    }
    const std::string& subject = args[0].asString();
    const std::string& pattern = args[1].asString();
    size_t from = 0;
    if (!searchStart(args, count, 2, subject.size(), from)) return Variable();
    const std::string_view text = subject;

    if (pattern == kWordDashNumber) {
        // Letters, a dash, digits. The letters stop at the dash, so the first letter of a run
        // decides for the whole run: try run starts only.
        size_t i = from;
        while (i < text.size()) {
            if (!isLetter(text[i])) {
                ++i;
                continue;
            }
            const size_t wordStart = i;
            while (i < text.size() && isLetter(text[i])) ++i;
            const size_t wordEnd = i;
            if (i < text.size() && text[i] == '-' && i + 1 < text.size() && isDigit(text[i + 1])) {
                size_t digitsEnd = i + 1;
                while (digitsEnd < text.size() && isDigit(text[digitsEnd])) ++digitsEnd;
                return Variable::makeMulti({Variable(text.substr(wordStart, wordEnd - wordStart)),
                                            Variable(text.substr(wordEnd + 1, digitsEnd - wordEnd - 1))});
            }
        }
        return Variable();
    }

    const patterns::PatternRef compiled = patterns::getCachedGsubPattern(pattern);
    MatchSpans& spans = scratchSpans();
    if (!patterns::searchPattern(*compiled, subject, from, patterns::SearchMode::Fresh, spans)) return Variable();
    if (spans.size() == 1) return Variable(spanText(text, spans[0]));
    if (spans.size() == 2) return Variable(spanText(text, spans[1]));
    std::vector<Variable> groups;
    groups.reserve(spans.size() - 1);
    for (size_t i = 1; i < spans.size(); ++i) groups.emplace_back(spanText(text, spans[i]));
    return Variable::makeMulti(std::move(groups));
}

Variable stringGmatch(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count != 2 || !isString(args[0]) || !isString(args[1])) {
        fail("string['gmatch'](s, pattern) requires a string and a pattern");
    }
    const std::string_view subject = args[0].asString();
    const std::string& pattern = args[1].asString();
    std::vector<Variable> matches;
    if (pattern == kDigitRun) {
        size_t start = 0;
        size_t end = 0;
        for (size_t from = 0; findDigitRun(subject, from, start, end); from = end) {
            matches.emplace_back(subject.substr(start, end - start));
        }
        return Variable::makeArray(std::move(matches));
    }
    const patterns::PatternRef compiled = patterns::getCachedGsubPattern(pattern);
    patterns::forEachMatch(*compiled, subject, scratchSpans(), [&](const MatchSpans& spans) {
        if (spans.size() == 1) matches.emplace_back(spanText(subject, spans[0]));
        else matches.push_back(groupTexts(subject, spans));
    });
    return Variable::makeArray(std::move(matches));
}

Variable stringGsub(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count != 3) fail("gsub(string, pattern, replacement) requires exactly 3 arguments");
    if (!isString(args[0])) fail("gsub(string, pattern, replacement): first argument must be a string");
    if (!isString(args[1])) fail("gsub(string, pattern, replacement): second argument must be a string pattern");
    const Variable& replacement = args[2];
    if (!isString(replacement) && !(replacement.type == VarType::Table && replacement.asTable())) {
        fail("gsub(string, pattern, replacement): replacement must be a string or table");
    }
    const std::string_view subject = args[0].asString();
    const patterns::PatternRef compiled = patterns::getCachedGsubPattern(args[1].asString());

    const bool fromTable = replacement.type == VarType::Table;
    const std::string_view text = fromTable ? std::string_view() : std::string_view(replacement.asString());
    const bool plainText = text.find('\\') == std::string_view::npos;
    std::string out;
    out.reserve(subject.size());
    size_t copied = 0;
    patterns::forEachMatch(*compiled, subject, scratchSpans(), [&](const MatchSpans& spans) {
        out.append(subject, copied, spans[0].start - copied);
        copied = spans[0].end;
        if (fromTable) {
            const std::string_view key = spanText(subject, spans[0]);
            const auto& map = replacement.asTable()->map;
            const auto found = map.find(std::string(key));
            if (found == map.end()) fail("gsub replacement table missing key: " + std::string(key));
            // Checked before appending, so the failure names gsub rather than the text cap.
            if (found->second.type == VarType::String) {
                checkStringResultSize(out.size() + found->second.asString().size(), "gsub");
            }
            found->second.appendTo(out);
        } else if (plainText) {
            out += text;
        } else {
            appendExpanded(out, text, subject, spans);
        }
        checkStringResultSize(out.size(), "gsub");
    });
    out.append(subject, copied);
    checkStringResultSize(out.size(), "gsub");
    return Variable(std::move(out));
}

} // namespace cobalt::builtins
