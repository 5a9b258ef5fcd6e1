// Script errors behind the layouts the script tests show: the caret for every kind of near
// token, texts without a script or a source, positioning of failures that carry no position
// yet, the context guard, and the native stack guard. Soft errors are checked through pcall by
// the scripts in calls/.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "engine/error/position_context_guard.h"
#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

constexpr const char* kHintLine = "  hint: check spelling, operators, parentheses, and quote matching\n";

ParsedScriptLine lineOf(const std::string& text, uint64_t lineNumber, TokenList tokens)
{
    ParsedScriptLine line;
    line.text = text;
    line.lineNumber = lineNumber;
    line.tokens = std::move(tokens);
    return line;
}

std::string textOfThrowError(CobaltScript& engine, std::string_view message, std::string_view nearToken)
{
    return failureOf([&] { engine.throwError(message, nearToken); });
}

/// Runs `failing` inside a statement and positions what it throws, as an executor does.
template <typename Failing>
std::string positioned(CobaltScript& engine, const ParsedScriptLine& line, Failing failing)
{
    return failureOf([&] {
        try {
            failing();
        } catch (...) {
            engine.rethrowPositioned(line);
        }
    });
}

// ---- the error text ----

TEST(ErrorText, WithoutAScriptTheLineIsNamedAlone)
{
    CobaltScript engine;
    const std::string source = "x = y";
    engine.errorContext.sourceText = &source;
    engine.errorContext.currentLine = 0;
    EXPECT_EQ(textOfThrowError(engine, "Oops", ""),
              std::string("CobaltScript error: Oops\n  at line 1\n  x = y\n       ^\n") + kHintLine);
}

// Where the caret and its tildes go under the statement, for each near token.
TEST(ErrorText, CaretMarksTheNearToken)
{
    struct Case {
        const char* source;
        const char* near;
        const char* marked;
    };
    const Case cases[] = {
        {"abc + d", "abc", "\n  abc + d\n  ^~~\n"},
        {"abc + d", "+", "\n  abc + d\n      ^\n"},
        {"abc + d", "+ d", "\n      ^~~\n"},  // a token that runs to the very last byte
        {"a = b / c / 0", "/", "\n  a = b / c / 0\n        ^\n"},  // the first occurrence
        {"ab", "zzz", "\n  ab\n    ^\n"},  // a missing token gets no tildes
    };
    for (const Case& c : cases) {
        CobaltScript engine;
        const std::string source = c.source;
        engine.errorContext.sourceText = &source;
        const std::string text = textOfThrowError(engine, "m", c.near);
        EXPECT_NE(text.find(c.marked), std::string::npos) << c.source << " / " << c.near << ":\n" << text;
    }
    // An empty script name on the stack counts as none.
    CobaltScript engine;
    const std::string source = "a";
    engine.loader.pathStack.push_back("");
    engine.errorContext.sourceText = &source;
    EXPECT_NE(textOfThrowError(engine, "m", "a").find("  at line 1, near token 'a'\n"), std::string::npos);
}

TEST(ErrorText, OverrideSourceWinsAndNoSourceIsEmpty)
{
    CobaltScript engine;
    const std::string source = "shown = never";
    engine.errorContext.sourceText = &source;
    engine.errorContext.overrideSource = "other text";
    EXPECT_NE(textOfThrowError(engine, "m", "text").find("\n  other text\n        ^~~~\n"), std::string::npos);

    CobaltScript bare;
    EXPECT_EQ(textOfThrowError(bare, "m", "t"),
              std::string("CobaltScript error: m\n  at line 1, near token 't'\n  \n  ^\n") + kHintLine);
}

// ---- positioning plain failures ----

TEST(Positioning, WithoutANearTokenTheFirstTokenIsUsed)
{
    CobaltScript engine;
    const ParsedScriptLine line = lineOf("  pop(list)", 0, {"pop", "(", "list", ")"});
    engine.setPositionContext(line);
    const std::string text = positioned(engine, line, [] { fail("pop(array): array is empty"); });
    EXPECT_NE(text.find("at line 1, near token 'pop'\n    pop(list)\n    ^~~\n"), std::string::npos) << text;
}

