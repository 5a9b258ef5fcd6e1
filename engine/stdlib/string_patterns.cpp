// Pattern translation, the process-wide compiled-pattern cache and searching.
//
// Matching runs on Boost.Regex in its header-only, standalone form with the ECMAScript
// grammar. Unlike std::regex it matches without recursing on the native stack (a long subject
// cannot overflow it), it gives up with an error instead of running for ever on a
// pathological pattern, and it is several times faster (bench/regex/README.md has figures).

// Cap on the matcher's steps for one search; beyond it the search fails with an error rather
// than keeping a bot busy for seconds. Ordinary patterns over megabytes of text stay far below.
#define BOOST_REGEX_MAX_STATE_COUNT 20000000
// Memory for the matcher's backtracking, in 4 KiB blocks (64 MiB): enough for a repeated group
// over a megabyte of text, bounded so a hostile pattern cannot take more.
#define BOOST_REGEX_MAX_BLOCKS 16384
#include <boost/regex.hpp>

#include "engine/stdlib/string_patterns.h"

#include <locale>
#include <optional>

#include <atomic>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "engine/error/script_error.h"
#include "engine/stdlib/simple_pattern.h"

namespace cobalt::patterns {

class CompiledPattern {
public:
    std::string text;
    std::string regexText;
    bool caseInsensitive = false;
    boost::regex regex;
    std::optional<SimplePattern> direct;  // the direct matcher, for simple class patterns
    // Set once the direct matcher has given up on this pattern: it backtracks badly, so later
    // searches go straight to the engine instead of spending the step budget again each time.
    mutable std::atomic<bool> directGaveUp{false};
};

namespace {

// ---------------------------------------------------------------------------------------
// Class-pattern translation

// "%p": every printable ASCII punctuation byte, as ranges that need no escaping except the
// "[" and "{" that open them.
constexpr std::string_view kPunctuation = "!-/:-@\\[-`\\{-~";

/// The expression (outside a set) or the set members (inside one) of "%" + letter, or an
/// empty view when the letter names no class.
std::string_view classEscape(char letter, bool insideSet)
{
    switch (letter) {
    case 'a': return insideSet ? "A-Za-z" : "[A-Za-z]";
    case 'A': return insideSet ? "^A-Za-z" : "[^A-Za-z]";
    case 'd': return "\\d";
    case 'D': return "\\D";
    case 'l': return insideSet ? "a-z" : "[a-z]";
    case 'L': return insideSet ? "^a-z" : "[^a-z]";
    case 'u': return insideSet ? "A-Z" : "[A-Z]";
    case 'U': return insideSet ? "^A-Z" : "[^A-Z]";
    case 'x': return insideSet ? "A-Fa-f0-9" : "[A-Fa-f0-9]";
    case 'X': return insideSet ? "^A-Fa-f0-9" : "[^A-Fa-f0-9]";
    case 's': return "\\s";
    case 'S': return "\\S";
    case 'w': return "\\w";
    case 'W': return "\\W";
    default: return {};
    }
}

// A literal byte. Only the expression syntax characters get a backslash: before a letter or
// digit a backslash would change the meaning ("\d", "\b", "\1"), and the regex engine reads
// "\<" and "\>" as word boundaries.
void appendLiteral(std::string& out, char c)
{
    if (std::string_view("^$\\.*+?()[]{}|").find(c) != std::string_view::npos) out += '\\';
    out += c;
}

void appendSetLiteral(std::string& out, char c)
{
    if (std::string_view("\\]^-[").find(c) != std::string_view::npos) out += '\\';
    out += c;
}

// ---------------------------------------------------------------------------------------
// The slash form and its flags

struct RegexSource {
    std::string expression;
    bool caseInsensitive = false;
    bool classPattern = false;
};

/// "/body/flags": the position of the closing slash when the text has that form, else npos.
size_t closingSlash(std::string_view text)
{
    if (text.size() < 2 || text[0] != '/') return std::string_view::npos;
    size_t last = std::string_view::npos;
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;  // the escaped byte is ordinary
        } else if (text[i] == '/') {
            last = i;
        }
    }
    if (last == std::string_view::npos) return last;
    for (size_t i = last + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return std::string_view::npos;
    }
    return last;
}

