#pragma once
// Patterns of the string library: the class notation ("%d+", "[%a_]", "-"), the "re:" and
// "/.../flags" regular-expression forms, the process-wide cache of compiled patterns, and
// searching. The regular-expression engine stays behind this header, so the rest of the
// engine (and a host linking the library) never sees its types.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cobalt::patterns {

class CompiledPattern;
using PatternRef = std::shared_ptr<const CompiledPattern>;

/// The regular expression a class pattern stands for ("%d+" -> "\d+").
std::string translateClassPattern(std::string_view pattern);

/// The compiled form of a pattern text, compiled on first use and then shared by every
/// engine of the process. Fails with a script error for an unsupported flag or an expression
/// the regular-expression engine rejects.
PatternRef getCachedGsubPattern(std::string_view text);

/// The translated regular expression and its number of capture groups.
const std::string& regexText(const CompiledPattern& pattern);
size_t captureCount(const CompiledPattern& pattern);

// The cache is bounded because bots build patterns from note text: when it is full the
// oldest entry is dropped (patterns still in use stay alive through their references).
inline constexpr size_t kDefaultPatternCacheCapacity = 1024;
/// Longer pattern texts are compiled for each use and never cached.
inline constexpr size_t kMaxCachedPatternBytes = 4096;
size_t patternCacheSize();
size_t patternCacheCapacity();
/// For tests: a smaller bound shows eviction; 0 restores the default.
void setPatternCacheCapacity(size_t capacity);
void clearPatternCache();

/// One span of a match: [start, end) byte offsets into the subject.
struct MatchSpan {
    size_t start = 0;
    size_t end = 0;
    bool matched = false;
};
/// Index 0 is the whole match, then one span per capture group.
using MatchSpans = std::vector<MatchSpan>;

enum class SearchMode {
    /// From `from` as if the subject began there ("^" matches at `from`).
    Fresh,
    /// From `from` inside a walk over the subject: the bytes before `from` are context.
    Continue,
    /// Only a non-empty match starting exactly at `from` (the retry after an empty match).
    NonEmptyHere,
};

/// Searches the subject from byte `from`; true and the spans when found. A search that the
/// engine gives up on (too complex for the subject) fails with a script error.
bool searchPattern(const CompiledPattern& pattern, std::string_view subject, size_t from, SearchMode mode,
                   MatchSpans& out);

/// For tests: whether the pattern has the direct matcher, and a search that bypasses it.
bool hasDirectMatcher(const CompiledPattern& pattern);
bool searchPatternWithRegexEngine(const CompiledPattern& pattern, std::string_view subject, size_t from,
                                  SearchMode mode, MatchSpans& out);

/// Calls `visit(spans)` for every non-overlapping match from the start of the subject. After
/// an empty match the walk first tries a non-empty match at the same place and otherwise
/// steps one byte on, so it always ends.
template <typename Visit>
void forEachMatch(const CompiledPattern& pattern, std::string_view subject, MatchSpans& spans, Visit&& visit)
{
    size_t position = 0;
    SearchMode mode = SearchMode::Fresh;
    while (position <= subject.size()) {
        if (!searchPattern(pattern, subject, position, mode, spans)) return;
        visit(static_cast<const MatchSpans&>(spans));
        mode = SearchMode::Continue;
        if (spans[0].end > spans[0].start) {
            position = spans[0].end;
            continue;
        }
        const size_t emptyAt = spans[0].start;
        if (searchPattern(pattern, subject, emptyAt, SearchMode::NonEmptyHere, spans)) {
            visit(static_cast<const MatchSpans&>(spans));
            position = spans[0].end;
        } else {
            position = emptyAt + 1;
        }
    }
}

} // namespace cobalt::patterns
