// The tokeniser and the token rules: where tokens split, comments, string literals and
// their decoding, names, boolean spellings, pointer literals and number shapes.

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/lexer/token_analysis.h"

namespace cobalt {
namespace {

TokenList tokensOf(const std::string& text)
{
    CobaltScript engine;
    return engine.tokenise(text);
}

std::string tokeniseFailure(const std::string& text)
{
    CobaltScript engine;
    try {
        engine.tokenise(text);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no failure)";
}

using Tokens = std::vector<std::string>;

// ---- splitting ----

TEST(Tokeniser, OperatorsSplitWithoutSpaces)
{
    EXPECT_EQ(tokensOf("a==b"), (Tokens{"a", "==", "b"}));
    EXPECT_EQ(tokensOf("a=-1"), (Tokens{"a", "=", "-", "1"}));
    EXPECT_EQ(tokensOf("x<-1"), (Tokens{"x", "<-", "1"}));
    EXPECT_EQ(tokensOf("x< -1"), (Tokens{"x", "<", "-", "1"}));
    EXPECT_EQ(tokensOf("a<=-1"), (Tokens{"a", "<=", "-", "1"}));
}

TEST(Tokeniser, EveryTwoByteOperatorIsOneToken)
{
    for (const char* op : {"!=", "%=", "*=", "+=", "/=", "==", ">=", "\\=", "^=", "~=", "&&", "-=", "->", "<-", "<=",
                           "||"}) {
        EXPECT_EQ(tokensOf(std::string("a") + op + "b"), (Tokens{"a", op, "b"})) << op;
    }
}

TEST(Tokeniser, OneByteTokensStandAlone)
{
    EXPECT_EQ(tokensOf("f(a,b)[1]{k:v};x^y%z\\w/v*u+t-s<r>q!p"),
              (Tokens{"f", "(", "a", ",", "b", ")", "[", "1", "]", "{", "k", ":", "v", "}", ";", "x", "^", "y",
                      "%", "z", "\\", "w", "/", "v", "*", "u", "+", "t", "-", "s", "<", "r", ">", "q", "!", "p"}));
    EXPECT_EQ(tokensOf("=="), (Tokens{"=="}));
    EXPECT_EQ(tokensOf("a = b"), (Tokens{"a", "=", "b"}));
}

TEST(Tokeniser, DotsAndLoneLogicBytesStayInsideWords)
{
    EXPECT_EQ(tokensOf("3.25 a.b string.len ..."), (Tokens{"3.25", "a.b", "string.len", "..."}));
    EXPECT_EQ(tokensOf("a&b c|d ~e f?g h`i"), (Tokens{"a&b", "c|d", "~e", "f?g", "h`i"}));
    EXPECT_EQ(tokensOf("a&&&b"), (Tokens{"a", "&&", "&b"}));
    EXPECT_EQ(tokensOf("$x _y"), (Tokens{"$x", "_y"}));
}

TEST(Tokeniser, WhiteSpaceOfEveryKindSeparates)
{
    EXPECT_EQ(tokensOf(" a\tb\rc\nd\ve\ff "), (Tokens{"a", "b", "c", "d", "e", "f"}));
    EXPECT_TRUE(tokensOf("  \t\r").empty());
    EXPECT_TRUE(tokensOf("").empty());
}

TEST(Tokeniser, BytesAbove127AreWordBytes)
{
    EXPECT_EQ(tokensOf("caf\xc3\xa9 = 1"), (Tokens{"caf\xc3\xa9", "=", "1"}));
}

TEST(Tokeniser, HashStaysInAScopedNameOnly)
{
    EXPECT_EQ(tokensOf("count#2"), (Tokens{"count#2"}));
    EXPECT_EQ(tokensOf("count #2"), (Tokens{"count", "#", "2"}));
    EXPECT_EQ(tokensOf("#t"), (Tokens{"#", "t"}));
    EXPECT_EQ(tokensOf("#2"), (Tokens{"#", "2"}));
    EXPECT_EQ(tokensOf("a#b"), (Tokens{"a", "#", "b"}));
    EXPECT_EQ(tokensOf("a#"), (Tokens{"a", "#"}));
    EXPECT_EQ(tokensOf("count#12"), (Tokens{"count#12"}));
}

// ---- comments and strings ----

TEST(Tokeniser, DoubleAtStartsAComment)
{
    EXPECT_EQ(tokensOf("print(\"x\") @@ comment"), (Tokens{"print", "(", "\"x\"", ")"}));
    EXPECT_EQ(tokensOf("a@@b"), (Tokens{"a"}));
    EXPECT_EQ(tokensOf("a@b @c"), (Tokens{"a@b", "@c"}));
    EXPECT_EQ(tokensOf("\"@@\" x"), (Tokens{"\"@@\"", "x"}));
}

TEST(Tokeniser, StringLiteralsAreOneTokenWithEscapesKept)
{
    EXPECT_EQ(tokensOf("\"it's inside double quotes\""), (Tokens{"\"it's inside double quotes\""}));
    EXPECT_EQ(tokensOf("'a\\'b'"), (Tokens{"'a\\'b'"}));
    EXPECT_EQ(tokensOf("x=\"a\\\\\"+y"), (Tokens{"x", "=", "\"a\\\\\"", "+", "y"}));
    EXPECT_EQ(tokensOf("ab\"c\"d"), (Tokens{"ab", "\"c\"", "d"}));
    EXPECT_EQ(tokensOf("\"\"''"), (Tokens{"\"\"", "''"}));
}

TEST(Tokeniser, UnterminatedStringIsAPositionedError)
{
    EXPECT_EQ(tokeniseFailure("x = 'abc"),
              "CobaltScript error: Unterminated string literal\n"
              "  at line 1, near token ''abc'\n"
              "  x = 'abc\n"
              "      ^~~~\n"
              "  hint: check spelling, operators, parentheses, and quote matching\n");
    // An escaped closing quote does not close.
    EXPECT_NE(tokeniseFailure("s = \"ab\\\"").find("near token '\"ab\\\"'"), std::string::npos);
}

TEST(Tokeniser, TokenisingMakesTheTextTheCurrentSourceLine)
{
    CobaltScript engine;
    engine.errorContext.nearToken = "old";
    {
        std::string temporary = "y = 2";
        engine.tokenise(temporary);
    }
    ASSERT_NE(engine.errorContext.sourceText, nullptr);
    EXPECT_EQ(*engine.errorContext.sourceText, "y = 2");  // survives the caller's string
    EXPECT_TRUE(engine.errorContext.nearToken.empty());
}

// ---- string decoding ----

TEST(StringTokens, DecodingHandlesEscapes)
{
    EXPECT_EQ(decodeStringToken("'a\\'b'"), "a'b");
    EXPECT_EQ(decodeStringToken("\"a\\nb\\tc\\rd\""), "a\nb\tc\rd");
    EXPECT_EQ(decodeStringToken("\"\\\\\""), "\\");
    EXPECT_EQ(decodeStringToken("\"\\q\\\"\""), "q\"");
    EXPECT_EQ(decodeStringToken("\"ab\\\""), "ab\\");  // a trailing backslash stays
    EXPECT_EQ(decodeStringToken("\"\""), "");
}

TEST(StringTokens, UnquotedTokensComeBackUnchanged)
{
    EXPECT_EQ(decodeStringToken("abc"), "abc");
    EXPECT_EQ(decodeStringToken("\"abc'"), "\"abc'");
    EXPECT_EQ(decodeStringToken("\""), "\"");
    EXPECT_EQ(decodeStringToken("a\\n"), "a\\n");
    EXPECT_TRUE(isQuotedToken("''"));
    EXPECT_FALSE(isQuotedToken("'"));
    EXPECT_FALSE(isQuotedToken("'a\""));
}

// ---- names and literals ----

TEST(TokenRules, IdentifiersFollowTheNameRule)
{
    for (const char* name : {"a", "_x", "$", "$1G", "abc_123", "A$b", "count#0", "count#3", "count#03", "_#1",
                             "$1F#2"}) {
        EXPECT_TRUE(isIdentifierToken(name)) << name;
    }
    for (const char* other : {"", "1a", "a.b", "count#4", "count#12", "count#2#3", "#2", "a#", "1#2", "$1F",
                              "$abc", "$0", "a-b", "\"a\"", "caf\xc3\xa9"}) {
        EXPECT_FALSE(isIdentifierToken(other)) << other;
    }
    CobaltScript engine;
    EXPECT_TRUE(engine.isIdentifier("count#2"));
    EXPECT_FALSE(engine.isIdentifier("$1F"));
}

TEST(TokenRules, PointerLiteralsAreDollarAndHexDigits)
{
    void* address = nullptr;
    ASSERT_TRUE(parsePointerLiteral("$1F", address));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(address), 0x1Fu);
    ASSERT_TRUE(parsePointerLiteral("$abc", address));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(address), 0xABCu);
    ASSERT_TRUE(parsePointerLiteral("$0", address));
    EXPECT_EQ(address, nullptr);
    ASSERT_TRUE(parsePointerLiteral("$FFFFFFFFFFFFFFFF", address));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(address), UINTPTR_MAX);

    void* untouched = &address;
    for (const char* other : {"$", "$1G", "$10000000000000000", "1F", "$-1", "$ 1", "$1F#2"}) {
        EXPECT_FALSE(parsePointerLiteral(other, untouched)) << other;
    }
    EXPECT_EQ(untouched, &address);
}