TEST(Positioning, OnlyErrorsWithoutAPositionArePositioned)
{
    CobaltScript engine;
    const ParsedScriptLine line = lineOf("f()", 2, {"f", "(", ")"});
    engine.setPositionContext(line);
    const std::string inner = "CobaltScript error: inner\n  at other.cbs:9\n  boom\n  ^\n";
    EXPECT_EQ(positioned(engine, line, [&] { throw std::runtime_error(inner); }), inner);
    EXPECT_EQ(positioned(engine, line, [&] { throw RaisedScriptError("CobaltScript error: raised"); }),
              "CobaltScript error: raised");
    // Script-raised and unknown errors are positioned.
    engine.setNearToken(")", 2);
    EXPECT_EQ(positioned(engine, line, [] { throw RaisedScriptError("bad"); }).substr(0, 28),
              "CobaltScript error: bad\n  at");
    EXPECT_EQ(positioned(engine, line, [] { throw 42; }).substr(0, 34), "CobaltScript error: Unknown error\n");
}

TEST(Positioning, TheStatementNamesItsOwnLineEvenIfTheContextMoved)
{
    CobaltScript engine;
    const ParsedScriptLine caller = lineOf("y = g() + 1", 7, {"y", "=", "g", "(", ")", "+", "1"});
    const ParsedScriptLine callee = lineOf("return 1", 30, {"return", "1"});
    engine.loader.pathStack.push_back("main.cbs");
    engine.setPositionContext(callee);  // left behind by the call
    engine.setNearToken("+", 5);
    const std::string text = positioned(engine, caller, [] { fail("Unsupported operation '+' between types"); });
    EXPECT_NE(text.find("  at main.cbs:8, near token '+'\n  y = g() + 1\n          ^\n"), std::string::npos)
        << text;
}

TEST(Positioning, GuardRestoresTheStatementContext)
{
    CobaltScript engine;
    const ParsedScriptLine outer = lineOf("x = f()", 1, {"x", "=", "f", "(", ")"});
    engine.setPositionContext(outer);
    engine.setNearToken("f", 2);
    {
        PositionContextGuard guard(engine.errorContext);
        engine.tokenise("inner = 'text'");  // points the context at its own copy
        engine.errorContext.currentLine = 40;
        engine.setNearToken("inner", 0);
    }
    EXPECT_EQ(engine.errorContext.sourceText, &outer.text);
    EXPECT_EQ(engine.errorContext.currentLine, 1u);
    EXPECT_EQ(engine.errorContext.nearToken, "f");

    engine.tokenise("kept = 1");
    {
        PositionContextGuard guard(engine.errorContext);
        engine.tokenise("replaced = 2");
    }
    EXPECT_EQ(*engine.errorContext.sourceText, "kept = 1");
}

// ---- native stack guard ----

struct RecursionOutcome {
    CobaltScript* engine = nullptr;
    int depthReached = 0;
    std::string message;
};

// Stops only through the guard (or, were the guard broken, at a depth no stack here holds).
int recurse(RecursionOutcome& outcome, int depth)
{
    outcome.engine->checkNativeStack();
    outcome.depthReached = depth;
    if (depth > 100'000'000) return 0;
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return recurse(outcome, depth + 1) + frame[0];  // not a tail call
}

RecursionOutcome recurseWithStack(size_t stackSize)
{
    CobaltScript engine;
    RecursionOutcome outcome;
    outcome.engine = &engine;
    onSmallStack(stackSize, [&] { outcome.message = failureOf([&] { recurse(outcome, 0); }); });
    outcome.engine = nullptr;
    if (outcome.message == "(no failure)") outcome.message.clear();
    return outcome;
}

TEST(NativeStack, RunawayRecursionBecomesAScriptErrorAtALimitThatFollowsTheStack)
{
    const RecursionOutcome small = recurseWithStack(256 * 1024);
    EXPECT_EQ(small.message.rfind(std::string(kErrorPrefix) + kRecursionTooDeep + "\n", 0), 0u) << small.message;
    EXPECT_GT(small.depthReached, 50);
    const RecursionOutcome large = recurseWithStack(16 * 1024 * 1024);
    EXPECT_FALSE(large.message.empty());
    EXPECT_GT(large.depthReached, 8 * small.depthReached);
}

} // namespace
} // namespace cobalt
