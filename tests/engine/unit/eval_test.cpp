// The token evaluator and skipper directly: the edge cases and failure texts of operators and
// literals that no script shows (the everyday values are checked by the scripts in expressions/,
// deep nesting by the hostile scripts, and the fast expressions are compared with this
// evaluator), skipping without calls, and the in-place operations.

#include <tuple>

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
    {"{} \\ 2", "error: Unsupported operation '\\' between types"}, {"not undefinedName", "bool true"},
    {"not 1 == false", "bool true"},  // (not 1) == false
    {"not == 1", "bool false"}, {"(0 - 1) <- 2", "error: tetration height must be a non-negative integer"},
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

TEST_F(EvalTest, SkipStopsAtTheEndOfOneExpressionWithoutCalls)
{
    int calls = 0;
    auto counter = std::make_shared<ScriptCallable>();
    counter->isNative = true;
    counter->native = [&](NativeArgs) { ++calls; return Variable(); };
    engine.pushVariable("f", Variable(CallableRef(counter)));
    for (const auto& [text, precedence, stop] : {std::tuple{"a + f(1)[2] * {k: f()} , rest", 1, ","}, {"a ^ b + c", 6, "+"}}) {
        line = lineOf(text);
        size_t position = 0;
        engine.skipExpression(line.tokens, position, precedence, &line.analyses);
        EXPECT_EQ(line.tokens.at(position), stop) << text;
    }
    EXPECT_EQ(calls, 0);
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

} // namespace
} // namespace cobalt
