// The tree-walking executor over parsed lines: every statement kind, the messages of its
// syntax checks, scope cleanup on every exit, soft-error unwinding, and the loop rules that
// protect against bodies changing what they iterate. Script files run through the bytecode
// interpreter and never reach the tree-walker, so its statements are checked here.

#include <gtest/gtest.h>

#include <cstdio>

#include <string>

#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

class ExecTest : public ::testing::Test, public EngineFixture {};

// ----- statements, one case each: the printed output, or "error: " and the message -----

struct StatementCase {
    const char* source;
    const char* expected;
};

constexpr StatementCase kStatementCases[] = {
    // if chains
    {"x = 2\nif x == 1\n  print(1)\nelseif x == 2\n  print(2)\nelseif x == 2\n  print(22)\nelse\n  print(0)\nend\n"
     "print(\"after\")", "2\nafter\n"},
    {"if 0\n  print(\"zero runs\")\nend\nif not\n  print(\"never\")\nelse\n  print(\"else\")\nend", "zero runs\nelse\n"},
    {"if false\n  print(1)", "error: Missing 'end' for if block"},
    {"if true\n  print(1)", "error: Missing 'end' for if block"},
    // while and repeat
    {"while false\n  print(\"body\")\nend\nprint(\"after\")", "after\n"},
    {"i = 0\nwhile i < 5\n  i += 1\n  if i == 3\n    break\n  end\nend\nprint(i)", "3\n"},
    {"while true\n  x = 1\nelse\nend", "error: Missing 'end' for while block"},
    // the until condition cannot see the body's locals (else the loop would stop at once)
    {"n = 0\nrepeat\n  local y = 5\n  n += 1\nuntil n == 3 or y == 5\nprint(n)", "3\n"},
    {"repeat\n  x = 1\nuntil", "error: Missing until condition"},
    {"repeat\n  x = 1\nuntil true 5", "error: Unexpected token after until condition"},
    {"repeat\n  x = 1", "error: Missing 'until' for repeat block"},
    // numeric for: ranges, a loop variable the body assigns, the edges of the int range
    {"for i = 1, 3\n  print(i)\nend\nfor i = 3, 1\n  print(i)\nend\nfor i = 3, 1, -1\n  print(i)\nend", "1\n2\n3\n3\n2\n1\n"},
    {"for i = 1.9, 3.9\n  print(i)\nend", "1\n2\n3\n"},
    {"for i = 1, 3\n  print(i)\n  i = 100\nend", "1\n2\n3\n"},
    {"n = 0\nfor i = 2147483646, 2147483647\n  n += 1\nend\nfor i = -2147483647, -2147483648, -1\n  n += 1\nend\n"
     "for i = 0, 2147483647, 1073741824\n  n += 1\nend\nprint(n)", "6\n"},
    {"for i = 1, 2, 0\nend", "error: for loop step must not be 0"},
    {"for i = 1 2\nend", "error: Expected ',' after for start value"},
    {"for i = 1\nend", "error: Expected ',' after for start value"},
    {"for i = 1, 2, 3 4\nend", "error: Unexpected token after for clause"},
    {"for i = \"a\", 2\nend", "error: Expected a numeric value"},
    {"for i = 1, 2\n  x = 1", "error: Missing 'end' for block"},
    {"function show()\n  print(i)\nend\nfor i = 1, 2\n  show()\nend\nprint(i)", "1\n2\nnot\n"},
    // generic for
    {"t = {b: 1, a: 2, \"10\": 3}\nfor k, v in pairs(t)\n  print(k, v)\nend", "10 3\na 2\nb 1\n"},
    {"for x in [1, 2]\n  print(x)\nend\nfor a, b in [[1, 2], [3]]\n  print(a, b)\nend\nfor a, b in [7]\n  print(a, b)\nend",
     "1\n2\n1 2\n3 not\n7 not\n"},
    {"t = {\"1\": \"a\", \"2\": \"b\", \"4\": \"d\"}\nfor i, v in ipairs(t)\n  print(i, v)\nend", "1 a\n2 b\n"},
    {"t = {\"1\": \"a\", \"x\": \"b\"}\nfor k, v in pairs(t)\n  print(typeOf(k), k)\nend", "number 1\nstring x\n"},
    {"function pairs(t)\n  return [[\"mine\", 1]]\nend\nfor k, v in pairs({a: 5})\n  print(k, v)\nend", "mine 1\n"},
    {"t = {a: 1, b: 2}\nfor k, v in pairs(t)\n  t[\"z\" + k] = v\n  print(k)\nend\nprint(t[\"za\"], t[\"zb\"])", "a\nb\n1 2\n"},
    {"for x in 5\nend", "error: generic for loops expect an array iterator"},
    {"for 1 in [1]\nend", "error: Expected loop variable name"},
    {"for x, 2 in [1]\nend", "error: Expected loop variable name"},
    {"for x on [1]\nend", "error: Expected 'in' in generic for loop"},
    {"for x in [1] 2\nend", "error: Unexpected token after for iterator"},
    {"for k, v in pairs(5)\nend", "error: pairs(container) expects an array or table"},
    {"for k, v in ipairs(\"s\")\nend", "error: ipairs(container) expects an array or table"},
    // function declarations
    {"function outer()\n  function inner(a)\n    if a\n      return \"yes\"\n    end\n    return \"no\"\n  end\n"
     "  return inner(true) + inner(false)\nend\nprint(outer())", "yesno\n"},
    {"function f(a, ...)\n  return select(1, ...)\nend\nx, y = f(1, 2, 3)\nprint(x, y)", "2 3\n"},
    {"function f()\n  print(\"ran\")\nend", ""},
    {"function 5()\nend", "error: Expected function target"},
    {"function t[\"a\" x](y)\nend", "error: Expected closing bracket in function target"},
    {"function f\nend", "error: Expected '(' after function target"},
    {"function f(1)\nend", "error: Expected function parameter name"},
    {"function f(a b)\nend", "error: Expected ',' or ')' after function parameter"},
    {"function f(a,\nend", "error: Expected ')' after function parameters"},
    {"function f(a) x\nend", "error: Unexpected token after function declaration"},
    {"function f(a)\n  return a", "error: Missing 'end' for block"},
    {"obj = {}\nfunction obj[\"greet\"](name)\n  return \"hi \" + name\nend\nprint(obj[\"greet\"](\"bo\"))", "hi bo\n"},
    {"function lib[1](x)\n  return x * 2\nend\nprint(lib[1](4), lib)", "8 [[function]]\n"},  // a new container
    // assignments
    {"a, b = 1\nprint(a, b)\na, b = 1, 2, 3\nprint(a, b)", "1 not\n1 2\n"},
    {"function f()\n  return 1, 2\nend\na, b, c = f()\nprint(a, b, c)\nm = f()\nprint(typeOf(m))", "1 2 not\ntable\n"},
    {"a = 1\nb = 2\na, b = b, a\nprint(a, b)", "2 1\n"},
    {"t[1] = 5\nu[\"k\"] = 5\nprint(typeOf(t), t, u)", "table [5] {k: 5}\n"},
    // the right side replaces `a`; the store goes into the array `a` holds afterwards
    {"a = [0]\nfunction swap()\n  a = [10, 20]\n  return 5\nend\na[1] = swap()\nprint(a)", "[5, 20]\n"},
    {"x = 5\nx += 2\nx *= 3\nx -= 1\nx \\= 4\nx %= 3\nx ^= 3\ns = \"a\"\ns += 1\nprint(x, s)", "8 a1\n"},
    {"t = {n: 1}\nt[\"n\"] += 41\na = [1, [2]]\na[2][1] *= 5\nprint(t[\"n\"], a)", "42 [1, [10]]\n"},
    {"x += 1", "error: Variable not found: x"},
    {"t = {}\nt[\"k\"] += 1", "error: Table key not found: k"},
    {"a = [1]\na[3] += 1", "error: Array index out of range"},
    {"x = [1]\nx += 1", "error: Unsupported operation '+' between types"},
    {"x = 1 2", "error: Unexpected token in assignment expression"},
    {"function f()\n  local x = 1\n  native y = 2\n  external z = 3\nend\nf()\nprint(x, y, z, z#0)", "not not not 3\n"},
    // simple statements, return, break, soft errors
    {"print(1) 2", "error: Unexpected trailing token"},
    {"if 1 2\nend", "error: Unexpected token after if condition"},
    {"return 1 2", "error: Unexpected token after return value"},
    {"for i = 1, 5\n  nest \"n\"\n    if i == 2\n      break\n    end\n  end\n  print(i)\nend", "1\n"},
    {"function f()\n  for i = 1, 10\n    while true\n      print(i)\n      error(\"stop\")\n      print(\"no\")\n    end\n"
     "  end\n  print(\"no\")\nend\nok, msg = pcall(f)\nprint(ok, msg)", "1\nfalse stop\n"},
};

