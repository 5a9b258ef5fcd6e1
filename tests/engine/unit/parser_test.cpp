// The line parser: splitting into statements with their line numbers, the block links of unusual
// nestings, and nest labels. What the parsed lines do when run (carriage returns, statement kinds
// and malformed statements included) is checked by the script tests; the parse fuzzer feeds it
// anything.

#include "tests/engine/unit/engine_fixture.h"

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
    return failureOf([&] { engine.parseLines(source); });
}

using Texts = std::vector<std::string>;

// Each statement as "line number:text".
Texts numberedTexts(const ParsedLines& lines)
{
    Texts texts;
    for (const ParsedScriptLine& line : lines) texts.push_back(std::to_string(line.lineNumber) + ":" + line.text);
    return texts;
}

TEST(LineSplitting, SourcesSplitIntoTheseStatements)
{
    const std::vector<std::pair<std::string, Texts>> cases{
        // (";", open brackets and physical line numbers: parsing/statement_lines.cbs)
        {"a = 1\nf(1, 2", {"0:a = 1", "1:f(1, 2"}},  // still open at the end
        {"s = \"one\ntwo\"\nn = 1", {"0:s = \"one two\"", "2:n = 1"}},  // so do strings
        // empty lines and first-column comments keep their place
        {"a = 1\n\n@@ note\n   \n  @@ indented note\nb = 2", {"0:a = 1", "1:", "2:", "5:b = 2"}},
        {"t = 'c;d'", {"0:t = 'c;d'"}},
        {"f({a: 1; b: 2}); g()", {"0:f({a: 1; b: 2})", "0:g()"}},
        {"s = \"q\\\";\" ; n", {"0:s = \"q\\\";\"", "0:n"}},
        {"a ) ; b\nc", {"0:a )", "0:b", "1:c"}},  // stray closers never go below zero
        {"\t x  =  1 \t;;  y\t", {"0:x  =  1", "0:y"}},
        {"f(  \n\t  1  \n )", {"0:f( 1 )"}},
        {"print(\"x\") @@ say x; more", {"0:print(\"x\")"}},
        {"s = \"@@\" @@ c", {"0:s = \"@@\""}},
        {"f(1, @@ first\n 2)", {"0:f(1, 2)"}},
        {"f(\n\n@@ c\n1)", {"0:f( 1)"}},  // blank lines inside an open statement add nothing
        {"a\nb\n", {"0:a", "1:b"}},
        {"", {}},
        {"\n", {"0:"}},
    };
    for (const auto& [source, texts] : cases) EXPECT_EQ(numberedTexts(parse(source)), texts) << source;
    EXPECT_EQ(parse("s = \"one\ntwo\"")[0].tokens, (TokenList{"s", "=", "\"one two\""}));
}

// Ordinary nestings are checked by running them; these are the ones whose links are a choice.
TEST(BlockLinks, UnusualNestings)
{
    for (const ParsedScriptLine& line : parse("end\nuntil x\nelse\nif a\nb = 1")) {
        EXPECT_EQ(line.matchingEnd, kNoLine) << line.text;  // unclosed openers, stray closers
        EXPECT_EQ(line.nextBranch, kNoLine) << line.text;
    }
    ParsedLines lines = parse("while a\nuntil b\nend\nrepeat\nend");
    EXPECT_EQ(lines[0].matchingEnd, 2u);  // until closes only a repeat ...
    EXPECT_EQ(lines[3].matchingEnd, 4u);  // ... but an "end" closes whatever is open
    lines = parse("if a\nwhile b\nelse\nend\nend");
    EXPECT_EQ(lines[0].nextBranch, kNoLine);  // an else inside a loop of an if is ignored
    EXPECT_EQ(lines[0].matchingEnd, 4u);
    EXPECT_EQ(lines[1].matchingEnd, 3u);
}

TEST(NestLabels, LabelMustBeOneNonEmptyStringLiteral)
{
    for (const char* source : {"nest label\nend", "nest\nend", "nest \"a\" \"b\"\nend", "nest \"a\" .. x\nend"}) {
        EXPECT_EQ(parseFailure(source), "nest labels must be string literals") << source;
    }
    EXPECT_EQ(parseFailure("x = 1\nnest ''\nend"), "nest label must not be empty");
    EXPECT_EQ(parseFailure("nest 'ok'\nend\nnest \"\\n\"\nend"), "(no failure)");

    // The failing line is left in the position context, so the failure can be placed.
    CobaltScript engine;
    EXPECT_THROW(engine.parseLines("a = 1\n\nnest   oops\nend"), std::runtime_error);
    EXPECT_EQ(engine.errorContext.currentLine, 2u);
    ASSERT_NE(engine.errorContext.sourceText, nullptr);
    EXPECT_EQ(*engine.errorContext.sourceText, "nest   oops");
    EXPECT_EQ(engine.errorContext.nearToken, "oops");

    // After a parse that succeeds, the context points at a text that outlives it.
    engine.parseLines("a = 1\nb = 'x'");
    ASSERT_NE(engine.errorContext.sourceText, nullptr);
    EXPECT_EQ(*engine.errorContext.sourceText, "b = 'x'");
}

} // namespace
} // namespace cobalt