TEST(TokenRules, NumberShapes)
{
    for (const char* shape : {"7", "7.", "7.25", ".5", "-5", "+5", "-.5", "007", "2147483648"}) {
        EXPECT_TRUE(tokenLooksNumeric(shape)) << shape;
    }
    for (const char* other : {"1e5", "1.2.3", ".", "-", "+", "", "-.", "1a", "0x10", "1,5", "--1", " 1"}) {
        EXPECT_FALSE(tokenLooksNumeric(other)) << other;
    }
}

TEST(TokenAnalysisTest, IntegersAndFloatMarkers)
{
    TokenAnalysis seven = analyseToken("007");
    EXPECT_TRUE(seven.isNumeric);
    EXPECT_FALSE(seven.hasFloatMarker);
    EXPECT_TRUE(seven.isInteger);
    EXPECT_EQ(seven.intValue, 7);

    TokenAnalysis tooBig = analyseToken("2147483648");
    EXPECT_TRUE(tooBig.isNumeric);
    EXPECT_FALSE(tooBig.isInteger);

    TokenAnalysis smallest = analyseToken("-2147483648");
    EXPECT_TRUE(smallest.isInteger);
    EXPECT_EQ(smallest.intValue, INT32_MIN);

    TokenAnalysis plus = analyseToken("+5");
    EXPECT_TRUE(plus.isNumeric);
    EXPECT_FALSE(plus.isInteger);

    TokenAnalysis fraction = analyseToken("7.");
    EXPECT_TRUE(fraction.isNumeric);
    EXPECT_TRUE(fraction.hasFloatMarker);
    EXPECT_FALSE(fraction.isInteger);

    TokenAnalysis exponent = analyseToken("1e5");
    EXPECT_FALSE(exponent.isNumeric);
    EXPECT_FALSE(exponent.isIdentifier);
}

