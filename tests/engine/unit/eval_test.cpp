// The token evaluator and skipper directly: the edge cases and failure texts of every operator
// and literal (the everyday values are checked by the scripts in expressions/, and the fast
// expressions are compared with this evaluator), skipping without calls, in-place operations
// and deep nesting.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

class EvalTest : public ::testing::Test {
protected:
    // Tokenises `text` (kept alive for error texts) and evaluates one expression that must
    // use up every token.
    Variable eval(const std::string& text)
    {
        prepare(text);
        size_t position = 0;
        Variable value = engine.evaluateExpression(tokens, position, &analyses);
        EXPECT_EQ(position, tokens.size()) << text;
        return value;
    }

    std::string show(const std::string& text) { return eval(text).toString(); }

    std::string failure(const std::string& text) { return failureOf([&] { eval(text); }); }

    void prepare(const std::string& text)
    {
        source = text;
        tokens = engine.tokenise(source);
        analyses.clear();
        for (const auto& token : tokens) analyses.push_back(engine.analyseToken(token));
    }

    // A native global that counts its calls and returns its first argument.
    void defineCounter(const std::string& name)
    {
        auto callable = std::make_shared<ScriptCallable>();
        callable->isNative = true;
        callable->name = name;
        callable->native = [this](NativeArgs args) {
            ++calls;
            return args.empty() ? Variable() : args.front();
        };
        engine.pushVariable(name, Variable(CallableRef(callable)));
    }

    CobaltScript engine;
    std::string source;
    TokenList tokens;
    AnalysisList analyses;
    int calls = 0;
};

// One expression each: its text form, or "error: " and the failure message.
struct ExpressionCase {
    const char* expression;
    const char* expected;
};

constexpr ExpressionCase kExpressionCases[] = {
    {"7.5 % 0.5", "0.000000"},  // a divisor below one is no zero divisor
    {"(-2147483647 - 1) \\ -1", "-2147483648"}, {"(-2147483647 - 1) % -1", "0"},
    {"7 % 0", "error: Division by zero"}, {"7 / 0", "error: Division by zero"},
    {"7 \\ 0.5", "error: Division by zero"}, {"1.5 % 0.0", "error: Division by zero"},
    {"(0 - 2) ^ 31", "-2147483648"}, {"5 ^ 0", "1"}, {"0 ^ -1", "error: Invalid exponentiation result"},
    {"\"a\" ^ 2", "error: Unsupported operation '^' between types"}, {"\"n=\" + [1, not]", "n=[1, not]"},
    {"\"a\" - 1", "error: Unsupported operation '-' between types"},
    {"[1] * 2", "error: Unsupported operation '*' between types"},
    {"{} \\ 2", "error: Unsupported operation '\\' between types"}, {"not 1", "false"}, {"[not, 1]", "[not, 1]"},
    {"not undefinedName", "true"},
    {"not 1 == false", "true"},  // (not 1) == false
    {"not == 1", "false"}, {"!0", "false"}, {"0 <- 5", "1"}, {"3 <- 0", "0"}, {"2 <- 1.5", "1.837117"},
    {"(0 - 1) <- 2", "error: tetration height must be a non-negative integer"},
    {"\"a\" <- 2", "error: tetration requires numeric operands"},
    {"2 -> 0.5", "error: pentation count must be an integer"},
    {"1.5 -> 3", "error: pentation intermediate height must be an integer"},
    {"(0 - 2) -> 3", "error: pentation intermediate height must be a non-negative integer"},
    {"3 -> 3", "error: pentation intermediate height must be a non-negative integer"},
    {"2 -> 5", "error: Invalid pentation result"}, {"2 -> [1]", "error: pentation requires numeric operands"},
    {"true or )", "error: Unknown token: )"}, {"true or (1", "error: Expected closing parenthesis"},
    {"false and {(: 1}", "error: Invalid table key"}, {"true or", "error: Unexpected end of expression"},
    // a later entry with the same key replaces the earlier one, positional or keyed
    {"{[1]: 7, 5}", "{1: 5}"}, {"{5, [1]: 7}", "{1: 7}"}, {"\"abc\"[2]", "b"}, {"'a\\'b'", "a'b"},
    {"$1F == $1f", "true"}, {"$0", "$0"}, {"{1 2}", "error: Expected ',' or '}' in table literal"},
    {"{1,", "error: Unexpected end of table literal"}, {"{[1] 2}", "error: Expected ':' after table key"},
    {"{[1 2]: 3}", "error: Expected ']' after table key"}, {"{(: 1}", "error: Invalid table key"},
    {"{[[1]]: 1}", "error: Table key must be string, number, or bool"},
    {"[1 2]", "error: Expected ',' or ']' in array literal"}, {"[1,", "error: Unexpected end of expression"},
    {"`", "error: Unknown token: `"},
    {"100000000000000000000000000000000000000000000000000", "error: Invalid numeric format"},
    {"string.len", "error: Unknown token: string.len"},
};

