// Scopes and name resolution: the search order, assignment targets, explicit-scope names and
// the per-token resolution cache (which may shorten a search but never change its answer).

#include <gtest/gtest.h>

#include <cstdio>

#include <string>

#include "engine/cobalt_script.h"

namespace cobalt {
namespace {

class ScopeTest : public ::testing::Test {
protected:
    std::string read(const std::string& name)
    {
        const Variable* found = engine.resolveVariablePtr(name);
        return found ? found->toString() : "(none)";
    }

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

TEST_F(ScopeTest, DefaultAssignmentCreatesAGlobalAndUpdatesWhatItFinds)
{
    engine.assignVariable("x", Variable(int32_t{1}), ScopeTarget::Default);
    EXPECT_EQ(read("x"), "1");
    EXPECT_EQ(read("x#1"), "1");

    engine.pushBlockScope();
    engine.assignVariable("x", Variable(int32_t{2}), ScopeTarget::Default);  // updates the global
    setLocal("y", 5);
    engine.assignVariable("y", Variable(int32_t{6}), ScopeTarget::Default);  // updates the local
    engine.popBlockScope();
    EXPECT_EQ(read("x"), "2");
    EXPECT_EQ(read("y"), "(none)");
}

TEST_F(ScopeTest, LocalHidesGlobalUntilTheBlockEnds)
{
    engine.pushVariable("x", Variable(int32_t{1}));
    engine.pushBlockScope();
    setLocal("x", 2);
    EXPECT_EQ(read("x"), "2");
    EXPECT_EQ(read("x#1"), "1");
    EXPECT_EQ(read("x#3"), "2");
    engine.popBlockScope();
    EXPECT_EQ(read("x"), "1");
}

TEST_F(ScopeTest, BlockBaseHidesCallerBlocksButNotLoops)
{
    engine.pushBlockScope();
    setLocal("callerLocal", 1);
    engine.pushLoopScope();
    CobaltScript::setInScope(engine.scopes.loops.back(), "i", Variable(int32_t{3}));

    // A call: the callee's block scopes start above the caller's.
    const size_t savedBase = engine.scopes.blockBase;
    engine.scopes.blockBase = engine.scopes.blocks.size();
    engine.pushBlockScope();
    EXPECT_EQ(read("callerLocal"), "(none)");
    EXPECT_EQ(read("callerLocal#3"), "(none)");
    EXPECT_EQ(read("i"), "3");
    engine.popBlockScope();
    engine.scopes.blockBase = savedBase;
    EXPECT_EQ(read("callerLocal"), "1");
}

TEST_F(ScopeTest, LocalTargetWithoutABlockPushesOne)
{
    engine.scopes.blockBase = engine.scopes.blocks.size();
    setLocal("z", 9);
    ASSERT_EQ(engine.scopes.blocks.size(), engine.scopes.blockBase + 1);
    EXPECT_EQ(read("z"), "9");
}

TEST_F(ScopeTest, FrameScopesFollowTheCurrentFrame)
{
    engine.scopes.currentFrame = 2;
    engine.assignVariable("f", Variable(int32_t{7}), ScopeTarget::Native);
    EXPECT_GE(engine.scopes.frames.size(), 3u);
    EXPECT_EQ(read("f"), "7");
    EXPECT_EQ(read("f#2"), "7");
    engine.scopes.currentFrame = 1;
    EXPECT_EQ(read("f"), "(none)");
    engine.scopes.currentFrame = 5;  // a frame that does not exist yet is simply empty
    EXPECT_EQ(read("f#2"), "(none)");
}

TEST_F(ScopeTest, ExternalScopeIsReachedOnlyByName0)
{
    engine.assignVariable("e", Variable(int32_t{4}), ScopeTarget::External);
    EXPECT_EQ(read("e"), "(none)");
    EXPECT_EQ(read("e#0"), "4");
}

TEST_F(ScopeTest, ExplicitScopeAssignmentsCreateInTheNamedScope)
{
    engine.pushVariable("count", Variable(int32_t{1}));
    engine.pushBlockScope();
    setLocal("count", 2);
    engine.assignVariable("count#3", Variable(int32_t{5}), ScopeTarget::Default);
    engine.assignVariable("count#1", Variable(int32_t{6}), ScopeTarget::Local);  // the name wins
    engine.assignVariable("fresh#3", Variable(int32_t{8}), ScopeTarget::Default);
    engine.assignVariable("other#2", Variable(int32_t{9}), ScopeTarget::Default);
    engine.assignVariable("outside#0", Variable(int32_t{10}), ScopeTarget::Default);
    EXPECT_EQ(read("count"), "5");
    EXPECT_EQ(read("count#1"), "6");
    EXPECT_EQ(read("fresh"), "8");
    EXPECT_EQ(read("other"), "9");
    EXPECT_EQ(read("outside"), "(none)");
    engine.popBlockScope();
    EXPECT_EQ(read("fresh"), "(none)");
    EXPECT_EQ(read("count"), "6");

    EXPECT_EQ(engine.resolveExistingVariableFastMutable("nothing#1", nullptr, false), nullptr);
    ASSERT_NE(engine.resolveExistingVariableFastMutable("nothing#1", nullptr, true), nullptr);
    EXPECT_EQ(read("nothing"), "not");
}

TEST_F(ScopeTest, ParseScopedNames)
{
    std::string_view base;
    int scope = -1;
    ASSERT_TRUE(engine.parseScopedVariableToken("count#2", base, scope));
    EXPECT_EQ(base, "count");
    EXPECT_EQ(scope, 2);
    for (const char* other : {"count#4", "#1", "a.b#1", "count", "count#", "a#1#2"}) {
        EXPECT_FALSE(engine.parseScopedVariableToken(other, base, scope)) << other;
    }
}

TEST_F(ScopeTest, AssigningOverABuiltinReplacesTheGlobal)
{
    ASSERT_NE(engine.resolveVariablePtr("print"), nullptr);
    engine.assignVariable("print", Variable(int32_t{3}), ScopeTarget::Default);
    EXPECT_EQ(read("print"), "3");
}

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
    setLocal("x", 5);
    EXPECT_EQ(readCached("x", x), "5");
    engine.popBlockScope();

