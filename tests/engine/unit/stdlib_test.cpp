// The builtin registry and the general call path as an embedder sees them: replaced and empty
// native functions, the scalar shortcut of builtins, the call state after failures, external
// names after the outermost chunk, and the table cache. Scripts check the builtins themselves.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {
namespace {

class StdlibTest : public ::testing::Test {
protected:
    StdlibTest()
    {
        engine.printHandler = [this](std::string_view line) { output += std::string(line) + "\n"; };
    }

    /// Calls the global `name` through the general call path.
    Variable call(const std::string& name, std::vector<Variable> args = {})
    {
        Variable* callee = engine.resolveVariablePtr(name);
        EXPECT_NE(callee, nullptr) << name;
        if (!callee) return Variable();
        const Variable function = *callee;
        return engine.invokeCallableFast(function, args.data(), args.size());
    }

    /// The message of the failure of calling `name` ("(no failure)" when it returns).
    std::string failure(const std::string& name, std::vector<Variable> args = {})
    {
        try {
            call(name, std::move(args));
        } catch (const std::exception& error) {
            return error.what();
        }
        return "(no failure)";
    }

    /// Runs `source` through the tree-walker as one top-level block.
    std::string run(std::string_view source)
    {
        lines = std::make_shared<ParsedLines>(engine.parseLines(source));
        size_t index = 0;
        BlockSignal signal = BlockSignal::None;
        engine.executeParsedBlock(*lines, index, signal);
        return output;
    }

    Variable global(const std::string& name)
    {
        Variable* slot = engine.resolveVariablePtr(name);
        return slot ? *slot : Variable();
    }

    CobaltScript engine;
    std::string output;
    std::shared_ptr<ParsedLines> lines;
};

// ----- registry -----

TEST_F(StdlibTest, PushFunctionReplacesPrintEverywhere)
{
    std::string captured;
    engine.pushFunction("print", [&](NativeArgs args) {
        captured += "log:" + args[0].toString();
        return Variable();
    });
    run("print(\"hi\")");
    EXPECT_EQ(captured, "log:hi");
    EXPECT_EQ(output, "");
    EXPECT_EQ(engine.calls.nativeFunctions.count("print"), 1u);
}

TEST_F(StdlibTest, BuiltinWithAnIdIsDispatchedWithoutItsFunctionObject)
{
    Variable bare = engine.makeNativeCallable(NativeFunction(), "toString", BuiltinId::None);
    Variable argument(int32_t{5});
    EXPECT_EQ(engine.invokeCallableFast(bare, &argument, 1).toString(), "5");
}

TEST_F(StdlibTest, AnEmptyNativeFunctionFailsAsAnInvalidFunction)
{
    // Registered by an embedder without a body: fails cleanly, also inside pcall.
    engine.pushFunction("broken", NativeFunction());
    EXPECT_EQ(failure("broken"), "Attempted to call an invalid function value");
    Variable bare = engine.makeNativeCallable(NativeFunction(), "mine", BuiltinId::None);
    EXPECT_THROW(engine.invokeCallableFast(bare, nullptr, 0), std::runtime_error);
    const Variable null{CallableRef()};
    try {
        engine.invokeCallableFast(null, nullptr, 0);
        ADD_FAILURE() << "a null function value was called";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Attempted to call an invalid function value");
    }
    EXPECT_EQ(engine.calls.callDepth, 0u);
    run("ok, message = pcall(broken, 1)\nprint(ok, message)");
    EXPECT_EQ(output, "false Attempted to call an invalid function value\n");
}

TEST_F(StdlibTest, ScalarShortcutAcceptsOnlyScalarResults)
{
    FastScalarValue out;
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::GetTimeMs, nullptr, 0, out));
    EXPECT_EQ(out.kind, FastScalarValue::Int);
    EXPECT_GE(out.intValue, 0);
    Variable arg("12");
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::ToNumber, &arg, 1, out));
    EXPECT_EQ(out.kind, FastScalarValue::Int);
    EXPECT_EQ(out.intValue, 12);
    arg = Variable("x");
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::ToNumber, &arg, 1, out));
    EXPECT_EQ(out.kind, FastScalarValue::Empty);
    Variable based[] = {Variable("ffffffff"), Variable(int32_t{16})};
    EXPECT_FALSE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::ToNumber, based, 2, out));  // a pointer
    arg = Variable("abc");
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::Len, &arg, 1, out));
    EXPECT_EQ(out.intValue, 3);
    EXPECT_FALSE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::ToString, &arg, 1, out));
    EXPECT_FALSE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::MathMax, &arg, 1, out));  // a string
    EXPECT_THROW(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::MathFloor, &arg, 1, out), std::runtime_error);
    Variable numbers[] = {Variable(int32_t{3}), Variable(1.5f), Variable(int32_t{2})};
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::MathMin, numbers, 3, out));
    EXPECT_EQ(out.kind, FastScalarValue::Float);
    EXPECT_EQ(out.floatValue, 1.5);
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::MathFloor, numbers + 1, 1, out));
    EXPECT_EQ(out.kind, FastScalarValue::Int);
    EXPECT_EQ(out.intValue, 1);
    try {
        engine.tryEvaluateNativeBuiltinScalar(BuiltinId::GetTimeMs, &arg, 1, out);
        FAIL() << "expected a failure";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "getTimeMs function takes no arguments");
    }
}

// ----- the call path -----

TEST_F(StdlibTest, CallStateIsRestoredAfterAFailingCall)
{
    run("function f(...)\n  local x = 1\n  return 1 / 0\nend");
    EXPECT_NE(failure("f", {Variable(int32_t{1})}), "(no failure)");
    EXPECT_EQ(engine.calls.callDepth, 0u);
    EXPECT_TRUE(engine.calls.varargs.empty());
    EXPECT_TRUE(engine.scopes.blocks.empty());
    EXPECT_EQ(engine.scopes.blockBase, 0u);
    EXPECT_EQ(engine.scopes.currentFrame, 0u);
}

TEST_F(StdlibTest, ExternalNamesBecomeGlobalsWhenTheOutermostChunkEnds)
{
    Variable text("inner = load(\"external shared = 5\")\ninner()\nseenInside = shared");
    Variable outer = engine.loadScriptChunk(NativeArgs(&text, 1));
    ASSERT_EQ(outer.type, VarType::Function);
    engine.invokeCallableFast(outer, nullptr, 0);
    EXPECT_TRUE(global("seenInside").isNot());  // not yet published while the outer chunk ran
    EXPECT_EQ(global("shared").toString(), "5");
    EXPECT_EQ(engine.loader.loadedChunkDepth, 0u);
    EXPECT_EQ(engine.scopes.external.entries.size(), 1u);
}

// ----- pcall -----

// ----- core builtins -----

TEST_F(StdlibTest, CollectGarbageDropsTheCacheEntriesOfDeadTables)
{
    {
        Variable table = Variable::makeTable();
        table.asTable()->map.emplace("a", Variable(int32_t{1}));
        engine.getSortedTableKeys(table.asTable());
    }
    Variable kept = Variable::makeTable();
    engine.getSortedTableKeys(kept.asTable());
    ASSERT_EQ(engine.tableCache.entries.size(), 2u);
    EXPECT_TRUE(call("collectGarbage").isNot());
    EXPECT_EQ(engine.tableCache.entries.size(), 1u);
    EXPECT_EQ(engine.tableCache.entries.count(kept.asTable()->id), 1u);
}

// ----- teardown -----

} // namespace
} // namespace cobalt
