// Fast expressions against the token evaluator, side by side on the same engine state: the
// same value (kind and text form), or the same failure text with the same near-token, and
// the same calls made. Then fast function bodies against ordinary calls of the same body.
// (Operands taken before a later call rebinds them: expressions/precedence_and_associativity.cbs.)

#include <random>

#include "engine/bytecode/fast_evaluator.h"
#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

// What one evaluation left behind.
struct Outcome {
    bool failed = false;
    std::string text;  // "kind:text form", or the failure message
    std::string near;
    std::string calls;  // the script's call counter afterwards

    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome)
{
    return out << (outcome.failed ? "failure '" : "value '") << outcome.text << "' near '" << outcome.near
               << "' calls " << outcome.calls;
}

constexpr const char* kState = R"(
i = 7; n = -3; z = 0; big = 2147483647; small = -2147483648; tiny = 16777217
fl = 1.5; g = 0.1; h = 0.2; s = "abc"; e = ""; b = true; nb = false; calls = 0
arr = [1, 2.5, "x", true, not]; tab = {a: 1, b: 2.5, "1": "one", n: not}; nested = [[1, 2], [3, 4]]
function bump(x); calls = calls + 1; return x; end
function add(a, c); return a + c; end
function guarded(x); if x < 0; error("negative"); end; return x * 2; end
function pair(); return 1, 2; end
)";

std::string describe(const Variable& value) { return std::string(typeName(value.type)) + ":" + value.toString(); }

class FastExpressionTest : public ::testing::Test, public EngineFixture {
protected:
    void SetUp() override { load(kState); }
    static FastExpression compile(const ParsedScriptLine& line)
    {
        return compileFastExpressionRange(line.tokens, line.analyses, TokenRange{0, static_cast<uint32_t>(line.tokens.size())});
    }

    template <typename Evaluate>
    Outcome observe(const ParsedScriptLine& line, Evaluate evaluate)
    {
        engine.pushVariable("calls", Variable(int32_t{0}));
        engine.setPositionContext(line);
        Outcome outcome;
        Variable value;
        const std::string failure = failureOf([&] { value = evaluate(); });
        outcome.failed = failure != "(no failure)";
        outcome.text = outcome.failed ? failure : describe(value);
        outcome.near = engine.errorContext.nearToken;
        outcome.calls = global("calls").toString();
        return outcome;
    }

    Outcome general(const ParsedScriptLine& line)
    {
        return observe(line, [&] {
            size_t position = 0;
            Variable value = engine.evaluateExpression(line.tokens, position, &line.analyses);
            if (position != line.tokens.size()) throw std::logic_error("leftover tokens");
            return value;
        });
    }

    Outcome fast(const ParsedScriptLine& line, const FastExpression& expression)
    {
        return observe(line, [&] { return engine.evaluateFastExpression(expression, line); });
    }

    // Both paths on the same state; false when the range has no fast form.
    bool compare(const std::string& expression)
    {
        const ParsedScriptLine line = lineOf(expression);
        const FastExpression tree = compile(line);
        if (!tree.valid()) return false;
        const Outcome reference = general(line);
        EXPECT_EQ(fast(line, tree), reference) << expression;
        cheapDecisions += cheapPathsAgree(line, tree, reference);
        flatDecisions += flatFormAgrees(line, tree);
        return true;
    }

    // Every field of a scalar, the float's bits included.
    static std::string exactText(const FastScalarValue& scalar)
    {
        char text[64];
        std::snprintf(text, sizeof text, "%d:%d:%a:%d", scalar.kind, scalar.intValue, scalar.floatValue,
                      scalar.boolValue ? 1 : 0);
        return text;
    }

