// Fuzz target for class patterns ("%d+", "[%a_]", "(%w+)-"): their translation to a regular
// expression, the direct matcher that handles the simple ones, and the library functions over
// them (pattern_calls.h has the input layout). The direct matcher must find exactly the match
// the translated expression finds, in every search mode and from every start: it is checked
// against the regular-expression engine on each input.

#include "engine/stdlib/string_patterns.h"
#include "tests/engine/fuzz/pattern_calls.h"

namespace {

namespace patterns = cobalt::patterns;

bool sameSpans(const patterns::MatchSpans& a, const patterns::MatchSpans& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].matched != b[i].matched) return false;
        if (a[i].matched && (a[i].start != b[i].start || a[i].end != b[i].end)) return false;
    }
    return true;
}

void compareMatchers(const quill_fuzz::PatternInput& input)
{
    patterns::PatternRef compiled;
    try {
        compiled = patterns::getCachedGsubPattern(input.pattern);
    } catch (const std::exception&) {
        return;  // not a valid expression once translated: reported as a script error
    }
    if (!patterns::hasDirectMatcher(*compiled)) return;
    const std::string& subject = input.subject;
    for (size_t from = 0; from <= subject.size() && from <= 8; ++from) {
        for (auto mode : {patterns::SearchMode::Fresh, patterns::SearchMode::Continue,
                          patterns::SearchMode::NonEmptyHere}) {
            patterns::MatchSpans direct;
            patterns::MatchSpans reference;
            bool foundDirect = false;
            bool foundReference = false;
            try {
                foundDirect = patterns::searchPattern(*compiled, subject, from, mode, direct);
                foundReference = patterns::searchPatternWithRegexEngine(*compiled, subject, from, mode, reference);
            } catch (const std::exception&) {
                continue;  // the expression engine gave up: nothing to compare
            }
            if (foundDirect != foundReference || (foundDirect && !sameSpans(direct, reference))) {
                quill_fuzz::invariantBroken("direct matcher disagrees with the regex engine", input.pattern);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096) return -1;
    const quill_fuzz::PatternInput input = quill_fuzz::splitPatternInput(data, size);
    // The regular-expression forms have a target of their own.
    if (input.pattern.starts_with("re:") || input.pattern.starts_with("/")) return -1;
    (void)patterns::translateClassPattern(input.pattern);
    compareMatchers(input);
    quill_fuzz::callPatternFunctions(input);
    return 0;
}
