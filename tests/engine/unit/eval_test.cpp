// The token evaluator directly: the edge cases and failure texts of operators and literals that
// no script shows (the everyday values are checked by the scripts in expressions/, deep nesting
// by the hostile scripts, and the fast expressions are compared with this evaluator, calls
// counted, so its skipping of short-circuited operands makes no calls), and the in-place
// operations.
//
// Then the tree-walking executor over parsed lines: every statement kind, the messages of its
// syntax checks, scope cleanup on every exit, soft-error unwinding, and the loop rules that
// protect against bodies changing what they iterate. Script files run through the bytecode
// interpreter and never reach the tree-walker, so its statements are checked here. (Where its
// failures are placed: the positioning tests in error_test.cpp.)

#include <cstdio>

#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

class EvalTest : public ::testing::Test, public EngineFixture {
protected:
    // Evaluates one expression that must use up every token (the line stays alive for error texts).
    Variable eval(const std::string& text)
    {
        line = lineOf(text);
        size_t position = 0;
        Variable value = engine.evaluateExpression(line.tokens, position, &line.analyses);
        EXPECT_EQ(position, line.tokens.size()) << text;
        return value;
    }
    ParsedScriptLine line;
};

// One expression each: its kind and text form, or "error: " and the failure message.
constexpr const char* kExpressionCases[][2] = {
    {"7 \\ 0.5", "error: Division by zero"}, {"1.5 % 0.0", "error: Division by zero"},
    {"(0 - 2) ^ 31", "int -2147483648"}, {"0 ^ -1", "error: Invalid exponentiation result"},
    {"\"a\" ^ 2", "error: Unsupported operation '^' between types"}, {"\"n=\" + [1, not]", "string n=[1, not]"},
    {"[1] * 2", "error: Unsupported operation '*' between types"},
    {"{} \\ 2", "error: Unsupported operation '\\' between types"}, {"not 1 == false", "bool true"},  // (not 1) == false
    {"(0 - 1) <- 2", "error: tetration height must be a non-negative integer"},
    {"\"a\" <- 2", "error: tetration requires numeric operands"}, {"2 -> 0.5", "error: pentation count must be an integer"},
    {"1.5 -> 3", "error: pentation intermediate height must be an integer"},
    {"(0 - 2) -> 3", "error: pentation intermediate height must be a non-negative integer"},
    {"3 -> 3", "error: pentation intermediate height must be a non-negative integer"},
    {"2 -> 5", "error: Invalid pentation result"}, {"2 -> [1]", "error: pentation requires numeric operands"},
    // towers with huge counts end through the cycle search: 0.5 converges, 0.01 alternates
    {"2147483647 <- 0.5", "float 0.641186"}, {"2147483646 <- 0.01", "float 0.941488"},
    {"2147483647 <- 0.01", "float 0.013093"}, {"1.0000001 -> 2147483647", "float 1.000000"},
    {"2147483647 <- (0 - 1)", "int -1"},
    {"true or )", "error: Unknown token: )"}, {"false and {(: 1}", "error: Invalid table key"},
    // a later entry with the same key replaces the earlier one, positional or keyed
    {"{[1]: 7, 5}", "table {1: 5}"}, {"{5, [1]: 7}", "table {1: 7}"}, {"$1F == $1f", "bool true"},
    {"{1 2}", "error: Expected ',' or '}' in table literal"}, {"{1,", "error: Unexpected end of table literal"},
    {"{[1] 2}", "error: Expected ':' after table key"}, {"{[1 2]: 3}", "error: Expected ']' after table key"},
    {"`", "error: Unknown token: `"},
    {"100000000000000000000000000000000000000000000000000", "error: Invalid numeric format"},
};

TEST_F(EvalTest, EachExpressionGivesItsValueOrFailure)
{
    for (const auto& [expression, expected] : kExpressionCases) {
        Variable value;
        const std::string failed = failureOf([&] { value = eval(expression); });
        EXPECT_EQ(failed == "(no failure)" ? std::string(typeName(value.type)) + " " + value.toString() : "error: " + failed,
                  expected)
            << expression;
    }
    const Variable one(int32_t{1});
    EXPECT_EQ(failureOf([&] { engine.performOperation(one, std::string_view("=>"), one); }), "Unsupported operation: =>");
    EXPECT_EQ(failureOf([&] { engine.performOperation(one, '&', one); }), "Unsupported operation: &");
    // Without stored analyses the tokens are analysed as they are read.
    engine.pushVariable("x", Variable(int32_t{4}));
    line = lineOf("x * 2 + 0.5");
    size_t position = 0;
    EXPECT_EQ(engine.evaluateExpression(line.tokens, position, nullptr).toString(), "8.500000");
}

// Whatever the in-place operations (the general one and the fast scalar one) decide must be
// what the binary operator gives, value or failure.
TEST_F(EvalTest, InPlaceOperationsMatchTheBinaryOperator)
{
    const std::vector<Variable> operands = {Variable(int32_t{7}), Variable(int32_t{-3}), Variable(int32_t{2147483647}),
                                            Variable(int32_t{0}), Variable(int32_t{16777217}), Variable(2.5f),
                                            Variable(-0.1f),      Variable(0.0f),              Variable(true),
                                            Variable("s"),        Variable::makeArray()};
    const auto text = [](const Variable& value) { return value.toString() + typeName(value.type); };
    int fastDecisions = 0;
    for (char op : std::string("+-*/\\%^")) {
        for (const auto& left : operands) {
            for (const auto& right : operands) {
                const std::string row = left.toString() + " " + op + " " + right.toString();
                Variable result, target = left;
                std::string expected = failureOf([&] { result = engine.performOperation(left, op, right); });
                if (expected == "(no failure)") expected = text(result);
                const std::string general = failureOf([&] {
                    if (!engine.performOperationInPlace(target, op, right)) target = engine.performOperation(target, op, right);
                });
                EXPECT_EQ(general == "(no failure)" ? text(target) : general, expected) << row;

                FastScalarValue scalar;
                if (!tryFastScalarFromVariable(right, scalar)) continue;
                target = left;
                bool applied = false;
                std::string fast = failureOf([&] { applied = engine.tryApplyFastScalarOperationInPlace(target, op, scalar); });
                if (fast == "(no failure)" && !applied) continue;
                ++fastDecisions;
                EXPECT_EQ(applied ? text(target) : fast, expected) << row << " (fast)";
            }
        }
    }
    EXPECT_GT(fastDecisions, 300);
    Variable word("ab"), number(int32_t{1});
    ASSERT_TRUE(engine.performOperationInPlace(word, '+', word));
    EXPECT_EQ(word.toString(), "abab");
    EXPECT_FALSE(engine.tryApplyFastScalarOperationInPlace(number, '+', FastScalarValue{}));
}

// ===== the tree-walking executor =====

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
    // a function body is a copy of its lines: the block links inside it must point into the copy
    {"function outer()\n  function inner(a)\n    while a\n      if a == 2\n        return \"y\"\n      else\n        a = 2\n"
     "      end\n    end\n    return \"n\"\n  end\n  return inner(1) + inner(false)\nend\nprint(outer())", "yn\n"},
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