    // What the flat form decides, the tree's scalar walker decides alike; 1 when it decided.
    int flatFormAgrees(const ParsedScriptLine& line, const FastExpression& tree)
    {
        engine.pushVariable("calls", Variable(int32_t{0}));
        FastScalarValue flat;
        if (!FastEvaluator(engine, tree, line).flatScalar(flat)) return 0;
        FastScalarValue walked;
        EXPECT_TRUE(FastEvaluator(engine, tree, line).scalarNode(tree.root, walked)) << line.text;
        EXPECT_EQ(exactText(flat), exactText(walked)) << line.text;
        EXPECT_EQ(global("calls").toString(), "0") << "the flat form made a call: " << line.text;
        return 1;
    }

    // Whatever the int, scalar and bool paths decide must be what the value path gives, and
    // they decide without effects (no calls). Returns how many of them decided.
    int cheapPathsAgree(const ParsedScriptLine& line, const FastExpression& tree, const Outcome& reference)
    {
        engine.pushVariable("calls", Variable(int32_t{0}));
        int decided = 0;
        FastScalarValue scalar;
        if (engine.tryEvaluateFastExpressionScalarNode(tree, line, tree.root, scalar)) {
            Variable value;
            assignFastScalarToVariable(scalar, value);
            EXPECT_EQ(describe(value), reference.failed ? "(a failure)" : reference.text) << line.text;
            ++decided;
        }
        int32_t whole = 0;
        if (engine.tryEvaluateFastExpressionIntNode(tree, line, tree.root, whole)) {
            EXPECT_EQ("int:" + std::to_string(whole), reference.text) << line.text;
            ++decided;
        }
        bool truth = false;
        if (engine.tryEvaluateFastExpressionBoolNode(tree, line, tree.root, truth)) {
            EXPECT_FALSE(reference.failed) << line.text;
            EXPECT_EQ(truth, reference.text != "bool:false" && !reference.text.starts_with("not:")) << line.text;
            ++decided;
        }
        EXPECT_EQ(global("calls").toString(), "0") << "a cheap path made a call: " << line.text;
        return decided;
    }

    int cheapDecisions = 0;
    int flatDecisions = 0;

    // Compares `count` generated expressions; returns how many had a fast form.
    int compareRandomExpressions(uint32_t seed, int count);
};

