// The line parser and line preparation: splitting into statements, kinds and scope
// modifiers, block links, nest labels, assignment shapes and expression ranges.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/cobalt_script.h"

namespace cobalt {
namespace {

ParsedLines parse(const std::string& source)
{
    CobaltScript engine;
    return engine.parseLines(source);
}

std::string parseFailure(const std::string& source)
{
    CobaltScript engine;
    try {
        engine.parseLines(source);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no failure)";
}

std::vector<std::string> textsOf(const ParsedLines& lines)
{
    std::vector<std::string> texts;
    for (const ParsedScriptLine& line : lines) texts.push_back(line.text);
    return texts;
}

std::vector<StatementKind> kindsOf(const ParsedLines& lines)
{
    std::vector<StatementKind> kinds;
    for (const ParsedScriptLine& line : lines) kinds.push_back(line.kind);
    return kinds;
}

/// The tokens of a range joined by spaces, to check ranges by their text.
std::string rangeText(const ParsedScriptLine& line, const TokenRange& range)
{
    std::string text;
    for (uint32_t i = range.begin; i < range.end; ++i) {
        if (!text.empty()) text += ' ';
        text += line.tokens[i];
    }
    return text;
}

std::vector<std::string> exprTexts(const ParsedScriptLine& line)
{
    std::vector<std::string> texts;
    for (const TokenRange& range : line.exprRanges) texts.push_back(rangeText(line, range));
    return texts;
}

using Texts = std::vector<std::string>;
using K = StatementKind;

// ---- splitting into statements ----

TEST(LineSplitting, SemicolonsSeparateStatementsOnOneLine)
{
    ParsedLines lines = parse("a = 1; b = 2\nc = 3");
    EXPECT_EQ(textsOf(lines), (Texts{"a = 1", "b = 2", "c = 3"}));
    EXPECT_EQ(lines[0].lineNumber, 0u);
    EXPECT_EQ(lines[1].lineNumber, 0u);
    EXPECT_EQ(lines[2].lineNumber, 1u);
}

TEST(LineSplitting, OpenBracketsContinueOnTheNextLine)
{
    ParsedLines lines = parse("x = 0\nf(1,\n   2)\ny = [1,\n\n2]");
    EXPECT_EQ(textsOf(lines), (Texts{"x = 0", "f(1, 2)", "y = [1, 2]"}));
    EXPECT_EQ(lines[1].lineNumber, 1u);
    EXPECT_EQ(lines[2].lineNumber, 3u);
    EXPECT_EQ(lines[1].tokens, (TokenList{"f", "(", "1", ",", "2", ")"}));
}

// Each source and the statement texts it splits into.
TEST(LineSplitting, SourcesSplitIntoTheseStatements)
{
    const std::vector<std::pair<std::string, Texts>> cases{
        {"s = \"a;b\"; t = 'c;d'", {"s = \"a;b\"", "t = 'c;d'"}},
        {"x = t[1;2]", {"x = t[1;2]"}},
        {"f({a: 1; b: 2}); g()", {"f({a: 1; b: 2})", "g()"}},
        {"s = \"q\\\";\" ; n", {"s = \"q\\\";\"", "n"}},
        {"a ) ; b\nc", {"a )", "b", "c"}},  // stray closers never go below zero
        {"\t x  =  1 \t;;  y\t", {"x  =  1", "y"}},
        {"f(  \n\t  1  \n )", {"f( 1 )"}},
        {"print(\"x\") @@ say x; more", {"print(\"x\")"}},
        {"s = \"@@\" @@ c", {"s = \"@@\""}},
        {"f(1, @@ first\n 2)", {"f(1, 2)"}},
        {"f(\n\n@@ c\n1)", {"f( 1)"}},  // blank lines inside an open statement add nothing
        {"a\nb", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"", {}},
    };
    for (const auto& [source, texts] : cases) EXPECT_EQ(textsOf(parse(source)), texts) << source;
    EXPECT_EQ(kindsOf(parse("\n")), (std::vector<K>{K::Empty}));
}

TEST(LineSplitting, EmptyLinesAndFirstColumnCommentsKeepTheirPlace)
{
    ParsedLines lines = parse("a = 1\n\n@@ note\n   \n  @@ indented note\nb = 2");
    EXPECT_EQ(textsOf(lines), (Texts{"a = 1", "", "", "b = 2"}));
    EXPECT_EQ(kindsOf(lines), (std::vector<K>{K::Simple, K::Empty, K::Empty, K::Simple}));
    EXPECT_EQ(lines[1].lineNumber, 1u);
    EXPECT_EQ(lines[2].lineNumber, 2u);
    EXPECT_EQ(lines[3].lineNumber, 5u);
}

TEST(LineSplitting, OpenBracketsAtTheEndStillMakeAStatement)
{
    ParsedLines lines = parse("a = 1\nf(1, 2");
    EXPECT_EQ(textsOf(lines), (Texts{"a = 1", "f(1, 2"}));
    EXPECT_EQ(lines[1].lineNumber, 1u);
}

TEST(LineSplitting, StringsMayContinueOnTheNextLine)
{
    ParsedLines lines = parse("s = \"one\ntwo\"\nn = 1");
    EXPECT_EQ(textsOf(lines), (Texts{"s = \"one two\"", "n = 1"}));
    EXPECT_EQ(lines[0].tokens, (TokenList{"s", "=", "\"one two\""}));
}

TEST(LineSplitting, CarriageReturnsStayInTheTextButNotInTheTokens)
{
    ParsedLines lines = parse("a = 1\r\n\r\nif a\r\nend\r\n");
    EXPECT_EQ(textsOf(lines), (Texts{"a = 1\r", "\r", "if a\r", "end\r"}));
    EXPECT_EQ(lines[0].tokens, (TokenList{"a", "=", "1"}));
    EXPECT_TRUE(lines[1].tokens.empty());
    EXPECT_EQ(lines[1].kind, K::Empty);
    EXPECT_EQ(lines[2].kind, K::If);
    EXPECT_EQ(lines[2].matchingEnd, 3u);
}

TEST(LineSplitting, EveryTokenIsAnalysed)
{
    ParsedLines lines = parse("x = 007 + y");
    ASSERT_EQ(lines[0].analyses.size(), lines[0].tokens.size());
    EXPECT_TRUE(lines[0].analyses[0].isIdentifier);
    EXPECT_TRUE(lines[0].analyses[2].isInteger);
    EXPECT_EQ(lines[0].analyses[2].intValue, 7);
}

TEST(LineSplitting, UnterminatedStringFailsOnItsOwnLine)
{
    EXPECT_EQ(parseFailure("a = 1\nb = 2\nx = 'abc"),
              "CobaltScript error: Unterminated string literal\n"
              "  at line 3, near token ''abc'\n"
              "  x = 'abc\n"
              "      ^~~~\n"
              "  hint: check spelling, operators, parentheses, and quote matching\n");
}

TEST(LineSplitting, ErrorContextSurvivesTheParse)
{
    CobaltScript engine;
    engine.parseLines("a = 1\nb = 'x'");
    ASSERT_NE(engine.errorContext.sourceText, nullptr);
    EXPECT_EQ(*engine.errorContext.sourceText, "b = 'x'");
}

// ---- statement kinds ----

TEST(StatementKinds, FirstTokensDecide)
{
    ParsedLines lines = parse(
        "if a\nelseif b\nelse\nend\nwhile c\nrepeat\nuntil d\nfor i = 1, 2\nfunction f()\n"
        "decay function g()\nnative function h()\nlocal function k()\nnest \"n\"\nreturn 1\nbreak\nx = 1\n\n"
        "If a\nlocal x = 1\ndecay = 2");
    EXPECT_EQ(kindsOf(lines),
              (std::vector<K>{K::If, K::ElseIf, K::Else, K::End, K::While, K::Repeat, K::Until, K::For, K::Function,
                              K::DecayFunction, K::NativeFunction, K::LocalFunction, K::Nest, K::Return, K::Break,
                              K::Simple, K::Empty, K::Simple, K::Simple, K::Simple}));
}

TEST(StatementKinds, ModifierWordsSetTheScopeOfSimpleStatements)
{
    ParsedLines lines = parse("native a = 1\nlocal b = 2\nexternal c = 3\nd = 4\nlocal function f()\nend");
    EXPECT_EQ(lines[0].scopeModifier, ScopeModifier::Native);
    EXPECT_EQ(lines[1].scopeModifier, ScopeModifier::Local);
    EXPECT_EQ(lines[2].scopeModifier, ScopeModifier::External);
    EXPECT_EQ(lines[3].scopeModifier, ScopeModifier::None);
    EXPECT_EQ(lines[4].scopeModifier, ScopeModifier::None);
}

// ---- block links ----

TEST(BlockLinks, IfChainBranchesLinkToEachOtherAndToEnd)
{
    ParsedLines lines = parse("if a\nx()\nelseif b\ny()\nelse\nz()\nend");
    EXPECT_EQ(lines[0].nextBranch, 2u);
    EXPECT_EQ(lines[2].nextBranch, 4u);
    EXPECT_EQ(lines[4].nextBranch, kNoLine);
    for (uint64_t branch : {0u, 2u, 4u}) EXPECT_EQ(lines[branch].matchingEnd, 6u);
}

TEST(BlockLinks, NestedBlocksCloseInnermostFirst)
{
    ParsedLines lines = parse(
        "function f(a)\nwhile a\nfor i = 1, 2\nif i\nbreak\nend\nend\nend\nreturn 1\nend\nnest \"n\"\nrepeat\n"
        "until true\nend");
    EXPECT_EQ(lines[0].matchingEnd, 9u);
    EXPECT_EQ(lines[1].matchingEnd, 7u);
    EXPECT_EQ(lines[2].matchingEnd, 6u);
    EXPECT_EQ(lines[3].matchingEnd, 5u);
    EXPECT_EQ(lines[10].matchingEnd, 13u);
    EXPECT_EQ(lines[11].matchingEnd, 12u);
}

TEST(BlockLinks, UnclosedOpenersAndStrayClosersLeaveNoLinks)
{
    ParsedLines lines = parse("end\nuntil x\nelse\nif a\nb = 1");
    for (const ParsedScriptLine& line : lines) {
        EXPECT_EQ(line.matchingEnd, kNoLine) << line.text;
        EXPECT_EQ(line.nextBranch, kNoLine) << line.text;
    }
}

TEST(BlockLinks, UntilClosesOnlyARepeat)
{
    ParsedLines lines = parse("while a\nuntil b\nend\nrepeat\nend");
    EXPECT_EQ(lines[0].matchingEnd, 2u);
    EXPECT_EQ(lines[3].matchingEnd, 4u);  // an "end" closes whatever is open
}

TEST(BlockLinks, ElseInsideALoopOfAnIfIsIgnored)
{
    ParsedLines lines = parse("if a\nwhile b\nelse\nend\nend");
    EXPECT_EQ(lines[0].nextBranch, kNoLine);
    EXPECT_EQ(lines[0].matchingEnd, 4u);
    EXPECT_EQ(lines[1].matchingEnd, 3u);
}

TEST(BlockLinks, PreparingAgainGivesTheSameLinks)
{
    CobaltScript engine;
    ParsedLines lines = engine.parseLines("if a\nb()\nelse\nc()\nend\nwhile x\nend");
    ParsedLines again = lines;
    engine.prepareParsedLines(again);
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(again[i].matchingEnd, lines[i].matchingEnd);
        EXPECT_EQ(again[i].nextBranch, lines[i].nextBranch);
        EXPECT_EQ(again[i].exprRanges.size(), lines[i].exprRanges.size());
    }
}

TEST(BlockLinks, FindMatchingLooksUpTheOpenerBeforeThePosition)
{
    CobaltScript engine;
    ParsedLines lines = engine.parseLines("if a\nelse\nend\nrepeat\nuntil b\nwhile c\nend");
    bool isBranch = false;
    EXPECT_EQ(engine.findMatchingElseOrEnd(lines, 1, isBranch), 1u);
    EXPECT_TRUE(isBranch);
    EXPECT_EQ(engine.findMatchingElseOrEnd(lines, 2, isBranch), 2u);
    EXPECT_FALSE(isBranch);
    EXPECT_EQ(engine.findMatchingUntil(lines, 4), 4u);
    EXPECT_EQ(engine.findMatchingEnd(lines, 6), 6u);
}

TEST(BlockLinks, MissingClosersFailWithTheirMessages)
{
    CobaltScript engine;
    ParsedLines lines = engine.parseLines("if a\nwhile b\nrepeat\nx = 1");
    bool isBranch = false;
    const auto failureOf = [](auto&& action) -> std::string {
        try {
            action();
        } catch (const std::exception& error) {
            return error.what();
        }
        return "(no failure)";
    };
    EXPECT_EQ(failureOf([&] { engine.findMatchingElseOrEnd(lines, 1, isBranch); }), "Missing 'end' for if block");
    EXPECT_EQ(failureOf([&] { engine.findMatchingEnd(lines, 2); }), "Missing 'end' for block");
    EXPECT_EQ(failureOf([&] { engine.findMatchingUntil(lines, 3); }), "Missing 'until' for repeat block");
    EXPECT_EQ(failureOf([&] { engine.findMatchingEnd(lines, 0); }), "Missing 'end' for block");
    EXPECT_EQ(failureOf([&] { engine.findMatchingEnd(lines, 5); }), "Missing 'end' for block");
    EXPECT_EQ(failureOf([&] { engine.findMatchingUntil(lines, 99); }), "Missing 'until' for repeat block");
    EXPECT_EQ(failureOf([&] { engine.findMatchingElseOrEnd(lines, 0, isBranch); }), "Missing 'end' for if block");
}

// ---- nest labels ----

TEST(NestLabels, LabelMustBeOneStringLiteral)
{
    EXPECT_EQ(parseFailure("nest label\nend"), "nest labels must be string literals");
    EXPECT_EQ(parseFailure("nest\nend"), "nest labels must be string literals");
    EXPECT_EQ(parseFailure("nest \"a\" \"b\"\nend"), "nest labels must be string literals");
    EXPECT_EQ(parseFailure("nest \"a\" .. x\nend"), "nest labels must be string literals");
    EXPECT_EQ(parseFailure("x = 1\nnest ''\nend"), "nest label must not be empty");
    EXPECT_EQ(parseFailure("nest 'ok'\nend\nnest \"\\n\"\nend"), "(no failure)");
}

TEST(NestLabels, TheFailingLineIsLeftInThePositionContext)
{
    CobaltScript engine;
    try {
        engine.parseLines("a = 1\n\nnest   oops\nend");
        FAIL() << "expected a failure";
    } catch (const std::exception&) {
    }
    EXPECT_EQ(engine.errorContext.currentLine, 2u);
    ASSERT_NE(engine.errorContext.sourceText, nullptr);
    EXPECT_EQ(*engine.errorContext.sourceText, "nest   oops");
    EXPECT_EQ(engine.errorContext.nearToken, "oops");
}

// ---- assignments ----

TEST(Assignments, TargetsOperatorAndRightSides)
{
    ParsedLines lines = parse("a, b = 1, f(2, 3)");
    const ParsedScriptLine& line = lines[0];
    ASSERT_TRUE(line.isAssignment);
    EXPECT_EQ(line.assignOperatorIndex, 3u);
    ASSERT_EQ(line.assignmentTargets.size(), 2u);
    EXPECT_EQ(line.assignmentTargets[0].nameIndex, 0u);
    EXPECT_EQ(line.assignmentTargets[1].nameIndex, 2u);
    EXPECT_TRUE(line.assignmentTargets[0].indexRanges.empty());
    EXPECT_EQ(exprTexts(line), (Texts{"1", "f ( 2 , 3 )"}));
    EXPECT_EQ(line.exprFast.size(), line.exprRanges.size());
}

TEST(Assignments, IndexedTargetsRecordEachKeyRange)
{
    ParsedLines lines = parse("t[i][a[1] + (2)] = {k: [1, 2]}, x");
    const ParsedScriptLine& line = lines[0];
    ASSERT_TRUE(line.isAssignment);
    ASSERT_EQ(line.assignmentTargets.size(), 1u);
    const ParsedAssignmentTarget& target = line.assignmentTargets[0];
    ASSERT_EQ(target.indexRanges.size(), 2u);
    EXPECT_EQ(rangeText(line, target.indexRanges[0]), "i");
    EXPECT_EQ(rangeText(line, target.indexRanges[1]), "a [ 1 ] + ( 2 )");
    EXPECT_EQ(target.indexFast.size(), 2u);
    EXPECT_EQ(exprTexts(line), (Texts{"{ k : [ 1 , 2 ] }", "x"}));
}

TEST(Assignments, OtherShapesAreExpressionStatements)
{
    for (const char* text : {"f(x)", "a == b", "f(x) = 3", "a, b", "t[1 = 2", "t[(]) = 1", "1 = 2", "x", "local x",
                             "a.b = 1", "x[1] == 2"}) {
        ParsedLines lines = parse(text);
        EXPECT_FALSE(lines[0].isAssignment) << text;
        EXPECT_TRUE(lines[0].assignmentTargets.empty()) << text;
        ASSERT_EQ(lines[0].exprRanges.size(), 1u) << text;
        EXPECT_EQ(lines[0].exprRanges[0].begin, 0u) << text;
        EXPECT_EQ(lines[0].exprRanges[0].end, lines[0].tokens.size()) << text;
    }
}

TEST(Assignments, MissingRightSidesAreEmptyRanges)
{
    ParsedLines lines = parse("x =\ny = 1,");
    ASSERT_EQ(lines[0].exprRanges.size(), 1u);
    EXPECT_TRUE(lines[0].exprRanges[0].empty());
    EXPECT_FALSE(lines[0].exprFast[0].valid());
    EXPECT_EQ(exprTexts(lines[1]), (Texts{"1", ""}));
}

// ---- expression ranges of the other kinds ----

// Each statement's expression ranges, by the text of their tokens.
TEST(ExpressionRanges, EachKindHasItsRanges)
{
    struct Case {
        const char* source;
        size_t line;
        Texts ranges;
    };
    const Case cases[] = {
        // conditions are the rest of the line
        {"if a and b\nend", 0, {"a and b"}},
        {"while x < 3\nend", 0, {"x < 3"}},
        {"repeat\nuntil done", 1, {"done"}},
        {"repeat\nuntil done", 0, {}},
        {"if\nend", 0, {""}},
        // return values split at top-level commas
        {"return f(a, b), [c, d], e", 0, {"f ( a , b )", "[ c , d ]", "e"}},
        {"return", 0, {}},
        // numeric for: start, stop and step
        {"for i = f(1, 2), 10\nend", 0, {"f ( 1 , 2 )", "10"}},
        {"for i = 1, 10, -2\nend", 0, {"1", "10", "- 2"}},
        {"for i = 1, 2, 3, 4\nend", 0, {"1", "2", "3 , 4"}},
        {"for i = 1 2\nend", 0, {"1 2"}},
        // generic for: the iterator after "in"
        {"for k, v in pairs(t)\nend", 0, {"pairs ( t )"}},
        {"for x in\nend", 0, {""}},
        {"for 1 in x\nend", 0, {}},
        {"for a b in x\nend", 0, {}},
        {"for i =\nend", 0, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(exprTexts(parse(c.source).at(c.line)), c.ranges) << c.source;
}

// Malformed statements are reported when they run, never while preparing.
TEST(ExpressionRanges, MalformedStatementsPrepareWithoutFailing)
{
    const std::string nested = std::string(5000, '(') + "1" + std::string(5000, ')');
    const char* texts[] = {"x = = 1", "for", "for =", "function", "return ,", "t[] = 1", ")]}", "x = )", "[[[",
                           "local", "native function", "if )", "a, = 1", "= 1", "x += ", "...", "#", "not"};
    for (const char* text : texts) EXPECT_NO_THROW(parse(text)) << text;
    EXPECT_NO_THROW(parse("x = " + nested));
}

} // namespace
} // namespace cobalt
