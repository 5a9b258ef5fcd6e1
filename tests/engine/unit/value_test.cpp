// Script values: values too deep for recursion, and strict float parsing of whole texts in the
// shapes no script writes (hexadecimal floats, infinities and NaNs, values past the float range).
// (Text forms: values/text_forms.cbs, and for raw bytes snapshots/round_trip.cbs; equality of
// every kind: values/equality.cbs; float text, saturating conversions: the scripts in values/;
// token shapes: the scripts in tokens/ and builtins/to_number.cbs.)

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "engine/lexer/token_analysis.h"
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
