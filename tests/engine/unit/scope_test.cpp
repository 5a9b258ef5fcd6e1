// Name resolution behind what scripts see (the search order, explicit-scope names, a cached name
// that a later local or loop variable hides, and a cached entry never taken for another variable
// are checked by the script tests in scopes/): the global slots the resolution cache points into.

#include <cstdio>

#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

class ScopeTest : public ::testing::Test {
protected:
    CobaltScript engine;
};

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
