// Indexing of arrays, tables and strings: reading, writing, growth, promotion, lengths,
// key order and the per-table caches.

#include <gtest/gtest.h>

#include <cctype>
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
    std::string failure(auto&& action)
    {
        try {
            action();
        } catch (const std::exception& error) {
            return error.what();
        }
        return "(no failure)";
    }

    std::string get(const Variable& container, const Variable& key)
    {
        return engine.getIndexedValue(container, key).toString();
    }

    CobaltScript engine;
};

TEST_F(IndexingTest, ArrayReadsOutsideTheElementsGiveNot)
{
    const Variable a = arrayOf({intValue(10), intValue(20)});
    EXPECT_EQ(get(a, Variable(1.0f)), "10");
    for (const Variable& key : {intValue(3), intValue(0), intValue(-1), Variable(1.5f), Variable("1"), Variable(true)}) {
        EXPECT_EQ(get(a, key), "not") << key.toString();
    }
}

TEST_F(IndexingTest, TableKeysAreText)
{
    Variable t = Variable::makeTable();
    engine.setIndexedValue(t, intValue(1), Variable("x"), true);
    EXPECT_EQ(get(t, Variable("1")), "x");
    EXPECT_EQ(get(t, Variable(1.0f)), "not");
    engine.setIndexedValue(t, Variable(1.0f), Variable("f"), true);
    EXPECT_EQ(get(t, Variable("1.000000")), "f");
    engine.setIndexedValue(t, Variable(true), Variable("b"), true);
    EXPECT_EQ(get(t, Variable("true")), "b");
    EXPECT_EQ(failure([&] { get(t, arrayOf({})); }), "Table key must be string, number, or bool");
}

TEST_F(IndexingTest, WritingBelowOneOrWithAKeyPromotesAndBreaksSharing)
{
    Variable a = arrayOf({intValue(1), intValue(2)});
    const Variable b = a;
    engine.setIndexedValue(a, intValue(0), intValue(5), true);
    ASSERT_EQ(a.type, VarType::Table);
    EXPECT_EQ(get(a, intValue(0)), "5");
    EXPECT_EQ(get(a, intValue(1)), "1");
    EXPECT_EQ(get(a, intValue(2)), "2");
    EXPECT_EQ(b.toString(), "[1, 2]");

    Variable c = arrayOf({Variable()});
    engine.setIndexedValue(c, Variable("name"), intValue(3), true);
    ASSERT_EQ(c.type, VarType::Table);
    EXPECT_EQ(c.asTable()->map.count("1"), 1u);  // absent elements keep their key
    EXPECT_EQ(get(c, Variable("name")), "3");
}

TEST_F(IndexingTest, WritingPastTheEndGrowsWithNot)
{
    Variable a = arrayOf({});
    engine.setIndexedValue(a, intValue(3), intValue(7), true);
    EXPECT_EQ(a.toString(), "[not, not, 7]");
    EXPECT_EQ(engine.arrayLength(a), 3);
    engine.setIndexedValue(a, Variable(4.0f), intValue(8), true);
    EXPECT_EQ(a.toString(), "[not, not, 7, 8]");
    EXPECT_EQ(failure([&] { engine.setIndexedValue(a, intValue(2000000000), intValue(1), true); }),
              "Array index too far beyond the end of the array");
    EXPECT_EQ(engine.arrayLength(a), 4);
}

TEST_F(IndexingTest, WritesWithoutCreateRequireTheElement)
{
    Variable a = arrayOf({intValue(1)});
    Variable t = Variable::makeTable();
    Variable n = intValue(1);
    EXPECT_EQ(failure([&] { engine.setIndexedValue(a, intValue(2), intValue(0), false); }), "Array index out of range");
    EXPECT_EQ(failure([&] { engine.setIndexedValue(a, intValue(0), intValue(0), false); }), "Array index must be >= 1");
    EXPECT_EQ(failure([&] { engine.setIndexedValue(a, Variable("k"), intValue(0), false); }),
              "Array index must be an int");
    EXPECT_EQ(failure([&] { engine.setIndexedValue(t, Variable("k"), intValue(0), false); }), "Table key not found: k");
    EXPECT_EQ(failure([&] { engine.setIndexedValue(n, intValue(1), intValue(0), true); }),
              "Indexing requires an array, table, or string");
    EXPECT_EQ(failure([&] { get(n, intValue(1)); }), "Indexing requires an array, table, or string");
    EXPECT_EQ(a.type, VarType::Array);
    engine.setIndexedValue(a, intValue(1), intValue(9), false);
    EXPECT_EQ(a.toString(), "[9]");
}

TEST_F(IndexingTest, StringBytes)
{
    Variable s("abc");
    EXPECT_EQ(get(s, intValue(2)), "b");
    EXPECT_EQ(get(s, intValue(5)), "not");
    EXPECT_EQ(get(s, intValue(0)), "not");
    EXPECT_EQ(get(s, Variable("nomethod")), "not");
    EXPECT_EQ(failure([&] { get(s, Variable(1.0f)); }), "String index must be an int or string method name");
    engine.setIndexedValue(s, intValue(2), Variable("X"), true);
    EXPECT_EQ(s.toString(), "aXc");
    EXPECT_EQ(failure([&] { engine.setIndexedValue(s, intValue(4), Variable("Y"), true); }), "String index out of range");
    EXPECT_EQ(failure([&] { engine.setIndexedValue(s, intValue(1), Variable("XY"), true); }),
              "String element assignment requires a single-character string");
    EXPECT_EQ(failure([&] { engine.setIndexedValue(s, intValue(1), intValue(5), true); }),
              "String element assignment requires a string value");
    EXPECT_EQ(failure([&] { engine.setIndexedValue(s, Variable("x"), Variable("Y"), true); }),
              "String index must be an int");
    EXPECT_EQ(s.toString(), "aXc");
}

