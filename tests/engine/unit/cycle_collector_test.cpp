// The cycle collector: what it frees, and everything it must leave alone (values held on the
// native stack, containers reached from them, other engines' containers).

#include <gtest/gtest.h>

#include <memory>

#include "engine/value/container_registry.h"
#include "engine/value/variable.h"

namespace cobalt {
namespace {

struct CollectorTest : ::testing::Test {
    ContainerRegistry registry;
    ActiveContainerRegistry active{registry};
    CollectorTest() { registry.setAutomaticCollection(false); }
    // What a test keeps goes too, so the leak checker sees nothing.
    ~CollectorTest() override { registry.collectCycles(); }
};

Variable selfContainingArray()
{
    Variable array = Variable::makeArray();
    array.asArray()->items.push_back(array);
    return array;
}

TEST_F(CollectorTest, FreesDroppedCyclesOfEveryContainerKind)
{
    std::weak_ptr<ScriptArray> array;
    std::weak_ptr<ScriptTable> table;
    std::weak_ptr<MultiResult> multi;
    {
        Variable a = selfContainingArray(), t = Variable::makeTable(), m = Variable::makeMulti({Variable(1)});
        t.asTable()->map["ring"] = Variable::makeArray({t, a});
        m.asMulti()->values.push_back(Variable::makeArray({m}));
        array = a.asArray(), table = t.asTable(), multi = m.asMulti();
    }
    ASSERT_FALSE(array.expired());
    EXPECT_EQ(registry.collectCycles(), 5u);
    EXPECT_TRUE(array.expired() && table.expired() && multi.expired());
    EXPECT_EQ(registry.count(), 0u);
}

TEST_F(CollectorTest, KeepsCyclesHeldFromOutsideAndWhatTheyReach)
{
    Variable held = selfContainingArray();
    Variable inner = Variable::makeTable();
    inner.asTable()->map["back"] = held;
    inner.asTable()->map["leaf"] = Variable::makeArray({Variable(7)});
    held.asArray()->items.push_back(inner);
    inner = Variable();  // reachable only through `held` now

    // A garbage cycle that refers to a live container frees itself only.
    std::weak_ptr<ScriptArray> garbage;
    {
        Variable g = selfContainingArray();
        g.asArray()->items.push_back(held);
        garbage = g.asArray();
    }
    EXPECT_EQ(registry.collectCycles(), 1u);
    EXPECT_TRUE(garbage.expired());
    const auto& map = held.asArray()->items.at(1).asTable()->map;
    EXPECT_TRUE(held.asArray()->items[0].asArray() == held.asArray() && map.at("back").asArray() == held.asArray());
    EXPECT_EQ(map.at("leaf").toString(), "[7]");
    EXPECT_EQ(registry.count(), 3u);

    // A container not owned by a shared pointer (here on the stack) counts as in use.
    ScriptArray onStack;
    onStack.items.push_back(selfContainingArray());
    EXPECT_EQ(registry.collectCycles(), 0u);
    onStack.items.clear();
    EXPECT_EQ(registry.collectCycles(), 1u);
}

TEST_F(CollectorTest, LeavesOtherRegistriesAlone)
{
    ContainerRegistry other;
    other.setAutomaticCollection(false);
    Variable foreign;
    {
        ActiveContainerRegistry otherActive(other);
        foreign = selfContainingArray();
    }
    std::weak_ptr<ScriptArray> ours;
    {
        Variable a = selfContainingArray();
        a.asArray()->items.push_back(foreign);
        foreign.asArray()->items.push_back(a);  // a cycle through both registries
        ours = a.asArray();
    }
    // Neither collector can see the whole cycle, so neither frees any of it.
    EXPECT_EQ(registry.collectCycles() + other.collectCycles(), 0u);
    EXPECT_FALSE(ours.expired());
    foreign.asArray()->items.clear();
    EXPECT_EQ(registry.collectCycles(), 1u);
}

TEST_F(CollectorTest, FreesALongChainBehindACycleWithoutRecursion)
{
    std::weak_ptr<ScriptArray> head;
    {
        Variable first = Variable::makeArray(), last = first;
        for (int i = 0; i < 1000000; ++i) last = last.asArray()->items.emplace_back(Variable::makeArray());
        last.asArray()->items.push_back(first);
        head = first.asArray();
    }
    EXPECT_EQ(registry.collectCycles(), 1000001u);
    EXPECT_TRUE(head.expired());
}

TEST(CollectorAutomatic, RunsAsContainersAreMadeAndKeepsTheHeapBounded)
{
    ContainerRegistry registry;
    ActiveContainerRegistry active(registry);
    Variable live = Variable::makeArray();
    for (int i = 0; i < 50000; ++i) live.asArray()->items.push_back(Variable::makeArray());
    for (int round = 0; round < 200000; ++round) selfContainingArray();
    EXPECT_GT(registry.collections(), 0u);
    // Garbage never outgrows the survivors of the last collection by more than its interval.
    EXPECT_LE(registry.count(), 2 * 50001u + ContainerRegistry::kMinimumCollectionInterval);
    EXPECT_EQ(live.asArray()->items.size(), 50000u);
    registry.collectCycles();
}

} // namespace
} // namespace cobalt