// Expressions that all have a fast form, each compared with the token evaluator: the edges of
// every operator (the random expressions below cover the everyday combinations).
const char* const kExpressions[] = {
    // arithmetic at the edges of the int range, division kinds, powers and hyper-operations
    "2 ^ 3 ^ 2", "-2 ^ 2", "7 / 2", "4 / 2", "-7 \\ 2", "7 \\ -1", "small \\ -1", "-7 % 3", "small % -1", "-7.5 % 2",
    "tiny + 0.5", "tiny * 1.0", "tiny - fl", "big + 1", "small - 1", "big * big", "-small", "- - i", "+ fl", "-b",
    "b + b", "b \\ 1", "nb % 2", "fl \\ 1", "2.9 \\ 1", "2 ^ -1", "2 ^ 31", "0 ^ 0", "(-8) ^ 0.5", "3 <- 2", "2 -> 3",
    "1 <- 0.5", "2 <- 2 <- 2", "3.", ".5 + 1", "2147483648", "-2147483648", "not + 1",
    // float results are rounded after every operation
    "0.1 + 0.2 == 0.3", "g + h == 0.3", "g + h + g + h + g + h", "tiny + 1.5 + 1.5",
    // comparisons and equality across kinds
    "1 == 1.0", "b == 1", "\"1\" == 1", "not == not", "not == 0", "i ~= 8", "i >= 7.5", "s < \"abd\"", "e < s",
    "b > 0", "nb < b", "arr == nested", "tab ~= tab", "2 * 3 < 7 == true", "1 < 2 < 3",
    // short circuits skip the calls they do not need
    "0 or bump(1)", "nb and bump(1)", "not and bump(1)", "bump(nb) or bump(4)", "i > 5 and bump(5) or bump(6)",
    "b or bump(1) and bump(2)", "(nb or b) and bump(7)", "nb || bump(8)", "b && bump(9)", "bump(1) + bump(2) * bump(3)",
    // strings and concatenation
    "1 + 2 + s", "s + 1 + 2", "fl + e", "s + b + not", "\"x\" + toString(fl) + \"y\" + toString(arr)", "'q' + s",
    "\"it's\" + \"\\\"\"", "s + arr", "#\"abc\" + 1", "s[3]", "s[4]", "s[0]", "s[\"len\"]", "s - 1", "s * 2", "-s",
    // calls of builtins and script functions
    "add(s, 1)", "add(1)", "add(1, 2, 3)", "toNumber(\"x\")", "toString(1, 2)", "getTimeMs() >= 0", "guarded(3) + 1",
    "pair()", "select(2, 7, 8, 9)", "len(5)", "5(1)", "undefinedName(1)", "s[\"upper\"]", "tab[\"a\"](1)",
    "bump(1) + bump(2) + bump(3) + bump(4) + bump(5) + bump(6)",
    // failures name the same token as the token evaluator
    "1 \\ 0", "i % z", "fl % 0", "fl % 0.0", "1 / z", "-\"a\"", "-arr", "#5", "# i + 1", "1 < \"a\"", "arr < arr",
    "(1 + 2) * (3 - \"x\")", "1 + -s", "0.5 <- 2", "5 <- 10", "2 ^ s", "-2147483648 \\ 0", "tab[arr] + 1",
    "guarded(-1) + 1", "bump(1) + s - 1", "2 ^ 200 * 0",
    // not, indexing and lengths
    "not i", "not nb", "not not i", "not (i)", "not i == nb", "!i", "!not", "! b", "not == nb", "add(not, 1)",
    "not and i", "not or i", "tab[\"n\"] == not", "arr[1]", "arr[2]", "arr[3]", "arr[4]", "arr[5]", "arr[6]", "arr[0]",
    "arr[-1]", "arr[1.0]", "arr[1.5]", "arr[\"1\"]", "arr[b]", "arr[not]", "tab[\"a\"]", "tab[\"b\"] * 2", "tab[1]",
    "tab[\"1\"]", "tab[1.0]", "tab[b]", "tab[arr]", "nested[2][1]", "nested[i - 5][2] + arr[1]", "#arr", "#tab",
    "#nested[1]", "i[1]", "fl[1]", "arr[bump(2)]", "nested[bump(1)][bump(2)]",
    // operands the flat form reads in its operators' own steps, and reads in place
    "i * fl - g", "i - 7.5", "fl * 2", "g / z", "fl / 0.0", "i \\ 0", "i % 0", "n % 0.5", "big + i", "small * n",
    "big * 2 - big", "small - i", "b + i", "i + not", "i == fl", "fl < i", "i ~= 7.0", "b == true", "nb != 0",
    "not < 1", "arr[i - 5]", "arr[z]", "arr[b + 1]", "arr[fl]", "arr[fl + 0.5]", "arr[s]", "tab[s]", "tab[\"b\"] + fl",
    "tab[\"zz\"] == not", "#arr + i", "#s * 2", "#missing", "-(b)", "-not", "not nb and i or fl", "nb or not and i",
    "fl > i == b", "(i > 5) + 1", "math[\"floor\"](fl * 3) + 1", "len(s) + i",
    // names read more than once
    "i * i - i", "arr[i - 6] + arr[i - 5] * i", "nested[i - 6] == nested[i - 6]", "tab[s] == tab[s]",
    "i > 3 and i or missing", "missing == missing", "#arr + arr[#arr - 1]", "fl * fl + i * i",
};

TEST_F(FastExpressionTest, EveryExpressionMatchesTheTokenEvaluator)
{
    for (const char* expression : kExpressions) EXPECT_TRUE(compare(expression)) << "no fast form: " << expression;
    EXPECT_GT(cheapDecisions, 200);
    EXPECT_GT(flatDecisions, 100);
}