TEST_F(IndexingTest, StringMethodsBindTheStringLibrary)
{
    auto upper = std::make_shared<ScriptCallable>();
    upper->isNative = true;
    upper->name = "string.upper";
    upper->native = [](NativeArgs args) {
        std::string text = args[0].toString();
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return Variable(text + std::to_string(args.size()));
    };
    Variable library = Variable::makeTable();
    library.asTable()->map["upper"] = Variable(CallableRef(upper));
    engine.pushVariable("string", library);

    const Variable bound = engine.getIndexedValue(Variable("abc"), Variable("upper"));
    ASSERT_EQ(bound.type, VarType::Function);
    EXPECT_EQ(bound.asCallable()->builtinId, BuiltinId::None);  // never dispatched without the string
    const Variable extra("z");
    EXPECT_EQ(engine.invokeCallableFast(bound, &extra, 1).toString(), "ABC2");

    engine.pushVariable("string", intValue(1));
    EXPECT_EQ(get(Variable("abc"), Variable("upper")), "not");
}

TEST_F(IndexingTest, MutableElementsAreCreatedOnDemand)
{
    Variable t = Variable::makeTable();
    const uint64_t before = t.asTable()->version;
    Variable& entry = engine.getIndexedValueMutable(t, Variable("k"), true);
    EXPECT_TRUE(entry.isNot());
    EXPECT_GT(t.asTable()->version, before);
    entry = intValue(4);
    EXPECT_EQ(get(t, Variable("k")), "4");

    Variable a = arrayOf({});
    engine.getIndexedValueMutable(a, intValue(2), true) = intValue(1);
    EXPECT_EQ(a.toString(), "[not, 1]");
    EXPECT_EQ(failure([&] { engine.getIndexedValueMutable(a, intValue(5), false); }), "Array index out of range");
    Variable s("abc");
    EXPECT_EQ(failure([&] { engine.getIndexedValueMutable(s, intValue(1), true); }),
              "String elements cannot be indexed for assignment");
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

TEST_F(IndexingTest, PrefersArrayStorage)
{
    for (const Variable& key : {intValue(1), Variable(3.0f)}) EXPECT_TRUE(engine.prefersArrayStorage(key));
    for (const Variable& key : {intValue(0), Variable(1.5f), Variable(3e9f), Variable("1"), Variable(true)}) {
        EXPECT_FALSE(engine.prefersArrayStorage(key)) << key.toString();
    }
}

TEST_F(IndexingTest, CachedLengthFollowsKeyChanges)
{
    Variable t = tableWithKeys({"1", "2", "4"});
    EXPECT_EQ(engine.numericTableLength(t.asTable()), 2);
    engine.setIndexedValue(t, intValue(3), intValue(0), true);
    EXPECT_EQ(engine.numericTableLength(t.asTable()), 4);
    engine.setIndexedValue(t, intValue(3), intValue(1), true);  // a value change keeps the cache
    EXPECT_EQ(engine.numericTableLength(t.asTable()), 4);
    t.asTable()->map.erase("2");
    CobaltScript::bumpTableVersion(*t.asTable());
    EXPECT_EQ(engine.numericTableLength(t.asTable()), 1);
}

TEST_F(IndexingTest, KeysAreListedInByteOrder)
{
    const Variable t = tableWithKeys({"b", "a", "10", "9", "B", "2"});
    const std::vector<std::string> expected = {"10", "2", "9", "B", "a", "b"};
    EXPECT_EQ(engine.getSortedTableKeys(t.asTable()), expected);
    EXPECT_EQ(engine.getIterationTableKeys(t.asTable()), expected);
    EXPECT_EQ(engine.getIterationTableKeyIndex(t.asTable()).at("9"), 2u);
    EXPECT_TRUE(engine.getSortedTableKeys(nullptr).empty());

    Variable grown = t;
    engine.setIndexedValue(grown, Variable("0"), intValue(1), true);
    EXPECT_EQ(engine.getIterationTableKeys(t.asTable()).front(), "0");
}

TEST_F(IndexingTest, IterationKeyValuesIndexTheSameEntryAgain)
{
    const Variable t = tableWithKeys({"5", "-3", "007", "1.50", "1.500000", "inf", "-0", "x", "2147483648"});
    const auto& keys = engine.getIterationTableKeys(t.asTable());
    const auto& values = engine.getIterationTableKeyValues(t.asTable());
    ASSERT_EQ(keys.size(), values.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        // Whatever the kind, the handed-back key must find its own entry.
        EXPECT_EQ(engine.keyToString(values[i]), keys[i]);
        const bool number = keys[i] == "5" || keys[i] == "-3" || keys[i] == "1.500000";
        EXPECT_EQ(values[i].type != VarType::String, number) << keys[i];
    }
    EXPECT_EQ(CobaltScript::iterationKeyValue("1.500000").type, VarType::Float);
    EXPECT_EQ(CobaltScript::iterationKeyValue("-3").type, VarType::Int);
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
