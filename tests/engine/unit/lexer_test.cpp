// The tokeniser and the token rules: where tokens split, comments, string literals and
// their decoding, names, boolean spellings, pointer literals and number shapes.

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
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

// ---- splitting, comments and string literals ----

TEST(Tokeniser, TextsSplitIntoTheseTokens)
{
    const std::vector<std::pair<std::string, Tokens>> cases{
        // operators split without spaces
        {"a==b", {"a", "==", "b"}},
        {"a=-1", {"a", "=", "-", "1"}},
        {"x<-1", {"x", "<-", "1"}},
        {"x< -1", {"x", "<", "-", "1"}},
        {"a<=-1", {"a", "<=", "-", "1"}},
        {"f(a,b)[1]{k:v};x^y%z\\w/v*u+t-s<r>q!p",
         {"f", "(", "a", ",", "b", ")", "[", "1", "]", "{", "k", ":", "v", "}", ";", "x", "^", "y",
          "%", "z", "\\", "w", "/", "v", "*", "u", "+", "t", "-", "s", "<", "r", ">", "q", "!", "p"}},
        {"==", {"=="}},
        {"a = b", {"a", "=", "b"}},
        // dots and lone logic bytes stay inside words
        {"3.25 a.b string.len ...", {"3.25", "a.b", "string.len", "..."}},
        {"a&b c|d ~e f?g h`i", {"a&b", "c|d", "~e", "f?g", "h`i"}},
        {"a&&&b", {"a", "&&", "&b"}},
        {"$x _y", {"$x", "_y"}},
        // white space of every kind separates; bytes above 127 are word bytes
        {" a\tb\rc\nd\ve\ff ", {"a", "b", "c", "d", "e", "f"}},
        {"  \t\r", {}},
        {"", {}},
        {"caf\xc3\xa9 = 1", {"caf\xc3\xa9", "=", "1"}},
        // "#" stays in a scoped name only
        {"count#2", {"count#2"}},
        {"count #2", {"count", "#", "2"}},
        {"#t", {"#", "t"}},
        {"#2", {"#", "2"}},
        {"a#b", {"a", "#", "b"}},
        {"a#", {"a", "#"}},
        {"count#12", {"count#12"}},
        // "@@" starts a comment
        {"print(\"x\") @@ comment", {"print", "(", "\"x\"", ")"}},
        {"a@@b", {"a"}},
        {"a@b @c", {"a@b", "@c"}},
        {"\"@@\" x", {"\"@@\"", "x"}},
        // string literals are one token with their escapes kept
        {"\"it's inside double quotes\"", {"\"it's inside double quotes\""}},
        {"'a\\'b'", {"'a\\'b'"}},
        {"x=\"a\\\\\"+y", {"x", "=", "\"a\\\\\"", "+", "y"}},
        {"ab\"c\"d", {"ab", "\"c\"", "d"}},
        {"\"\"''", {"\"\"", "''"}},
    };
    for (const auto& [text, tokens] : cases) EXPECT_EQ(tokensOf(text), tokens) << text;
    for (const char* op : {"!=", "%=", "*=", "+=", "/=", "==", ">=", "\\=", "^=", "~=", "&&", "-=", "->", "<-", "<=",
                           "||"}) {
        EXPECT_EQ(tokensOf(std::string("a") + op + "b"), (Tokens{"a", op, "b"})) << op;
    }
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

// The C conversion under the "C" locale is the reference for whole-text parsing.
TEST(NumberParsing, FloatsAgreeWithStrtofOnWholeTexts)
{
    const char* samples[] = {"0",       "-0",       "3.4028235e38", "3.4028236e38", "1e-38",   "1.17549435e-38",
                             "1e-40",   "1e-45",    "0x1p-149",     "0x1p-150",     "0X1.8P1", "INF",
                             "Infinity", "nan(1)",  "0.1",          "16777217",     "1e",      "e5",
                             "5.",      "0x.8",     "00012.5000",   "1e+5",         "1e-5x",   "\n7",
                             "1.5",     "+2.5",     " \t-3",        "1e3",          "0x10",    ".5",
                             "-inf",    "nan",      "",             "1.5 ",         "1,5",     "--1",
                             "+-1",     "0x",       "0xinf",        "1e39",         "-1e39",   "1e-50",
                             "abc",     " "};
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