// Random expressions over the whole grammar the fast compiler takes, with values of every
// kind, calls with effects and failures; a fixed seed keeps the run reproducible.
class ExpressionGenerator {
public:
    explicit ExpressionGenerator(uint32_t seed) : m_random(seed) {}

    std::string expression(int depth)
    {
        if (depth <= 0 || pick(4) == 0) return atom();
        switch (pick(6)) {
        case 0: return "(" + expression(depth - 1) + ")";
        case 1: return choose({"-", "!", "#", "not ", "+"}) + operand(depth - 1);
        case 2:
            if (pick(3) == 0) return "add(" + expression(depth - 1) + ", " + expression(depth - 1) + ")";
            return choose({"bump", "len", "toString", "guarded", "typeOf", "toNumber"}) + "(" + expression(depth - 1) + ")";
        case 3: return operand(depth - 1) + "[" + expression(depth - 1) + "]";
        default:
            return operand(depth - 1) + " " +
                   choose({"or", "||", "and", "&&", "==", "!=", "~=", "<", ">", "<=", ">=", "+", "-", "*", "/",
                           "\\", "%", "^", "<-", "->"}) +
                   " " + operand(depth - 1);
        }
    }

private:
    size_t pick(size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(m_random); }
    std::string choose(std::initializer_list<const char*> options) { return options.begin()[pick(options.size())]; }

    std::string atom()
    {
        return choose({"0", "1", "2", "7", "2147483647", "0.5", "1.5", "0.1", "3.", "i", "n", "z", "big", "small",
                       "fl", "g", "h", "tiny", "s", "e", "b", "nb", "arr", "tab", "nested", "missing", "\"a\"",
                       "\"\"", "tre", "flse", "not"});
    }

    // Operands of operators are atoms or bracketed, so no "not" swallows an operator.
    std::string operand(int depth)
    {
        if (pick(2) == 0) {
            std::string chosen = atom();
            return chosen == "not" ? std::string("i") : chosen;
        }
        // Appended rather than built with "(" + ..., which GCC 12 at -O3 misreads as an
        // overlapping copy (-Wrestrict).
        std::string bracketed(1, '(');
        bracketed += expression(depth);
        bracketed += ')';
        return bracketed;
    }

    std::mt19937 m_random;
};

int FastExpressionTest::compareRandomExpressions(uint32_t seed, int count)
{
    ExpressionGenerator generator(seed);
    int compared = 0;
    for (int k = 0; k < count && !HasFailure(); ++k) compared += compare(generator.expression(4)) ? 1 : 0;
    return compared;
}

TEST_F(FastExpressionTest, RandomExpressionsMatchTheTokenEvaluator)
{
    EXPECT_GT(compareRandomExpressions(20240611, 4000), 3000);
    EXPECT_GT(flatDecisions, 500);
    // Replaced builtins are called as the script defines them, never through their shortcut.
    load("function toString(x); calls = calls + 1; return \"T\"; end\nfunction len(x); return 99; end\n"
         "function error(m); calls = calls + 10; end");
    EXPECT_GT(compareRandomExpressions(99, 2000), 1500);
}

// ----- fast function bodies -----

class FastCallableTest : public FastExpressionTest {
protected:
    // The values of a script argument list such as "1, \"x\"".
    std::vector<Variable> arguments(const std::string& list)
    {
        load("argumentList = [" + list + "]");
        return global("argumentList").asArray()->items;
    }

    Outcome call(const Variable& callee, std::vector<Variable> args, bool isProtected = false)
    {
        if (!isProtected) return observe(lineOf("f()"), [&] { return engine.invokeCallableFast(callee, args.data(), args.size()); });
        args.insert(args.begin(), callee);
        return observe(lineOf("pcall(f)"), [&] { return engine.pcallFunctionFast(args.data(), args.size()); });
    }

