// The tree-walking executor over parsed lines: every statement kind, the messages of its
// syntax checks, scope cleanup on every exit, soft-error unwinding, and the loop rules that
// protect against bodies changing what they iterate. Script files run through the bytecode
// interpreter and never reach the tree-walker, so its statements are checked here. (Where its
// failures are placed: the positioning tests in error_test.cpp.)

#include <cstdio>

#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

class ExecTest : public ::testing::Test, public EngineFixture {};

// ----- statements: the printed output, or "error: " and the message. What a statement does, and
// the statement header checks it shares, are checked by the scripts in statements/ (through the
// bytecode interpreter); these are the tree-walker's own checks and texts.

struct StatementCase {
    const char* source;
    const char* expected;
};

constexpr StatementCase kStatementCases[] = {
    {"if false\n  print(1)", "error: Missing 'end' for if block"},  // found without running the branch
    {"while true\n  x = 1\nelse\nend", "error: Missing 'end' for while block"},
    {"for i = 1, 3\n  print(i)\n  i = 100\nend", "1\n2\n3\n"},
    {"for i = 1, 2\n  x = 1", "error: Missing 'end' for block"},
    {"t = {a: 1, b: 2}\nfor k, v in pairs(t)\n  t[\"z\" + k] = v\n  print(k)\nend\nprint(t[\"za\"], t[\"zb\"])", "a\nb\n1 2\n"},
    {"function outer()\n  function inner(a)\n    if a\n      return \"yes\"\n    end\n    return \"no\"\n  end\n"
     "  return inner(true) + inner(false)\nend\nprint(outer())", "yesno\n"},
    {"function f(a,\nend", "error: Expected ')' after function parameters"},
    {"function lib[1](x)\n  return x * 2\nend\nprint(lib[1](4), lib)", "8 [[function]]\n"},  // a new container
    {"function f()\n  for i = 1, 10\n    while true\n      print(i)\n      error(\"stop\")\n      print(\"no\")\n    end\n"
     "  end\n  print(\"no\")\nend\nok, msg = pcall(f)\nprint(ok, msg)", "1\nfalse stop\n"},
};

TEST(ExecStatements, EachCaseGivesItsOutputOrMessage)
{
    for (const StatementCase& statement : kStatementCases) {
        EngineFixture fixture;
        const std::string message = fixture.message(statement.source);
        EXPECT_EQ(message == "(no failure)" ? fixture.output : "error: " + message, statement.expected) << statement.source;
        const ScopeState& scopes = fixture.engine.scopes;
        EXPECT_TRUE(scopes.loops.empty() && scopes.blocks.empty() && !fixture.engine.softError.pending) << statement.source;
    }
}

// Natives that change the container a pairs loop walks: a shrunk array ends the loop, a removed
// key is reported when the loop reaches it.
TEST_F(ExecTest, ContainerChangedDuringPairs)
{
    defineNative("shrink", [&](NativeArgs args) { args[0].asArray()->items.resize(1); return Variable(); });
    defineNative("drop", [&](NativeArgs args) {
        args[0].asTable()->map.erase(args[1].asString());
        CobaltScript::bumpTableVersion(*args[0].asTable());
        return Variable();
    });
    EXPECT_EQ(run("a = [1, 2, 3, 4]\nfor i, v in pairs(a)\n  print(v)\n  shrink(a)\nend"), "1\n");
    EXPECT_EQ(message("t = {a: 1, b: 2, c: 3}\nfor k, v in pairs(t)\n  print(k)\n  drop(t, \"c\")\nend"),
              "unordered_map::at: key not found");
    EXPECT_EQ(output, "1\na\nb\n");
}

TEST_F(ExecTest, FunctionBodyWithNestedBlocksKeepsItsBlockLinks)
{
    // The body copy starts at line 0 of its own list; its if/while links must point into it.
    EXPECT_EQ(run("x = 0\nfunction f(n)\n  total = 0\n  while n > 0\n    if n % 2 == 0\n      total += n\n    else\n"
                  "      total += 100\n    end\n    n -= 1\n  end\n  return total\nend\nprint(f(4))"),
              "206\n");
    ASSERT_EQ(global("f").type, VarType::Function);
    EXPECT_EQ(global("f").asCallable()->bodyLines.size(), 10u);
}

TEST_F(ExecTest, RightSideGrowingTheTargetsScopeDoesNotDisturbTheStore)
{
    // The external scope is a growable list: a reference into it taken before the right side
    // ran would dangle once the call below has appended enough entries to move it.
    int made = 0;
    defineNative("grow", [&](NativeArgs) {
        char name[16];  // not std::to_string: GCC 12 at -O3 misreads its inlined copy as overlapping
        for (int i = 0; i < 2000; ++i) {
            std::snprintf(name, sizeof name, "e%d", made++);
            CobaltScript::setInScope(engine.scopes.external, name, Variable(int32_t{i}));
        }
        return Variable(int32_t{7});
    });
    EXPECT_EQ(run("external x = 1\nx#0 += grow()\nfirst = x#0\nexternal t = {}\nt#0[\"k\"] = grow()\n"
                  "x#0, y = grow(), 2\nprint(first, x#0, t#0)"),
              "8 7 {k: 7}\n");
}

} // namespace
} // namespace cobalt
