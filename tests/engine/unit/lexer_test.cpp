// Strict float parsing of whole texts, against the C library's conversion: the shapes no script
// writes (hexadecimal floats, infinities and NaNs, values past the float range). Where tokens
// split, string literals, names, pointer literals and number shapes are checked by the scripts
// in tokens/ and builtins/to_number.cbs.

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "engine/lexer/token_analysis.h"
#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

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
