// Engine state behind what scripts see: the global slots the resolution cache points into (the
// search order, explicit-scope names and cached names are the scope scripts' checks), the
// per-table caches, and empty native functions an embedder registers. (A bound string method is
// called with its string, never dispatched as the bare builtin: indexing/failures.cbs.)
// Scripts check the builtins themselves; the scalar shortcut of builtins is compared with the
// general call by the fast-expression tests.

#include <cstdio>

#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

class EngineStateTest : public ::testing::Test, public EngineFixture {};

// ----- the resolution cache -----

// Two engines built and used alike: a token's cache, recorded by a look-up in one, never gives
// the other engine's entry at the same place (a local, then a global).
TEST(ResolutionCache, RecordedByOneEngineNeverReadsAnotherEnginesEntry)
{
    CobaltScript first;
    CobaltScript second;
    const TokenAnalysis x = analyseToken("x");
    for (auto [engine, names] : {std::pair{&first, "yx"}, std::pair{&second, "ab"}}) {
        engine->pushBlockScope();
        engine->assignVariable(std::string(1, names[0]), Variable(int32_t{1}), ScopeTarget::Local);
        engine->assignVariable(std::string(1, names[1]), Variable(int32_t{2}), ScopeTarget::Local);
    }
    ASSERT_NE(first.resolveVariableFastPtr("x", &x), nullptr);
    EXPECT_EQ(second.resolveVariableFastPtr("x", &x), nullptr);

    const TokenAnalysis alpha = analyseToken("alpha");
    first.pushVariable("alpha", Variable(int32_t{1}));
    second.pushVariable("beta", Variable(int32_t{2}));
    ASSERT_NE(first.resolveVariableFastPtr("alpha", &alpha), nullptr);
    EXPECT_EQ(second.resolveVariableFastPtr("alpha", &alpha), nullptr);
}

// ----- global slots -----

TEST_F(EngineStateTest, GlobalSlotsStayPutWhileGlobalsAreAdded)
{
    engine.pushVariable("first", Variable(int32_t{1}));
    const Variable* slot = engine.resolveVariablePtr("first");
    char name[16];  // not std::to_string: GCC 12 at -O3 misreads its inlined copy as overlapping
    for (int i = 0; i < 5000; ++i) {
        std::snprintf(name, sizeof name, "g%d", i);
        engine.pushVariable(name, Variable(int32_t{i}));
    }
    EXPECT_EQ(slot, engine.resolveVariablePtr("first"));
    EXPECT_EQ(slot->toString(), "1");
}

TEST_F(EngineStateTest, BrokenGlobalIndexIsReportedNotFollowed)
{
    engine.scopes.globalIndex["ghost"] = 1u << 30;
    EXPECT_EQ(engine.resolveVariablePtr("ghost"), nullptr);
    EXPECT_EQ(failureOf([&] { engine.assignVariable("ghost", Variable(int32_t{1}), ScopeTarget::Default); }),
              "Internal slot error while assigning variable: ghost");
    EXPECT_EQ(failureOf([&] { engine.pushVariable("ghost", Variable(int32_t{1})); }),
              "Internal slot error while setting variable: ghost");
}

// ----- the per-table caches -----

TEST_F(EngineStateTest, DeadTablesArePrunedFromTheCache)
{
    {
        std::vector<Variable> tables;
        for (int i = 0; i < 300; ++i) {
            tables.push_back(Variable::makeTable());
            tables.back().asTable()->map.emplace("1", Variable("1"));
            engine.numericTableLength(tables.back().asTable());
        }
        EXPECT_GE(engine.tableCache.entries.size(), 300u);
    }
    for (int i = 0; i < 64; ++i) engine.maybePruneDeadTableCacheEntries();
    EXPECT_LT(engine.tableCache.entries.size(), 300u);
}

TEST_F(EngineStateTest, CollectGarbageDropsTheCacheEntriesOfDeadTables)
{
    engine.getSortedTableKeys(Variable::makeTable().asTable());
    Variable kept = Variable::makeTable();
    engine.getSortedTableKeys(kept.asTable());
    ASSERT_EQ(engine.tableCache.entries.size(), 2u);
    EXPECT_TRUE(engine.invokeCallableFast(global("collectGarbage"), nullptr, 0).isNot());
    EXPECT_EQ(engine.tableCache.entries.size(), 1u);
    EXPECT_EQ(engine.tableCache.entries.count(kept.asTable()->id), 1u);
}

// ----- native functions an embedder registers -----

TEST_F(EngineStateTest, AnEmptyNativeFunctionFailsAsAnInvalidFunction)
{
    // Registered by an embedder without a body: fails cleanly, also inside pcall.
    engine.pushFunction("broken", NativeFunction());
    EXPECT_EQ(failureOf([&] { engine.invokeCallableFast(global("broken"), nullptr, 0); }),
              "Attempted to call an invalid function value");
    const Variable bare = engine.makeNativeCallable(NativeFunction(), "mine", BuiltinId::None), null{CallableRef()};
    EXPECT_THROW(engine.invokeCallableFast(bare, nullptr, 0), std::runtime_error);
    EXPECT_EQ(failureOf([&] { engine.invokeCallableFast(null, nullptr, 0); }), "Attempted to call an invalid function value");
    EXPECT_EQ(engine.calls.callDepth, 0u);
    run("ok, message = pcall(broken, 1)\nprint(ok, message)");
    EXPECT_EQ(output, "false Attempted to call an invalid function value\n");
}

} // namespace
} // namespace cobalt