/// "m": every "." outside a bracket expression and not escaped matches line breaks too.
std::string dotMatchesAll(std::string_view expression)
{
    std::string out;
    out.reserve(expression.size() + 16);
    bool insideSet = false;
    for (size_t i = 0; i < expression.size(); ++i) {
        const char c = expression[i];
        if (c == '\\' && i + 1 < expression.size()) {
            out += c;
            out += expression[++i];
            continue;
        }
        if (insideSet) {
            if (c == ']') insideSet = false;
            out += c;
        } else if (c == '[') {
            insideSet = true;
            out += c;
            // A "]" right after "[" or "[^" is a member, not the end of the set.
            if (i + 1 < expression.size() && expression[i + 1] == '^') out += expression[++i];
            if (i + 1 < expression.size() && expression[i + 1] == ']') out += expression[++i];
        } else if (c == '.') {
            out += "[\\s\\S]";
        } else {
            out += c;
        }
    }
    return out;
}

RegexSource regexSourceOf(std::string_view text)
{
    RegexSource source;
    if (text.starts_with("re:")) {
        source.expression = text.substr(3);
        return source;
    }
    const size_t slash = closingSlash(text);
    if (slash == std::string_view::npos) {
        source.expression = translateClassPattern(text);
        source.classPattern = true;
        return source;
    }
    bool dotAll = false;
    for (char flag : text.substr(slash + 1)) {
        if (flag == 'i') {
            source.caseInsensitive = true;
        } else if (flag == 'm') {
            dotAll = true;
        } else {
            fail(std::string("gsub: unsupported regex flag '") + flag + "' (supported: i, m)");
        }
    }
    const std::string_view body = text.substr(1, slash - 1);
    source.expression = dotAll ? dotMatchesAll(body) : std::string(body);
    return source;
}

// ---------------------------------------------------------------------------------------
// Compiling

std::string_view describeRegexError(boost::regex_constants::error_type code)
{
    namespace rc = boost::regex_constants;
    switch (code) {
    case rc::error_collate: return "invalid collating element";
    case rc::error_ctype: return "invalid character class";
    case rc::error_escape: return "invalid escape sequence";
    case rc::error_backref: return "invalid back reference";
    case rc::error_brack: return "unmatched '[' in the expression";
    case rc::error_paren: return "unmatched '(' or ')' in the expression";
    case rc::error_brace: return "unmatched '{' in the expression";
    case rc::error_badbrace: return "invalid repetition count in '{...}'";
    case rc::error_range: return "invalid character range";
    case rc::error_space: return "not enough memory to compile the expression";
    case rc::error_badrepeat: return "a repetition has nothing to repeat";
    case rc::error_complexity: return "the expression is too complex or too deeply nested";
    case rc::error_stack: return "the expression is too deeply nested";
    case rc::error_perl_extension: return "invalid or unsupported group syntax";
    default: return "the expression is not valid";
    }
}

std::shared_ptr<CompiledPattern> compilePattern(std::string_view text)
{
    RegexSource source = regexSourceOf(text);
    auto compiled = std::make_shared<CompiledPattern>();
    compiled->text = std::string(text);
    compiled->caseInsensitive = source.caseInsensitive;
    // ECMAScript: "^" and "$" anchor at the ends of the subject only, "." stops at line breaks.
    boost::regex::flag_type flags = boost::regex::ECMAScript | boost::regex::no_mod_m | boost::regex::no_mod_s;
    if (source.caseInsensitive) flags |= boost::regex::icase;
    try {
        // Classes and case folding the same under every locale, as the direct matcher has them.
        compiled->regex.imbue(std::locale::classic());
        compiled->regex.assign(source.expression.data(), source.expression.data() + source.expression.size(), flags);
    } catch (const boost::regex_error& error) {
        fail("gsub: invalid regex pattern '" + source.expression + "': " + std::string(describeRegexError(error.code())));
    } catch (const std::runtime_error&) {
        fail("gsub: invalid regex pattern '" + source.expression + "': " +
             std::string(describeRegexError(boost::regex_constants::error_unknown)));
    }
    compiled->regexText = std::move(source.expression);
    if (source.classPattern) compiled->direct = SimplePattern::fromClassPattern(text);
    return compiled;
}

