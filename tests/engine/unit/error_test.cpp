// Script errors behind the layouts the script tests show: texts without a script or a source,
// positioning of failures that carry no position yet (also where a call left another statement's
// context behind), and the native stack guard.

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

// ---- the error text where the scripts in errors/ cannot show it: without a script name, with an
// empty one, with another source shown, without any source, a near-token ending the statement ----

TEST(ErrorText, LayoutsWithoutAScriptOrASource)
{
    const struct {
        const char* source;  // nullptr: no source at all
        const char* pathOnStack;  // nullptr: none
        const char* overrideSource;
        const char* near;
        std::string expected;
    } rows[] = {
        {"x = y", nullptr, "", "", std::string("CobaltScript error: m\n  at line 1\n  x = y\n       ^\n") + kHintLine},
        {"abc + d", nullptr, "", "+ d", std::string("CobaltScript error: m\n  at line 1, near token '+ d'\n  abc + d\n      ^~~\n") + kHintLine},
        {"a", "", "", "a", std::string("CobaltScript error: m\n  at line 1, near token 'a'\n  a\n  ^\n") + kHintLine},
        {"shown = never", nullptr, "other text", "text",
         std::string("CobaltScript error: m\n  at line 1, near token 'text'\n  other text\n        ^~~~\n") + kHintLine},
        {nullptr, nullptr, "", "t", std::string("CobaltScript error: m\n  at line 1, near token 't'\n  \n  ^\n") + kHintLine},
    };
    for (const auto& row : rows) {
        CobaltScript engine;
        const std::string source = row.source ? row.source : "";
        if (row.source) engine.errorContext.sourceText = &source;
        if (row.pathOnStack) engine.loader.pathStack.push_back(row.pathOnStack);
        engine.errorContext.overrideSource = row.overrideSource;
        EXPECT_EQ(failureOf([&] { engine.throwError("m", row.near); }), row.expected) << source << " / " << row.near;
    }
}

// ---- positioning plain failures ----

// A failure is placed at the statement that positions it (not where a call left the context),
// at the near-token or else the first token; one that is placed already, or was raised with its
// text, stays as it is.
TEST(Positioning, PlainFailuresArePlacedAtTheirStatement)
{
    const std::string inner = "CobaltScript error: inner\n  at other.cbs:9\n  boom\n  ^\n";
    const struct {
        const char* near;  // "" for none
        std::function<void()> failing;
        std::string expected;  // the start of the text, or with a leading '*' a part of it
    } rows[] = {
        {"", [] { fail("pop(array): array is empty"); }, "*at main.cbs:8, near token 'y'\n  y = g() + 1\n  ^\n"},
        {"+", [] { fail("Unsupported operation '+' between types"); }, "*  at main.cbs:8, near token '+'\n  y = g() + 1\n          ^\n"},
        {"+", [&] { throw std::runtime_error(inner); }, inner},
        {"+", [] { throw RaisedScriptError("CobaltScript error: raised"); }, "CobaltScript error: raised"},
        {"+", [] { throw RaisedScriptError("bad"); }, "CobaltScript error: bad\n  at main.cbs:8"},
        {"+", [] { throw 42; }, "CobaltScript error: Unknown error\n"},
    };
    for (const auto& row : rows) {
        CobaltScript engine;
        const ParsedScriptLine caller = lineOf("y = g() + 1", 7, {"y", "=", "g", "(", ")", "+", "1"});
        const ParsedScriptLine callee = lineOf("return 1", 30, {"return", "1"});
        engine.loader.pathStack.push_back("main.cbs");
        engine.setPositionContext(*row.near ? callee : caller);  // the callee's: left behind by a call
        if (*row.near) engine.setNearToken(row.near, 5);
        const std::string text = positioned(engine, caller, row.failing);
        if (row.expected.starts_with('*')) {
            EXPECT_NE(text.find(row.expected.substr(1)), std::string::npos) << row.expected << "\n" << text;
        } else {
            EXPECT_EQ(text.substr(0, row.expected.size()), row.expected) << text;
        }
    }
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
