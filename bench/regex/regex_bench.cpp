// Compares the regular-expression engines the string library could match with: std::regex,
// Boost.Regex (header-only, standalone) and PCRE2 (JIT off and on). Every engine walks all
// non-overlapping matches of the same expressions (the translated forms of typical bot
// patterns) over a short note and over a timeline of about 1 MiB, and counts them; the counts
// must agree. Build and run: see README.md beside this file.

#define BOOST_REGEX_MAX_STATE_COUNT 20000000
#define BOOST_REGEX_MAX_BLOCKS 16384
#include <boost/regex.hpp>
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <pthread.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* name;
    const char* expression;
    bool caseInsensitive;
};

// Class patterns as the library translates them, and two "re:" forms.
const Case kCases[] = {
    {"%d+", "\\d+", false},
    {"(%a+)-(%d+)", "([A-Za-z]+)-(\\d+)", false},
    {"@[%w_]+ (mentions)", "@[\\w_]+", false},
    {"https?://%S+ (links)", "https?://\\S+", false},
    {"%s+ (white space)", "\\s+", false},
    {"(%w+)=(%w+) (rare)", "(\\w+)=(\\w+)", false},
    {"/quill/i", "quill", true},
    {"re:#(\\w+)", "#(\\w+)", false},
};

std::string makeNote()
{
    return "@alice hello from Quill #bots see https://example.org/notes/9f3k2 order-42 at 12:30, key=val ok\n";
}

std::string makeTimeline(size_t bytes)
{
    const std::string note = makeNote();
    std::string text;
    text.reserve(bytes + note.size());
    while (text.size() < bytes) text += note;
    return text;
}

using Counter = std::function<size_t(const std::string&)>;

Counter stdRegex(const Case& c)
{
    auto flags = std::regex::ECMAScript;
    if (c.caseInsensitive) flags |= std::regex::icase;
    auto re = std::make_shared<std::regex>(c.expression, flags);
    return [re](const std::string& s) {
        return static_cast<size_t>(std::distance(std::sregex_iterator(s.begin(), s.end(), *re), std::sregex_iterator()));
    };
}

Counter boostRegex(const Case& c)
{
    auto flags = boost::regex::ECMAScript | boost::regex::no_mod_m | boost::regex::no_mod_s;
    if (c.caseInsensitive) flags |= boost::regex::icase;
    auto re = std::make_shared<boost::regex>(c.expression, flags);
    return [re](const std::string& s) {
        return static_cast<size_t>(
            std::distance(boost::sregex_iterator(s.begin(), s.end(), *re), boost::sregex_iterator()));
    };
}

Counter pcre2Regex(const Case& c, bool jit)
{
    int error = 0;
    PCRE2_SIZE offset = 0;
    uint32_t options = c.caseInsensitive ? PCRE2_CASELESS : 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.expression), PCRE2_ZERO_TERMINATED, options,
                                     &error, &offset, nullptr);
    if (!code) std::abort();
    if (jit) pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    std::shared_ptr<pcre2_code> owner(code, pcre2_code_free);
    std::shared_ptr<pcre2_match_data> data(pcre2_match_data_create_from_pattern(code, nullptr), pcre2_match_data_free);
    return [owner, data](const std::string& s) {
        size_t count = 0;
        PCRE2_SIZE start = 0;
        const auto* subject = reinterpret_cast<PCRE2_SPTR>(s.data());
        while (start <= s.size()) {
            const int rc = pcre2_match(owner.get(), subject, s.size(), start, 0, data.get(), nullptr);
            if (rc < 0) break;
            const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
            ++count;
            start = ovector[1] > ovector[0] ? ovector[1] : ovector[1] + 1;
        }
        return count;
    };
}

/// Microseconds per call of `count` on `subject`, over enough repetitions for ~0.2 s.
double measure(const Counter& count, const std::string& subject, size_t& matches)
{
    using Clock = std::chrono::steady_clock;
    matches = count(subject);
    size_t rounds = 0;
    const auto start = Clock::now();
    auto elapsed = Clock::duration::zero();
    do {
        count(subject);
        ++rounds;
        elapsed = Clock::now() - start;
    } while (elapsed < std::chrono::milliseconds(200));
    return std::chrono::duration<double, std::micro>(elapsed).count() / static_cast<double>(rounds);
}

void run()
{
    const std::string note = makeNote();
    const std::string timeline = makeTimeline(size_t{1} << 20);
    std::printf("| Pattern | Subject | std::regex | Boost.Regex | PCRE2 | PCRE2 JIT | Matches |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const Case& c : kCases) {
        for (int which = 0; which < 2; ++which) {
            const std::string& subject = which == 0 ? note : timeline;
            size_t m[4] = {};
            const double t0 = measure(stdRegex(c), subject, m[0]);
            const double t1 = measure(boostRegex(c), subject, m[1]);
            const double t2 = measure(pcre2Regex(c, false), subject, m[2]);
            const double t3 = measure(pcre2Regex(c, true), subject, m[3]);
            const bool agree = m[0] == m[1] && m[1] == m[2] && m[2] == m[3];
            const char* unit = which == 0 ? "µs" : "ms";
            const double scale = which == 0 ? 1.0 : 1000.0;
            std::printf("| `%s` | %s | %.2f %s | %.2f %s | %.2f %s | %.2f %s | %zu%s |\n", c.name,
                        which == 0 ? "note (99 B)" : "timeline (1 MiB)", t0 / scale, unit, t1 / scale, unit,
                        t2 / scale, unit, t3 / scale, unit, m[1], agree ? "" : " (counts differ!)");
            std::fflush(stdout);
        }
    }
}

} // namespace

int main()
{
    // std::regex recurses once per matched byte or so; give it a big stack so the long
    // subject finishes at all (see README.md for what happens on an ordinary 8 MiB stack).
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, size_t{1} << 30);
    pthread_t thread;
    pthread_create(
        &thread, &attributes, [](void*) -> void* {
            run();
            return nullptr;
        },
        nullptr);
    pthread_join(thread, nullptr);
    return 0;
}