TEST(ExecStatements, EachCaseGivesItsOutputOrMessage)
{
    for (const StatementCase& statement : kStatementCases) {
        EngineFixture fixture;
        const std::string message = fixture.message(statement.source);
        const std::string output = message == "(no failure)" ? fixture.output : "error: " + message;
        CobaltScript& engine = fixture.engine;
        EXPECT_EQ(output, statement.expected) << statement.source;
        if (output.starts_with("error: ")) continue;
        EXPECT_TRUE(engine.scopes.loops.empty()) << statement.source;
        EXPECT_TRUE(engine.scopes.blocks.empty()) << statement.source;
        EXPECT_FALSE(engine.softError.pending) << statement.source;
    }
}

TEST_F(ExecTest, ArrayShrinkingDuringPairsStopsTheLoop)
{
    int calls = 0;
    defineNative("shrink", [&](NativeArgs args) {
        ++calls;
        args[0].asArray()->items.resize(1);
        return Variable();
    });
    EXPECT_EQ(run("a = [1, 2, 3, 4]\nfor i, v in pairs(a)\n  print(v)\n  shrink(a)\nend"), "1\n");
    EXPECT_EQ(calls, 1);
}

TEST_F(ExecTest, TableKeyRemovedDuringPairsIsReportedWhenReached)
{
    defineNative("drop", [&](NativeArgs args) {
        args[0].asTable()->map.erase(args[1].asString());
        CobaltScript::bumpTableVersion(*args[0].asTable());
        return Variable();
    });
    EXPECT_EQ(message("t = {a: 1, b: 2, c: 3}\nfor k, v in pairs(t)\n  print(k)\n  drop(t, \"c\")\nend"),
              "unordered_map::at: key not found");
    EXPECT_EQ(output, "a\nb\n");
}