    // Each argument list, called plainly and protected, against the same function with its
    // fast body turned off: the ordinary call of the same lines. What the scalar forms decide,
    // they decide as the ordinary call does, without effects.
    void expectSameCalls(const std::string& name, const std::vector<const char*>& argumentLists)
    {
        const Variable fastFunction = global(name);
        ASSERT_EQ(fastFunction.type, VarType::Function) << name;
        auto copy = std::make_shared<ScriptCallable>(*fastFunction.asCallable());
        copy->fastBodyKind = FastBodyKind::None;
        const Variable ordinary{CallableRef(copy)};
        for (const char* list : argumentLists) {
            const std::vector<Variable> args = arguments(list);
            for (bool isProtected : {false, true}) {
                EXPECT_EQ(call(fastFunction, args, isProtected), call(ordinary, args, isProtected))
                    << name << "(" << list << ")" << (isProtected ? " protected" : "");
                EXPECT_TRUE(engine.calls.protectedCalls.empty());
                EXPECT_FALSE(engine.softError.pending);
            }
            const Outcome plain = call(ordinary, args);
            engine.pushVariable("calls", Variable(int32_t{0}));
            FastScalarValue out;
            Variable value;
            if (engine.tryEvaluateFastCallableScalar(*fastFunction.asCallable(), args.data(), args.size(), out)) {
                assignFastScalarToVariable(out, value);
                EXPECT_EQ(describe(value), plain.failed ? "(a failure)" : plain.text) << name << "(" << list << ")";
                ++scalarDecisions;
            }
            bool failed = false;
            std::string message;
            if (engine.tryEvaluateProtectedFastCallableScalar(*fastFunction.asCallable(), args.data(), args.size(), out, failed, message)) {
                assignFastScalarToVariable(out, value);
                EXPECT_EQ(failed ? "failed: " + message : describe(value),
                          plain.failed ? "failed: " + firstLine(plain.text) : plain.text)
                    << name << "(" << list << ") protected";
                protectedFailures += failed ? 1 : 0;
            }
            EXPECT_EQ(global("calls").toString(), "0") << "a scalar form made a call: " << name << "(" << list << ")";
            EXPECT_EQ(engine.calls.callDepth, 0u);
            EXPECT_EQ(engine.scopes.blocks.size(), engine.scopes.blockBase);
        }
    }

    int scalarDecisions = 0, protectedFailures = 0;
};

TEST_F(FastCallableTest, FastBodiesBehaveAsOrdinaryCalls)
{
    load("function div(a, c); return a / c; end\nfunction tally(a); return bump(a) + bump(a); end\n"
         "function both(a); return a, a + 1; end\nfunction noisy(a); return bump(a); end\n"
         "function down(k); return k <= 0 and 0 or down(k - 1) + 1; end\n"
         "function label(k); return k <= 0 and \"end\" or label(k - 1) + \"\"; end\n"
         "function depth(k)\nif k < 1\nreturn k * 10\nend\nreturn depth(k - 1) + 1\nend\n");
    // recursive bodies among them (a runaway one is a recursion/ script)
    for (const auto& [name, lists] : std::vector<std::pair<const char*, std::vector<const char*>>>{
             {"add", {"2, 3", "0.1, 0.2", "\"x\", 1", "1", ""}}, {"div", {"1, 0", "7, 2"}}, {"tally", {"4"}}, {"both", {"4"}},
             {"guarded", {"3", "-1", "\"a\"", ""}}, {"noisy", {"3"}}, {"bump", {"3"}}, {"down", {"0", "300"}}, {"label", {"300"}},
             {"depth", {"0", "5", "\"a\"", ""}}}) {
        expectSameCalls(name, lists);
    }
    EXPECT_EQ(global("down").asCallable()->fastBodyKind, FastBodyKind::SingleReturn);
    EXPECT_EQ(global("depth").asCallable()->fastBodyKind, FastBodyKind::GuardedReturn);
    EXPECT_GT(scalarDecisions, 3);
    EXPECT_GT(protectedFailures, 0);
}

} // namespace
} // namespace cobalt