// ---------------------------------------------------------------------------------------
// The process-wide cache

struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

struct PatternCache {
    std::mutex lock;
    std::unordered_map<std::string, PatternRef, TextHash, std::equal_to<>> entries;
    std::deque<std::string> insertionOrder;  // oldest first, for eviction
    size_t capacity = kDefaultPatternCacheCapacity;
    std::atomic<uint64_t> generation{0};     // bumped by clear, so thread memos drop old entries
};

PatternCache& cache()
{
    // Never destroyed: engines on other threads may still be matching while the process exits.
    static PatternCache* instance = new PatternCache;
    return *instance;
}

// A few recently used patterns per thread, so a loop calling gsub with the same pattern
// skips the lock and the hash.
struct ThreadMemo {
    static constexpr size_t kSize = 4;
    PatternRef entries[kSize];
    uint64_t generation = 0;
    size_t next = 0;
};

thread_local ThreadMemo memo;

PatternRef lookupOrCompile(std::string_view text)
{
    PatternCache& shared = cache();
    {
        std::lock_guard guard(shared.lock);
        auto found = shared.entries.find(text);
        if (found != shared.entries.end()) return found->second;
    }
    // Compile outside the lock: a slow compile must not stall other engines. Two threads
    // compiling the same text both succeed; the first stored entry wins.
    PatternRef compiled = compilePattern(text);
    std::lock_guard guard(shared.lock);
    auto [entry, inserted] = shared.entries.try_emplace(std::string(text), compiled);
    if (!inserted) return entry->second;
    shared.insertionOrder.emplace_back(text);
    while (shared.entries.size() > shared.capacity && !shared.insertionOrder.empty()) {
        shared.entries.erase(shared.insertionOrder.front());
        shared.insertionOrder.pop_front();
    }
    return compiled;
}

} // namespace

std::string translateClassPattern(std::string_view pattern)
{
    std::string out;
    out.reserve(pattern.size() + 8);
    bool insideSet = false;
    // "-" repeats the single-byte item before it (a byte, ".", a class or a set), lazily.
    // Anywhere else (first, after a group, an anchor or another repetition) it is a plain dash,
    // so "(%a+)-(%d+)" means letters, a dash, digits rather than a lazily repeated group.
    bool afterSingleByteItem = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%') {
            if (i + 1 == pattern.size()) {
                out += '%';
                break;
            }
            const char next = pattern[++i];
            afterSingleByteItem = !insideSet;
            if (next == 'p' || next == 'P') {
                if (!insideSet) out += next == 'p' ? "[" : "[^";
                else if (next == 'P') out += '^';
                out += kPunctuation;
                if (!insideSet) out += ']';
                continue;
            }
            const std::string_view escape = classEscape(next, insideSet);
            if (!escape.empty()) out += escape;
            else if (insideSet) appendSetLiteral(out, next);
            else appendLiteral(out, next);
            continue;
        }
        if (insideSet) {
            if (c == ']') {
                insideSet = false;
                afterSingleByteItem = true;
                out += c;
            } else if (c == '\\' || c == '^') {
                out += '\\';
                out += c;
            } else {
                out += c;
            }
            continue;
        }
        switch (c) {
        case '.':
            out += c;
            afterSingleByteItem = true;
            break;
        case '$': case '(': case ')': case '*': case '+': case '?': case '^':
            out += c;
            afterSingleByteItem = false;
            break;
        case '-':
            // A dash that repeats nothing is itself a byte that the next "-" may repeat.
            out += afterSingleByteItem ? "*?" : "-";
            afterSingleByteItem = !afterSingleByteItem;
            break;
        case '[':
            insideSet = true;
            out += c;
            break;
        default:
            appendLiteral(out, c);
            afterSingleByteItem = true;
            break;
        }
    }
    return out;
}

