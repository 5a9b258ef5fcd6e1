// Name resolution behind what scripts see (the search order, explicit-scope names and a cached
// name that a later local or loop variable hides are checked by the script tests in scopes/): the
// per-token resolution cache, which may shorten a search but never change its answer, and the
// global slots it points into.

#include <cstdio>

#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

class ScopeTest : public ::testing::Test {
protected:
    std::string readCached(const std::string& name, const TokenAnalysis& analysis)
    {
        const Variable* found = engine.resolveVariableFastPtr(name, &analysis);
        return found ? found->toString() : "(none)";
    }

    void setLocal(const std::string& name, int32_t value)
    {
        engine.assignVariable(name, Variable(value), ScopeTarget::Local);
    }

    CobaltScript engine;
};

TEST_F(ScopeTest, CachedBlockEntryIsNotReturnedFromAnotherList)
{
    TokenAnalysis x;
    engine.pushBlockScope();
    setLocal("y", 1);
    setLocal("x", 2);
    EXPECT_EQ(readCached("x", x), "2");
    EXPECT_EQ(x.resolvedKind, ResolutionKind::BlockScope);
    engine.popBlockScope();

    // Another list now stands at the same depth, with another name at the cached index.
    engine.pushBlockScope();
    setLocal("a", 3);
    setLocal("b", 4);
    EXPECT_EQ(readCached("x", x), "(none)");
    engine.popBlockScope();

    // And the same name at the cached index of a new list is that list's own entry.
    engine.pushBlockScope();
    setLocal("q", 0);
    setLocal("x", 6);
    EXPECT_EQ(readCached("x", x), "6");
    engine.popBlockScope();
    EXPECT_EQ(readCached("x", x), "(none)");
}

TEST_F(ScopeTest, AnalysisSharedWithAnotherEngineNeverReadsTheWrongSlot)
{
    TokenAnalysis name;
    engine.pushVariable("alpha", Variable(int32_t{1}));
    EXPECT_EQ(readCached("alpha", name), "1");

    CobaltScript other;
    other.pushVariable("beta", Variable(int32_t{2}));
    EXPECT_EQ(other.resolveVariableFastPtr("alpha", &name), nullptr);
}

TEST_F(ScopeTest, GlobalSlotsStayPutWhileGlobalsAreAdded)
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

TEST_F(ScopeTest, BrokenGlobalIndexIsReportedNotFollowed)
{
    engine.scopes.globalIndex["ghost"] = 1u << 30;
    EXPECT_EQ(engine.resolveVariablePtr("ghost"), nullptr);
    EXPECT_EQ(failureOf([&] { engine.assignVariable("ghost", Variable(int32_t{1}), ScopeTarget::Default); }),
              "Internal slot error while assigning variable: ghost");
    EXPECT_EQ(failureOf([&] { engine.pushVariable("ghost", Variable(int32_t{1})); }),
              "Internal slot error while setting variable: ghost");
}

} // namespace
} // namespace cobalt
