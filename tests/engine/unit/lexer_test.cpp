// The tokeniser and the token rules: where tokens split, comments, string literals and
// their decoding, names, boolean spellings, pointer literals and number shapes.

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "engine/lexer/token_analysis.h"
#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

TokenList tokensOf(const std::string& text)
{
    CobaltScript engine;
    return engine.tokenise(text);
}

using Tokens = std::vector<std::string>;

// ---- splitting, comments and string literals ----

TEST(Tokeniser, TextsSplitIntoTheseTokens)
{
    const std::vector<std::pair<std::string, Tokens>> cases{
        // operators split without spaces (the scripts in tokens/ show the everyday ones)
        {"a<=-1", {"a", "<=", "-", "1"}},
        {"f(a,b)[1]{k:v};x^y%z\\w/v*u+t-s<r>q!p",
         {"f", "(", "a", ",", "b", ")", "[", "1", "]", "{", "k", ":", "v", "}", ";", "x", "^", "y",
          "%", "z", "\\", "w", "/", "v", "*", "u", "+", "t", "-", "s", "<", "r", ">", "q", "!", "p"}},
        // dots and lone logic bytes stay inside words
        {"3.25 a.b string.len ...", {"3.25", "a.b", "string.len", "..."}},
        {"a&b c|d ~e f?g h`i", {"a&b", "c|d", "~e", "f?g", "h`i"}}, {"a&&&b", {"a", "&&", "&b"}},
        {"$x _y", {"$x", "_y"}},
        // white space of every kind separates; bytes above 127 are word bytes
        {" a\tb\rc\nd\ve\ff ", {"a", "b", "c", "d", "e", "f"}}, {"  \t\r", {}}, {"", {}},
        {"caf\xc3\xa9 = 1", {"caf\xc3\xa9", "=", "1"}},
        // "#" stays in a scoped name only
        {"count#2", {"count#2"}}, {"count #2", {"count", "#", "2"}}, {"#t", {"#", "t"}}, {"#2", {"#", "2"}},
        {"a#b", {"a", "#", "b"}}, {"a#", {"a", "#"}}, {"count#12", {"count#12"}},
        // "@@" starts a comment
        {"a@@b", {"a"}}, {"a@b @c", {"a@b", "@c"}},
        {"\"@@\" x", {"\"@@\"", "x"}},
        // string literals are one token with their escapes kept
        {"'a\\'b'", {"'a\\'b'"}},
        {"x=\"a\\\\\"+y", {"x", "=", "\"a\\\\\"", "+", "y"}}, {"ab\"c\"d", {"ab", "\"c\"", "d"}},
        {"\"\"''", {"\"\"", "''"}},
    };
    for (const auto& [text, tokens] : cases) EXPECT_EQ(tokensOf(text), tokens) << text;
    for (const char* op : {"!=", "%=", "*=", "+=", "/=", "==", ">=", "\\=", "^=", "~=", "&&", "-=", "->", "<-", "<=",
                           "||"}) {
        EXPECT_EQ(tokensOf(std::string("a") + op + "b"), (Tokens{"a", op, "b"})) << op;
    }
}

TEST(Tokeniser, TokenisingMakesTheTextTheCurrentSourceLine)
{
    CobaltScript engine;
    engine.errorContext.nearToken = "old";
    engine.tokenise(std::string("y = 2"));
    ASSERT_NE(engine.errorContext.sourceText, nullptr);
    EXPECT_EQ(*engine.errorContext.sourceText, "y = 2");  // survives the caller's string
    EXPECT_TRUE(engine.errorContext.nearToken.empty());
    // An escaped closing quote does not close (the layout: tokens/unterminated_string.cbs).
    EXPECT_NE(failureOf([&] { engine.tokenise("s = \"ab\\\""); }).find("near token '\"ab\\\"'"), std::string::npos);
}

// Tokens that are no complete quoted string come back unchanged.
TEST(StringTokens, Decoding)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"'a\\'b'", "a'b"}, {"\"a\\nb\\tc\\rd\"", "a\nb\tc\rd"}, {"\"\\\\\"", "\\"}, {"\"\\q\\\"\"", "q\""},
        {"\"ab\\\"", "ab\\"}, {"\"\"", ""}, {"abc", "abc"}, {"\"abc'", "\"abc'"}, {"\"", "\""}, {"a\\n", "a\\n"},
    };
    for (const auto& [token, decoded] : cases) EXPECT_EQ(decodeStringToken(token), decoded) << token;
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
}

TEST(TokenRules, PointerLiteralsAreDollarAndHexDigits)
{
    const std::vector<std::pair<const char*, uintptr_t>> cases{
        {"$1F", 0x1F}, {"$abc", 0xABC}, {"$0", 0}, {"$FFFFFFFFFFFFFFFF", UINTPTR_MAX}};
    for (const auto& [text, value] : cases) {
        void* address = &address;
        ASSERT_TRUE(parsePointerLiteral(text, address)) << text;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(address), value) << text;
    }
    void* untouched = nullptr;
    for (const char* other : {"$", "$1G", "$10000000000000000", "1F", "$-1", "$ 1", "$1F#2"}) {
        EXPECT_FALSE(parsePointerLiteral(other, untouched)) << other;
    }
    EXPECT_EQ(untouched, nullptr);
}

TEST(TokenRules, NumberShapes)
{
    for (const char* shape : {"7", "7.", "7.25", ".5", "-5", "+5", "-.5", "007", "2147483648"}) {
        EXPECT_TRUE(tokenLooksNumeric(shape)) << shape;
    }
    for (const char* other : {"1e5", "1.2.3", ".", "-", "+", "", "-.", "1a", "0x10", "1,5", "--1", " 1"}) {
        EXPECT_FALSE(tokenLooksNumeric(other)) << other;
    }
    // What the token analysis records of a number: integer and its value only in the int range.
    const TokenAnalysis big = analyseToken("2147483648"), low = analyseToken("-2147483648"), dotted = analyseToken("7.");
    EXPECT_TRUE(big.isNumeric && !big.isInteger && !big.hasFloatMarker && !big.isIdentifier);
    EXPECT_TRUE(low.isInteger && low.intValue == INT32_MIN);
    EXPECT_TRUE(dotted.isNumeric && dotted.hasFloatMarker && !dotted.isInteger);
    EXPECT_FALSE(analyseToken("1e5").isNumeric);
}

// ---- strict number parsing ----

TEST(NumberParsing, IntegersMustBeWholeAndInRange)
{
    for (const auto& [text, expected] : {std::pair{"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"-0", 0}}) {
        int32_t value = 99;
        EXPECT_TRUE(parseIntStrict(text, value) && value == expected) << text;
    }
    int32_t value = 99;
    for (const char* other : {"", "+1", " 1", "1 ", "2147483648", "-2147483649", "-", "12a", "1.0", "0x10"}) {
        EXPECT_FALSE(parseIntStrict(other, value)) << other;
    }
    EXPECT_EQ(value, 99);
}

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
