// The process-wide compiled-pattern cache: shared by engines on several threads, bounded,
// and evicting its oldest entries without invalidating patterns still in use; and a search the
// direct matcher gives up. (That the direct matcher finds what the regular-expression engine
// finds is the class-pattern fuzz target's check, on every input: ctest replays its seeds, among
// them generated ones.)

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/stdlib/string_patterns.h"

namespace cobalt::patterns {
namespace {

/// Restores the default bound and an empty cache around each test.
class PatternCacheTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override
    {
        setPatternCacheCapacity(0);
        clearPatternCache();
    }
};

/// The text of the first match of `pattern` in `subject`, or "<none>".
std::string firstMatch(const PatternRef& pattern, const std::string& subject)
{
    MatchSpans spans;
    if (!searchPattern(*pattern, subject, 0, SearchMode::Fresh, spans)) return "<none>";
    return subject.substr(spans[0].start, spans[0].end - spans[0].start);
}

TEST_F(PatternCacheTest, SharedUntilEvictedBoundedAndOnlyForShortValidTexts)
{
    const PatternRef first = getCachedGsubPattern("(%a+)=(%d+)");
    // More distinct patterns than a thread remembers, so the next look-up reaches the cache.
    for (int i = 0; i < 8; ++i) getCachedGsubPattern(std::string(1, 'x').append(std::to_string(i)));
    EXPECT_EQ(getCachedGsubPattern("(%a+)=(%d+)"), first);
    // A full cache drops its oldest entries; a holder's reference still matches.
    setPatternCacheCapacity(3);
    const PatternRef oldest = getCachedGsubPattern("%d+");
    for (int i = 0; i < 8; ++i) getCachedGsubPattern("word" + std::to_string(i));
    EXPECT_EQ(patternCacheSize(), 3u);
    EXPECT_EQ(firstMatch(oldest, "ab 123 cd"), "123");
    const PatternRef again = getCachedGsubPattern("%d+");
    EXPECT_NE(again, oldest);
    EXPECT_EQ(firstMatch(again, "ab 123 cd"), "123");
    setPatternCacheCapacity(1);  // lowering the bound trims at once
    EXPECT_EQ(patternCacheSize(), 1u);

    // Long texts are used but not cached, rejected ones neither.
    clearPatternCache();
    const std::string text(kMaxCachedPatternBytes + 1, 'n');
    EXPECT_EQ(firstMatch(getCachedGsubPattern(text), "x" + text + "x"), text);
    EXPECT_THROW(getCachedGsubPattern("re:(unclosed"), std::runtime_error);
    EXPECT_THROW(getCachedGsubPattern("/x/q"), std::runtime_error);
    EXPECT_EQ(patternCacheSize(), 0u);
    getCachedGsubPattern(text.substr(1));
    EXPECT_EQ(patternCacheSize(), 1u);
}

TEST_F(PatternCacheTest, ThreadsCompileAndMatchAtOnceWhileEntriesAreEvicted)
{
    // A bound well below the number of distinct texts keeps eviction running throughout.
    setPatternCacheCapacity(8);
    constexpr int kThreads = 6, kRounds = 300;
    std::atomic<int> wrong{0}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong, &failures] {
            for (int round = 0; round < kRounds; ++round) {
                try {
                    // Shared texts every thread uses, and texts of this thread alone.
                    const std::string number = std::to_string(round % 17);
                    const PatternRef shared = getCachedGsubPattern("n" + number + "=(%d+)");
                    const PatternRef own = getCachedGsubPattern("t" + std::to_string(t) + "%-" + number);
                    const PatternRef slash = getCachedGsubPattern("/K" + number + "/i");
                    if (firstMatch(shared, "x n" + number + "=42 y") != "n" + number + "=42") ++wrong;
                    if (firstMatch(own, "a t" + std::to_string(t) + "-" + number + " b") !=
                        "t" + std::to_string(t) + "-" + number) {
                        ++wrong;
                    }
                    if (firstMatch(slash, "k" + number) != "k" + number) ++wrong;
                    if (round % 50 == 0) getCachedGsubPattern("re:[broken");
                } catch (const std::runtime_error&) {
                    ++failures;  // only the deliberately broken pattern
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(failures.load(), kThreads * (kRounds / 50));
    EXPECT_LE(patternCacheSize(), 8u);
}

TEST(DirectMatcherTest, HopelessSearchesStillEndWithTheEnginesVerdict)
{
    // Stacked repetitions over a long run: the direct matcher gives up, the engine decides.
    const PatternRef pattern = getCachedGsubPattern("a*a*a*a*a*a*b");
    ASSERT_TRUE(hasDirectMatcher(*pattern));
    const std::string subject(20000, 'a');
    MatchSpans spans;
    try {
        EXPECT_FALSE(searchPattern(*pattern, subject, 0, SearchMode::Fresh, spans));
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("too complex"), std::string::npos);
    }
}

} // namespace
} // namespace cobalt::patterns
