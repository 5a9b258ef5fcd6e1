// Indexing behind what scripts see: bound string methods, promotion of an array that holds
// itself, and the per-table caches.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/cobalt_script.h"

namespace cobalt {
namespace {

Variable intValue(int32_t value) { return Variable(value); }

Variable arrayOf(std::vector<Variable> items) { return Variable::makeArray(std::move(items)); }

Variable tableWithKeys(const std::vector<std::string>& keys)
{
    Variable table = Variable::makeTable();
    for (const auto& key : keys) table.asTable()->map.emplace(key, Variable(key));
    return table;
}

class IndexingTest : public ::testing::Test {
protected:
    std::string get(const Variable& container, const Variable& key)
    {
        return engine.getIndexedValue(container, key).toString();
    }

    CobaltScript engine;
};

TEST_F(IndexingTest, BoundStringMethodsAreNeverDispatchedWithoutTheirString)
{
    auto upper = std::make_shared<ScriptCallable>();
    upper->isNative = true;
    upper->name = "string.upper";
    upper->native = [](NativeArgs args) { return Variable(args[0].toString() + std::to_string(args.size())); };
    Variable library = Variable::makeTable();
    library.asTable()->map["upper"] = Variable(CallableRef(upper));
    engine.pushVariable("string", library);

    const Variable bound = engine.getIndexedValue(Variable("abc"), Variable("upper"));
    ASSERT_EQ(bound.type, VarType::Function);
    EXPECT_EQ(bound.asCallable()->builtinId, BuiltinId::None);
    const Variable extra("z");
    EXPECT_EQ(engine.invokeCallableFast(bound, &extra, 1).toString(), "abc2");

    engine.pushVariable("string", intValue(1));
    EXPECT_EQ(get(Variable("abc"), Variable("upper")), "not");
}

TEST_F(IndexingTest, PromotionOfAnArrayHeldInsideItself)
{
    Variable a = arrayOf({intValue(1)});
    engine.setIndexedValue(a, intValue(2), a, true);  // a[2] = a
    Variable& inner = engine.getIndexedValueMutable(a, intValue(2), false);
    engine.setIndexedValue(inner, Variable("k"), intValue(3), true);
    ASSERT_EQ(inner.type, VarType::Table);
    EXPECT_EQ(get(inner, Variable("k")), "3");
    a.asArray()->items.clear();  // break the cycle
}

TEST_F(IndexingTest, DeadTablesArePrunedFromTheCache)
{
    {
        std::vector<Variable> tables;
        for (int i = 0; i < 300; ++i) {
            tables.push_back(tableWithKeys({"1"}));
            engine.numericTableLength(tables.back().asTable());
        }
        EXPECT_GE(engine.tableCache.entries.size(), 300u);
    }
    for (int i = 0; i < 64; ++i) engine.maybePruneDeadTableCacheEntries();
    EXPECT_LT(engine.tableCache.entries.size(), 300u);
}

} // namespace
} // namespace cobalt
