// The builtin registry as an embedder sees it: empty native functions, and the table cache.
// (Natives an embedder replaces: the embedding tests, whose print and log are such natives.)
// Scripts check the builtins themselves (and the call state after failures, calls/; external
// names after the outermost chunk, loader/); the scalar shortcut of builtins is compared with the
// general call by the fast-expression tests.

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