TEST_F(EvalTest, EachExpressionGivesItsValueOrFailure)
{
    for (const ExpressionCase& expression : kExpressionCases) {
        const std::string failed = failure(expression.expression);
        EXPECT_EQ(failed == "(no failure)" ? show(expression.expression) : "error: " + failed, expression.expected)
            << expression.expression;
    }
    EXPECT_EQ(eval("4 / 2").type, VarType::Float);
    EXPECT_EQ(eval("2 ^ 10").type, VarType::Int);
    EXPECT_EQ(eval("not").type, VarType::Not);
    EXPECT_EQ(eval("{}").type, VarType::Table);
    EXPECT_EQ(eval("[]").type, VarType::Array);
    EXPECT_EQ(eval("missing").type, VarType::Not);
}

TEST_F(EvalTest, OperatorFormsReportUnknownOperators)
{
    const Variable one(int32_t{1});
    EXPECT_EQ(failureOf([&] { engine.performOperation(one, std::string_view("=>"), one); }), "Unsupported operation: =>");
    EXPECT_EQ(failureOf([&] { engine.performOperation(one, '&', one); }), "Unsupported operation: &");
}

TEST_F(EvalTest, HyperOperationsWithHugeCountsFinish)
{
    // The tower of 0.5 converges; 0.01 oscillates between two values; both would take
    // two billion steps without the cycle search.
    EXPECT_EQ(show("2147483647 <- 0.5"), "0.641186");
    EXPECT_EQ(show("2147483646 <- 0.01"), show("1000 <- 0.01"));
    EXPECT_EQ(show("2147483647 <- 0.01"), show("1001 <- 0.01"));
    EXPECT_EQ(show("1.0000001 -> 2147483647"), "1.000000");
    EXPECT_EQ(show("2147483647 <- (0 - 1)"), "-1");
}

TEST_F(EvalTest, ExtraArgumentsOfTheInnermostCall)
{
    EXPECT_EQ(eval("...").type, VarType::Not);
    engine.calls.varargs.push_back(std::make_shared<std::vector<Variable>>(
        std::vector<Variable>{Variable(int32_t{1}), Variable("x")}));
    const Variable extra = eval("...");
    ASSERT_EQ(extra.type, VarType::Multi);
    EXPECT_EQ(extra.asMulti()->values.size(), 2u);
    extra.asMulti()->values.clear();  // a copy: the call's own list is untouched
    EXPECT_EQ(engine.calls.varargs.back()->size(), 2u);
    engine.calls.varargs.push_back(nullptr);
    EXPECT_EQ(eval("...").type, VarType::Not);
}

TEST_F(EvalTest, SkipStopsAtTheEndOfOneExpression)
{
    defineCounter("f");
    prepare("a + f(1)[2] * {k: f()} , rest");
    size_t position = 0;
    engine.skipExpression(tokens, position, 1, &analyses);
    EXPECT_EQ(tokens[position], ",");
    EXPECT_EQ(calls, 0);

    prepare("a ^ b + c");
    position = 0;
    engine.skipExpression(tokens, position, 6, &analyses);
    EXPECT_EQ(tokens[position], "+");
}

TEST_F(EvalTest, EvaluateWithoutStoredAnalyses)
{
    engine.pushVariable("x", Variable(int32_t{4}));
    prepare("x * 2 + 0.5");
    size_t position = 0;
    EXPECT_EQ(engine.evaluateExpression(tokens, position, nullptr).toString(), "8.500000");
}

TEST_F(EvalTest, InPlaceOperationsMatchTheBinaryOperator)
{
    const std::vector<Variable> operands = {Variable(int32_t{7}),           Variable(int32_t{-3}),
                                            Variable(int32_t{2147483647}),  Variable(2.5f),
                                            Variable(-0.1f),                Variable(true),
                                            Variable(int32_t{0}),           Variable("s"),
                                            Variable::makeArray()};
    for (char op : std::string("+-*/\\%^")) {
        for (const auto& left : operands) {
            for (const auto& right : operands) {
                Variable result, target = left;
                const std::string expected = failureOf([&] { result = engine.performOperation(left, op, right); });
                const std::string actual = failureOf([&] {
                    if (!engine.performOperationInPlace(target, op, right)) target = engine.performOperation(target, op, right);
                });
                EXPECT_EQ(actual == "(no failure)" ? target.toString() : actual,
                          expected == "(no failure)" ? result.toString() : expected) << left.toString() << " " << op << " " << right.toString();
            }
        }
    }
    Variable text("ab");
    ASSERT_TRUE(engine.performOperationInPlace(text, '+', text));
    EXPECT_EQ(text.toString(), "abab");
}

TEST_F(EvalTest, DeepNestingFailsWithAScriptError)
{
    const size_t depth = 300000;
    for (const std::string& text : {std::string(depth, '(') + "1" + std::string(depth, ')'), std::string(depth, '-') + "1",
                                    "true or " + std::string(depth, '[') + "1" + std::string(depth, ']')}) {
        EXPECT_NE(failure(text).find(kRecursionTooDeep), std::string::npos) << text.substr(0, 20);
    }
    // The engine stays usable afterwards.
    EXPECT_EQ(show("((1 + 1))"), "2");
}

} // namespace
} // namespace cobalt