// ---- strict number parsing ----

TEST(NumberParsing, IntegersMustBeWholeAndInRange)
{
    int32_t value = 99;
    EXPECT_TRUE(parseIntStrict("2147483647", value));
    EXPECT_EQ(value, INT32_MAX);
    EXPECT_TRUE(parseIntStrict("-2147483648", value));
    EXPECT_EQ(value, INT32_MIN);
    EXPECT_TRUE(parseIntStrict("-0", value));
    EXPECT_EQ(value, 0);
    value = 99;
    for (const char* other : {"", "+1", " 1", "1 ", "2147483648", "-2147483649", "-", "12a", "1.0", "0x10"}) {
        EXPECT_FALSE(parseIntStrict(other, value)) << other;
    }
    EXPECT_EQ(value, 99);
}

TEST(NumberParsing, FloatsAreReadLikeTheCConversion)
{
    float value = 0.0f;
    EXPECT_TRUE(parseFloatStrict("1.5", value));
    EXPECT_EQ(value, 1.5f);
    EXPECT_TRUE(parseFloatStrict("+2.5", value));
    EXPECT_EQ(value, 2.5f);
    EXPECT_TRUE(parseFloatStrict(" \t-3", value));
    EXPECT_EQ(value, -3.0f);
    EXPECT_TRUE(parseFloatStrict("1e3", value));
    EXPECT_EQ(value, 1000.0f);
    EXPECT_TRUE(parseFloatStrict("0x10", value));
    EXPECT_EQ(value, 16.0f);
    EXPECT_TRUE(parseFloatStrict(".5", value));
    EXPECT_EQ(value, 0.5f);
    EXPECT_TRUE(parseFloatStrict("-inf", value));
    EXPECT_TRUE(std::isinf(value) && value < 0);
    EXPECT_TRUE(parseFloatStrict("nan", value));
    EXPECT_TRUE(std::isnan(value));
    for (const char* other : {"", "1.5 ", "1,5", "--1", "+-1", "0x", "0xinf", "1e39", "-1e39", "1e-50", "abc", " "}) {
        EXPECT_FALSE(parseFloatStrict(other, value)) << other;
    }
}

// The C conversion under the "C" locale is the reference for whole-text parsing.
TEST(NumberParsing, FloatsAgreeWithStrtofOnWholeTexts)
{
    const char* samples[] = {"0",       "-0",       "3.4028235e38", "3.4028236e38", "1e-38",   "1.17549435e-38",
                             "1e-40",   "1e-45",    "0x1p-149",     "0x1p-150",     "0X1.8P1", "INF",
                             "Infinity", "nan(1)",  "0.1",          "16777217",     "1e",      "e5",
                             "5.",      "0x.8",     "00012.5000",   "1e+5",         "1e-5x",   "\n7"};
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