    // And the same name at the cached index of a new list is that list's own entry.
    engine.pushBlockScope();
    setLocal("q", 0);
    setLocal("x", 6);
    EXPECT_EQ(readCached("x", x), "6");
    engine.popBlockScope();
    EXPECT_EQ(readCached("x", x), "(none)");
}

TEST_F(ScopeTest, CachedGlobalYieldsToALaterLocal)
{
    engine.pushVariable("x", Variable(int32_t{1}));
    TokenAnalysis x;
    EXPECT_EQ(readCached("x", x), "1");
    EXPECT_EQ(x.resolvedKind, ResolutionKind::GlobalSlot);

    engine.pushBlockScope();
    setLocal("x", 2);
    EXPECT_EQ(readCached("x", x), "2");
    engine.popBlockScope();
    EXPECT_EQ(readCached("x", x), "1");

    // A loop scope of the same count as when the slot was recorded, holding the name.
    engine.pushLoopScope();
    CobaltScript::setInScope(engine.scopes.loops.back(), "i", Variable(int32_t{0}));
    EXPECT_EQ(readCached("x", x), "1");
    engine.popLoopScope();
    engine.pushLoopScope();
    CobaltScript::setInScope(engine.scopes.loops.back(), "x", Variable(int32_t{3}));
    EXPECT_EQ(readCached("x", x), "3");
    engine.popLoopScope();
}

TEST_F(ScopeTest, CachedLoopEntryYieldsToAnInnerLocal)
{
    engine.pushLoopScope();
    CobaltScript::setInScope(engine.scopes.loops.back(), "i", Variable(int32_t{1}));
    TokenAnalysis i;
    EXPECT_EQ(readCached("i", i), "1");
    EXPECT_EQ(i.resolvedKind, ResolutionKind::LoopScope);
    engine.pushBlockScope();
    setLocal("i", 2);
    EXPECT_EQ(readCached("i", i), "2");
    engine.popBlockScope();
    EXPECT_EQ(readCached("i", i), "1");
}

TEST_F(ScopeTest, FastAssignmentRecordsTheNewGlobalSlot)
{
    TokenAnalysis g;
    engine.assignVariableFast("g", &g, Variable(int32_t{1}), ScopeTarget::Default);
    EXPECT_EQ(g.resolvedKind, ResolutionKind::GlobalSlot);
    EXPECT_TRUE(g.globalSlotValid);
    engine.assignVariableFast("g", &g, Variable(int32_t{2}), ScopeTarget::Default);
    EXPECT_EQ(readCached("g", g), "2");
    Variable out;
    EXPECT_TRUE(engine.resolveVariableFast("g", &g, out));
    EXPECT_EQ(out.toString(), "2");
    EXPECT_FALSE(engine.resolveVariableFast("unknown", nullptr, out));
    EXPECT_TRUE(out.isNot());
}

TEST_F(ScopeTest, AnalysisSharedWithAnotherEngineNeverReadsTheWrongSlot)
{
    TokenAnalysis name;
    engine.pushVariable("alpha", Variable(int32_t{1}));
    EXPECT_EQ(readCached("alpha", name), "1");

    CobaltScript other;
    other.pushVariable("beta", Variable(int32_t{2}));
    const Variable* found = other.resolveVariableFastPtr("alpha", &name);
    EXPECT_EQ(found, nullptr);
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
    try {
        engine.assignVariable("ghost", Variable(int32_t{1}), ScopeTarget::Default);
        FAIL() << "no failure";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Internal slot error while assigning variable: ghost");
    }
    try {
        engine.pushVariable("ghost", Variable(int32_t{1}));
        FAIL() << "no failure";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Internal slot error while setting variable: ghost");
    }
}

} // namespace
} // namespace cobalt
