// The builtin registry as an embedder sees it: replaced and empty native functions, the scalar
// shortcut of builtins, and the table cache. Scripts check the builtins themselves (and the call
// state after failures, calls/; external names after the outermost chunk, loader/).

#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

class StdlibTest : public ::testing::Test, public EngineFixture {
protected:
    /// Calls the global `name` through the general call path.
    Variable call(const std::string& name, std::vector<Variable> args = {})
    {
        const Variable function = global(name);
        EXPECT_EQ(function.type, VarType::Function) << name;
        return engine.invokeCallableFast(function, args.data(), args.size());
    }

    std::string failure(const std::string& name, std::vector<Variable> args = {})
    {
        return failureOf([&] { call(name, std::move(args)); });
    }
};

TEST_F(StdlibTest, PushFunctionReplacesPrintEverywhere)
{
    std::string captured;
    engine.pushFunction("print", [&](NativeArgs args) { captured += "log:" + args[0].toString(); return Variable(); });
    run("print(\"hi\")");
    EXPECT_EQ(captured + "|" + output, "log:hi|");
    EXPECT_EQ(engine.calls.nativeFunctions.count("print"), 1u);
}

TEST_F(StdlibTest, AnEmptyNativeFunctionFailsAsAnInvalidFunction)
{
    // Registered by an embedder without a body: fails cleanly, also inside pcall.
    engine.pushFunction("broken", NativeFunction());
    EXPECT_EQ(failure("broken"), "Attempted to call an invalid function value");
    const Variable bare = engine.makeNativeCallable(NativeFunction(), "mine", BuiltinId::None), null{CallableRef()};
    EXPECT_THROW(engine.invokeCallableFast(bare, nullptr, 0), std::runtime_error);
    EXPECT_EQ(failureOf([&] { engine.invokeCallableFast(null, nullptr, 0); }), "Attempted to call an invalid function value");
    EXPECT_EQ(engine.calls.callDepth, 0u);
    run("ok, message = pcall(broken, 1)\nprint(ok, message)");
    EXPECT_EQ(output, "false Attempted to call an invalid function value\n");
}

TEST_F(StdlibTest, ScalarShortcutAcceptsOnlyScalarResults)
{
    const struct {
        BuiltinId id;
        std::vector<Variable> args;
        const char* expected;  // "declined", the scalar's kind and value, or the failure
    } rows[] = {
        {BuiltinId::ToNumber, {Variable("12")}, "int 12"},
        {BuiltinId::ToNumber, {Variable("x")}, "empty"},
        {BuiltinId::ToNumber, {Variable("ffffffff"), Variable(int32_t{16})}, "declined"},  // a pointer
        {BuiltinId::Len, {Variable("abc")}, "int 3"},
        {BuiltinId::ToString, {Variable("abc")}, "declined"},
        {BuiltinId::MathMax, {Variable("abc")}, "declined"},  // a string
        {BuiltinId::MathFloor, {Variable("abc")}, "Expected a numeric value"},
        {BuiltinId::MathMin, {Variable(int32_t{3}), Variable(1.5f), Variable(int32_t{2})}, "float 1.500000"},
        {BuiltinId::MathFloor, {Variable(1.5f)}, "int 1"},
        {BuiltinId::GetTimeMs, {Variable("abc")}, "getTimeMs function takes no arguments"},
    };
    for (const auto& row : rows) {
        FastScalarValue out;
        bool taken = false;
        std::string actual = failureOf([&] {
            taken = engine.tryEvaluateNativeBuiltinScalar(row.id, row.args.data(), row.args.size(), out);
        });
        if (actual == "(no failure)") {
            actual = !taken                                 ? "declined"
                     : out.kind == FastScalarValue::Int     ? "int " + std::to_string(out.intValue)
                     : out.kind == FastScalarValue::Float   ? "float " + Variable(static_cast<float>(out.floatValue)).toString()
                     : out.kind == FastScalarValue::Empty   ? "empty"
                                                            : "other";
        }
        EXPECT_EQ(actual, row.expected) << row.args.size() << " arguments, first " << row.args[0].toString();
    }
    FastScalarValue now;
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::GetTimeMs, nullptr, 0, now));
    EXPECT_TRUE(now.kind == FastScalarValue::Int && now.intValue >= 0);
}

TEST_F(StdlibTest, CollectGarbageDropsTheCacheEntriesOfDeadTables)
{
    engine.getSortedTableKeys(Variable::makeTable().asTable());
    Variable kept = Variable::makeTable();
    engine.getSortedTableKeys(kept.asTable());
    ASSERT_EQ(engine.tableCache.entries.size(), 2u);
    EXPECT_TRUE(call("collectGarbage").isNot());
    EXPECT_EQ(engine.tableCache.entries.size(), 1u);
    EXPECT_EQ(engine.tableCache.entries.count(kept.asTable()->id), 1u);
}

} // namespace
} // namespace cobalt