// ----- function declarations -----

TEST_F(ExecTest, FunctionBodyWithNestedBlocksKeepsItsBlockLinks)
{
    // The body copy starts at line 0 of its own list; its if/while links must point into it.
    EXPECT_EQ(run("x = 0\nfunction f(n)\n  total = 0\n  while n > 0\n    if n % 2 == 0\n      total += n\n    else\n"
                  "      total += 100\n    end\n    n -= 1\n  end\n  return total\nend\nprint(f(4))"),
              "206\n");
    const Variable f = global("f");
    ASSERT_EQ(f.type, VarType::Function);
    EXPECT_FALSE(f.asCallable()->program);
    EXPECT_EQ(f.asCallable()->bodyLines.size(), 10u);
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

TEST_F(ExecTest, BlockValueIsTheLastExpressionOrTheReturnedValue)
{
    BlockSignal signal = BlockSignal::None;
    Variable value;
    run("1 + 1\nx = 5", &signal, &value);
    EXPECT_EQ(value.toString() + (signal == BlockSignal::None ? " none" : " signal"), "2 none");
    run("return 1, 2", &signal, &value);
    EXPECT_EQ(value.type, VarType::Multi);
    EXPECT_EQ(signal, BlockSignal::Return);
    run("return", &signal, &value);
    EXPECT_TRUE(value.isNot() && signal == BlockSignal::Return);
}

TEST_F(ExecTest, BreakAtTopLevelIsASignalAndInAFunctionAFailure)
{
    BlockSignal signal = BlockSignal::None;
    run("x = 1\nbreak\nx = 2", &signal);
    EXPECT_EQ(signal, BlockSignal::Break);
    EXPECT_EQ(global("x").toString(), "1");
    EXPECT_EQ(message("function f()\n  break\nend\nf()"), "break used outside a loop");
}

// ----- failures: where they are placed, and the scopes they leave -----

TEST(ExecFailures, ArePlacedAtTheFailingStatementAndLeaveNoScopes)
{
    const struct {
        const char* source;
        const char* placed;  // a part of the failure text
    } rows[] = {
        {"if false\nelseif 1 / 0\nend", "Division by zero\n  at line 2, near token '0'\n  elseif 1 / 0\n             ^\n"},
        {"for i = 1, 2\n  for k in [1]\n    while true\n      local z = 1\n      x = 1 / 0\n    end\n  end\nend",
         "Division by zero\n  at line 5"},
        // in the callee, and in the caller once the call has returned
        {"function f()\n  y = 1 / 0\nend\nf()", "at line 2, near token '0'\n  y = 1 / 0\n"},
        {"function f()\n  return 1\nend\nx = f() + [1]", "at line 4"},
        {"function r(n)\n  x = n\n  return r(n + 1)\nend\nr(1)", kRecursionTooDeep},
    };
    for (const auto& row : rows) {
        EngineFixture fixture;
        const std::string text = failureOf([&] { fixture.run(row.source); });
        EXPECT_NE(text.find(row.placed), std::string::npos) << row.source << "\n" << text;
        EXPECT_EQ(fixture.engine.calls.callDepth, 0u) << row.source;
        EXPECT_TRUE(fixture.engine.scopes.blocks.empty() && fixture.engine.scopes.loops.empty()) << row.source;
    }
}

} // namespace
} // namespace cobalt