PatternRef getCachedGsubPattern(std::string_view text)
{
    // A long text (a whole note used as a pattern) is compiled for this call only: the cache is
    // bounded by entries, and a thousand such entries would hold a lot of memory.
    if (text.size() > kMaxCachedPatternBytes) return compilePattern(text);
    const uint64_t generation = cache().generation.load(std::memory_order_acquire);
    if (memo.generation != generation) {
        for (auto& entry : memo.entries) entry.reset();
        memo.generation = generation;
    }
    for (const PatternRef& entry : memo.entries) {
        if (entry && entry->text == text) return entry;
    }
    PatternRef compiled = lookupOrCompile(text);
    memo.entries[memo.next] = compiled;
    memo.next = (memo.next + 1) % ThreadMemo::kSize;
    return compiled;
}

const std::string& regexText(const CompiledPattern& pattern) { return pattern.regexText; }

size_t captureCount(const CompiledPattern& pattern) { return pattern.regex.mark_count(); }

size_t patternCacheSize()
{
    std::lock_guard guard(cache().lock);
    return cache().entries.size();
}

size_t patternCacheCapacity()
{
    std::lock_guard guard(cache().lock);
    return cache().capacity;
}

void setPatternCacheCapacity(size_t capacity)
{
    PatternCache& shared = cache();
    std::lock_guard guard(shared.lock);
    shared.capacity = capacity == 0 ? kDefaultPatternCacheCapacity : capacity;
    while (shared.entries.size() > shared.capacity && !shared.insertionOrder.empty()) {
        shared.entries.erase(shared.insertionOrder.front());
        shared.insertionOrder.pop_front();
    }
}

void clearPatternCache()
{
    PatternCache& shared = cache();
    std::lock_guard guard(shared.lock);
    shared.entries.clear();
    shared.insertionOrder.clear();
    shared.generation.fetch_add(1, std::memory_order_release);
}

bool hasDirectMatcher(const CompiledPattern& pattern) { return pattern.direct.has_value(); }

bool searchPattern(const CompiledPattern& pattern, std::string_view subject, size_t from, SearchMode mode,
                   MatchSpans& out)
{
    if (pattern.direct && !pattern.directGaveUp.load(std::memory_order_relaxed)) {
        const auto result = pattern.direct->search(subject, from, mode == SearchMode::Fresh,
                                                   mode == SearchMode::NonEmptyHere, out);
        if (result == SimplePattern::Result::Found) return true;
        if (result == SimplePattern::Result::NotFound) return false;
        // It gave up: the regular-expression engine decides (and reports a hopeless pattern).
        pattern.directGaveUp.store(true, std::memory_order_relaxed);
    }
    return searchPatternWithRegexEngine(pattern, subject, from, mode, out);
}

bool searchPatternWithRegexEngine(const CompiledPattern& pattern, std::string_view subject, size_t from,
                                  SearchMode mode, MatchSpans& out)
{
    // Reused per thread: match results allocate their storage on first use only.
    thread_local boost::cmatch results;
    const char* const begin = subject.data();
    const char* const end = begin + subject.size();
    const char* const first = begin + from;
    boost::match_flag_type flags = boost::match_default;
    if (mode != SearchMode::Fresh && from > 0) flags |= boost::match_prev_avail;
    if (mode == SearchMode::NonEmptyHere) flags |= boost::match_not_null | boost::match_continuous;
    bool found = false;
    try {
        // The base is where "^" and look-behind stop: the search start for a fresh search,
        // the subject's start when the bytes before `from` are context.
        found = boost::regex_search(first, end, results, pattern.regex, flags, mode == SearchMode::Fresh ? first : begin);
    } catch (const boost::regex_error& error) {
        const bool outOfMemory = error.code() == boost::regex_constants::error_stack ||
                                 error.code() == boost::regex_constants::error_space;
        fail("gsub: regex pattern '" + pattern.regexText + "' is too complex to match against this text (" +
             (outOfMemory ? "it needs too much memory" : "it backtracks too much") + ")");
    } catch (const std::runtime_error&) {
        fail("gsub: regex pattern '" + pattern.regexText + "' is too complex to match against this text");
    }
    if (!found) return false;
    out.resize(results.size());
    for (size_t i = 0; i < results.size(); ++i) {
        const auto& group = results[static_cast<int>(i)];
        out[i].matched = group.matched;
        out[i].start = group.matched ? static_cast<size_t>(group.first - begin) : 0;
        out[i].end = group.matched ? static_cast<size_t>(group.second - begin) : 0;
    }
    return true;
}

} // namespace cobalt::patterns
