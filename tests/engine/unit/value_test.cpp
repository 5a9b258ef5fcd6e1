// Script values: values too deep for recursion, and strict float parsing of whole texts in the
// shapes no script writes (hexadecimal floats, infinities and NaNs, values past the float range).
// (Text forms: values/text_forms.cbs, and for raw bytes snapshots/round_trip.cbs; equality of
// every kind: values/equality.cbs; float text, saturating conversions: the scripts in values/;
// token shapes: the scripts in tokens/ and builtins/to_number.cbs.)

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "engine/lexer/token_analysis.h"
#include "engine/value/block_cache.h"
#include "engine/value/variable.h"
#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

Variable arrayOf(std::vector<Variable> items) { return Variable::makeArray(std::move(items)); }

// ---- values too deep for recursion ----

constexpr int kDeep = 20'000;

TEST(ValueText, VeryDeepValuesPrintAndFreeWithoutRecursion)
{
    size_t arrayText = 0, tableText = 0;
    // Any recursion per nesting level of a value this deep would overflow a 256 KiB stack.
    onSmallStack(256 * 1024, [&] {
        Variable value = Variable::makeArray();
        for (int i = 0; i < kDeep; ++i) value = arrayOf({value});
        arrayText = value.toString().size();
        value = Variable();
        Variable table = Variable::makeTable();
        for (int i = 0; i < kDeep; ++i) {
            Variable next = Variable::makeTable();
            next.asTable()->map["t"] = std::move(table);
            table = std::move(next);
        }
        tableText = table.toString().size();
        table = Variable();
        Variable multi = Variable::makeMulti({});
        for (int i = 0; i < kDeep; ++i) multi = Variable::makeMulti({multi});
        multi = Variable();
    });
    EXPECT_EQ(arrayText, size_t{2} * (kDeep + 1));
    EXPECT_EQ(tableText, size_t{5} * kDeep + 2);
}

// ---- strict number parsing ----

// The C conversion under the "C" locale is the reference for whole-text parsing.
// ---- the block cache behind table storage ----

TEST(BlockCache, ReusesFreedBlocksOfTheSameSizeAndSurvivesOtherThreads)
{
#ifdef COBALT_BLOCK_CACHE_OFF
    GTEST_SKIP() << "the cache stands aside under AddressSanitizer";
#else
    // A freed block comes back for the next request of its size class, not for another.
    void* first = blockCache::allocate(100);
    blockCache::deallocate(first, 100);
    void* large = blockCache::allocate(200);
    EXPECT_NE(large, first);
    EXPECT_EQ(blockCache::allocate(97), first);  // 97..112 bytes share one class
    blockCache::deallocate(first, 97);
    blockCache::deallocate(large, 200);

    // Blocks freed by a thread that then ends go back to the general allocator, and tables
    // made on one thread may be dropped on another.
    Variable table = Variable::makeTable();
    table.asTable()->map["key"] = Variable(1);
    std::thread([moved = std::move(table)]() mutable {
        void* block = blockCache::allocate(64);
        blockCache::deallocate(block, 64);
        moved = Variable();
    }).join();
    EXPECT_EQ(blockCache::allocate(100), first);
    blockCache::deallocate(first, 100);
#endif
}

TEST(NumberParsing, FloatsAgreeWithStrtofOnWholeTexts)
{
    const char* samples[] = {
        "0", "-0", "3.4028235e38", "3.4028236e38", "1e-38", "1.17549435e-38", "1e-40", "1e-45", "0x1p-149", "0x1p-150",
        "0X1.8P1", "INF", "Infinity", "nan(1)", "0.1", "16777217", "1e", "e5", "5.", "0x.8", "00012.5000", "1e+5",
        "1e-5x", "\n7", "1.5", "+2.5", " \t-3", "1e3", "0x10", ".5", "-inf", "nan", "", "1.5 ", "1,5", "--1", "+-1",
        "0x", "0xinf", "1e39", "-1e39", "1e-50", "abc", " "};
    for (const char* sample : samples) {
        errno = 0;
        char* end = nullptr;
        const float expected = std::strtof(sample, &end);
        const bool expectedOk = *sample != '\0' && *end == '\0' && errno != ERANGE;
        float value = 0.0f;
        const bool ok = parseFloatStrict(sample, value);
        EXPECT_EQ(ok, expectedOk) << sample;
        if (ok && expectedOk && !std::isnan(expected)) {
            EXPECT_EQ(value, expected) << sample;
        }
    }
}

} // namespace
} // namespace cobalt
