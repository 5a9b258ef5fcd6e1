// Script values: the text forms and equalities scripts cannot reach, and values too deep for
// recursion. (Float text, saturating conversions: the scripts in values/.)

#include <limits>

#include "engine/value/variable.h"
#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

Variable arrayOf(std::vector<Variable> items) { return Variable::makeArray(std::move(items)); }

Variable rawOf(std::initializer_list<uint8_t> bytes) { return Variable(RawBytes(bytes)); }

// ---- text forms ----

// What scripts can print is checked by values/text_forms.cbs; these are the forms they cannot reach.
TEST(ValueText, FormsScriptsCannotReach)
{
    EXPECT_EQ(rawOf({1, 2}).toString(), "[unconvertible type]");
    EXPECT_EQ(Variable(reinterpret_cast<void*>(uintptr_t{0xabc0ff})).toString(), "$ABC0FF");
}

constexpr int kDeep = 20'000;

TEST(ValueText, VeryDeepValuesPrintAndFreeWithoutRecursion)
{
    size_t arrayText = 0, tableText = 0;
    // Any recursion per nesting level of a value this deep would overflow a 256 KiB stack.
    onSmallStack(256 * 1024, [&] {
        Variable value = Variable::makeArray();
        for (int i = 0; i < kDeep; ++i) value = arrayOf({value});
        arrayText = value.toString().size();
        value = Variable();
        Variable table = Variable::makeTable();
        for (int i = 0; i < kDeep; ++i) {
            Variable next = Variable::makeTable();
            next.asTable()->map["t"] = std::move(table);
            table = std::move(next);
        }
        tableText = table.toString().size();
        table = Variable();
        Variable multi = Variable::makeMulti({});
        for (int i = 0; i < kDeep; ++i) multi = Variable::makeMulti({multi});
        multi = Variable();
    });
    EXPECT_EQ(arrayText, size_t{2} * (kDeep + 1));
    EXPECT_EQ(tableText, size_t{5} * kDeep + 2);
}

TEST(ValueText, DeepCycleIsDetectedBeyondTheLinearScanDepth)
{
    Variable root = Variable::makeArray(), current = root;
    for (int i = 0; i < 40; ++i) current = current.asArray()->items.emplace_back(Variable::makeArray());
    current.asArray()->items.push_back(root);
    EXPECT_EQ(root.toString(), std::string(41, '[') + "[...]" + std::string(41, ']'));
    root.asArray()->items.clear();
}

// ---- equality (values/equality.cbs has the cases a script can write) ----

TEST(ValueEquality, NaNBytesPointersAndIdentities)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(variablesEqual(Variable(nan), Variable(nan)));
    EXPECT_TRUE(variablesEqual(Variable(std::string("a\0b", 3)), Variable(std::string("a\0b", 3))));
    EXPECT_FALSE(variablesEqual(Variable(std::string("a\0b", 3)), Variable(std::string("a\0c", 3))));
    EXPECT_TRUE(variablesEqual(rawOf({1, 2}), rawOf({1, 2})));
    EXPECT_FALSE(variablesEqual(rawOf({1, 2}), rawOf({1, 2, 3})));
    int target = 0;
    const Variable pointer(static_cast<void*>(&target)), function(std::make_shared<ScriptCallable>()), multi = Variable::makeMulti({});
    EXPECT_TRUE(variablesEqual(pointer, Variable(static_cast<void*>(&target))));
    EXPECT_FALSE(variablesEqual(pointer, Variable(static_cast<void*>(nullptr))));
    EXPECT_TRUE(variablesEqual(function, Variable(function)) && variablesEqual(multi, Variable(multi)));
    EXPECT_FALSE(variablesEqual(function, Variable(std::make_shared<ScriptCallable>())));
    EXPECT_FALSE(variablesEqual(multi, Variable::makeMulti({})));
}

} // namespace
} // namespace cobalt
