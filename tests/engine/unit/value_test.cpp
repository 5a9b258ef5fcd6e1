// Script values: text forms, equality, ordering and the numeric conversions.

#include <gtest/gtest.h>
#include <pthread.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/value/variable.h"

namespace cobalt {
namespace {

std::string failureOf(auto&& action)
{
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no failure)";
}

Variable arrayOf(std::vector<Variable> items) { return Variable::makeArray(std::move(items)); }

Variable rawOf(std::initializer_list<uint8_t> bytes) { return Variable(RawBytes(bytes)); }

// ---- text forms ----

TEST(ValueText, ScalarsPrintTheirPlainForms)
{
    EXPECT_EQ(Variable().toString(), "not");
    EXPECT_EQ(Variable(int32_t{-42}).toString(), "-42");
    EXPECT_EQ(Variable(int32_t{0}).toString(), "0");
    EXPECT_EQ(Variable(INT32_MIN).toString(), "-2147483648");
    EXPECT_EQ(Variable("a \"b\"").toString(), "a \"b\"");
    EXPECT_EQ(Variable(true).toString(), "true");
    EXPECT_EQ(Variable(false).toString(), "false");
    EXPECT_EQ(rawOf({1, 2}).toString(), "[unconvertible type]");
    EXPECT_EQ(Variable::makeMulti({Variable(int32_t{1})}).toString(), "[multivalue]");
    EXPECT_EQ(Variable(std::make_shared<ScriptCallable>()).toString(), "[function]");
}

TEST(ValueText, FloatFormattingMatchesPrintfOfTheWidenedValue)
{
    const float samples[] = {0.0f,     1.0f / 3.0f,  2.0f / 3.0f, 0.0000005f, 0.0000015f, 0.0000025f, 123456.789f,
                             16777217.0f, 1e10f,     -7.125f,     1e-45f,     0.3f,       0.7f,       100.0000005f};
    for (float sample : samples) {
        char expected[128];
        std::snprintf(expected, sizeof expected, "%.6f", static_cast<double>(sample));
        EXPECT_EQ(formatFloat(sample), expected) << "for " << sample;
    }
}

TEST(ValueText, ExtremeFloatsPrintInFull)
{
    const float largest = std::numeric_limits<float>::max();
    EXPECT_EQ(formatFloat(largest), "340282346638528859811704183484516925440.000000");
    EXPECT_EQ(formatFloat(-largest), "-340282346638528859811704183484516925440.000000");
    EXPECT_EQ(formatFloat(std::numeric_limits<float>::infinity()), "inf");
    EXPECT_EQ(formatFloat(-std::numeric_limits<float>::infinity()), "-inf");
    EXPECT_EQ(formatFloat(std::numeric_limits<float>::quiet_NaN()), "nan");
}

TEST(ValueText, FloatsIgnoreTheProcessLocale)
{
    const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    if (german == nullptr) german = std::setlocale(LC_NUMERIC, "de_DE");
    if (german == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
    const std::string text = formatFloat(1.5f);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(text, "1.500000");
}

TEST(ValueText, PointersPrintUpperCaseHexWithoutLeadingZeros)
{
    EXPECT_EQ(Variable(static_cast<void*>(nullptr)).toString(), "$0");
    EXPECT_EQ(Variable(reinterpret_cast<void*>(uintptr_t{0x1f})).toString(), "$1F");
    EXPECT_EQ(Variable(reinterpret_cast<void*>(uintptr_t{0xabc0ff})).toString(), "$ABC0FF");
}

TEST(ValueText, ASharedChildThatIsNoCyclePrintsInFullEachTime)
{
    Variable child = arrayOf({Variable(int32_t{7})});
    EXPECT_EQ(arrayOf({child, child}).toString(), "[[7], [7]]");
}

/// Runs `work` on a thread with a 256 KiB stack, so that any recursion per nesting level
/// of a 20000-deep value would overflow it.
template <typename Work>
void onSmallStack(Work work)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    auto body = [](void* argument) -> void* {
        (*static_cast<Work*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, body, &work), 0);
    pthread_attr_destroy(&attributes);
    pthread_join(thread, nullptr);
}

constexpr int kDeep = 20'000;

TEST(ValueText, VeryDeepArraysPrintAndFreeWithoutRecursion)
{
    size_t printed = 0;
    onSmallStack([&] {
        Variable value = Variable::makeArray();
        for (int i = 0; i < kDeep; ++i) value = arrayOf({value});
        const std::string text = value.toString();
        printed = text.size();
        value = Variable();
    });
    EXPECT_EQ(printed, size_t{2} * (kDeep + 1));
}

TEST(ValueText, VeryDeepTablesAndMultivaluesFreeWithoutRecursion)
{
    size_t printed = 0;
    onSmallStack([&] {
        Variable table = Variable::makeTable();
        for (int i = 0; i < kDeep; ++i) {
            Variable next = Variable::makeTable();
            next.asTable()->map["t"] = table;
            table = next;
        }
        printed = table.toString().size();
        table = Variable();
        Variable multi = Variable::makeMulti({});
        for (int i = 0; i < kDeep; ++i) multi = Variable::makeMulti({multi});
        multi = Variable();
    });
    EXPECT_EQ(printed, size_t{5} * kDeep + 2);
}

TEST(ValueText, DeepCycleIsDetectedBeyondTheLinearScanDepth)
{
    Variable root = Variable::makeArray();
    Variable current = root;
    for (int i = 0; i < 40; ++i) {
        Variable next = Variable::makeArray();
        current.asArray()->items.push_back(next);
        current = next;
    }
    current.asArray()->items.push_back(root);
    const std::string text = root.toString();
    EXPECT_EQ(text, std::string(41, '[') + "[...]" + std::string(41, ']'));
    root.asArray()->items.clear();
}

// ---- equality ----

TEST(ValueEquality, NumbersMeetAsDoubles)
{
    EXPECT_TRUE(variablesEqual(Variable(int32_t{1}), Variable(1.0f)));
    EXPECT_TRUE(variablesEqual(Variable(true), Variable(int32_t{1})));
    EXPECT_TRUE(variablesEqual(Variable(false), Variable(0.0f)));
    EXPECT_FALSE(variablesEqual(Variable(0.5f), Variable(int32_t{0})));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(variablesEqual(Variable(nan), Variable(nan)));
}

TEST(ValueEquality, SameKindComparesBytesOrIdentity)
{
    EXPECT_TRUE(variablesEqual(Variable(), Variable()));
    EXPECT_TRUE(variablesEqual(Variable(std::string("a\0b", 3)), Variable(std::string("a\0b", 3))));
    EXPECT_FALSE(variablesEqual(Variable(std::string("a\0b", 3)), Variable(std::string("a\0c", 3))));
    EXPECT_TRUE(variablesEqual(rawOf({1, 2}), rawOf({1, 2})));
    EXPECT_FALSE(variablesEqual(rawOf({1, 2}), rawOf({1, 2, 3})));
    int target = 0;
    EXPECT_TRUE(variablesEqual(Variable(static_cast<void*>(&target)), Variable(static_cast<void*>(&target))));
    EXPECT_FALSE(variablesEqual(Variable(static_cast<void*>(&target)), Variable(static_cast<void*>(nullptr))));
}

TEST(ValueEquality, ContainersAreEqualOnlyToThemselves)
{
    Variable a = arrayOf({Variable(int32_t{1})});
    Variable b = arrayOf({Variable(int32_t{1})});
    Variable alias = a;
    EXPECT_FALSE(variablesEqual(a, b));
    EXPECT_TRUE(variablesEqual(a, a));
    EXPECT_TRUE(variablesEqual(a, alias));

    auto function = std::make_shared<ScriptCallable>();
    EXPECT_TRUE(variablesEqual(Variable(function), Variable(function)));
    EXPECT_FALSE(variablesEqual(Variable(function), Variable(std::make_shared<ScriptCallable>())));
    Variable multi = Variable::makeMulti({});
    EXPECT_TRUE(variablesEqual(multi, Variable(multi)));
    EXPECT_FALSE(variablesEqual(multi, Variable::makeMulti({})));
}

// ---- ordering ----

TEST(ValueOrdering, StringsCompareAsUnsignedBytes)
{
    EXPECT_EQ(compareVariables(Variable("abc"), Variable("abd")), -1);
    EXPECT_EQ(compareVariables(Variable("ab"), Variable("abc")), -1);
    EXPECT_EQ(compareVariables(Variable("abc"), Variable("ab")), 1);
    EXPECT_EQ(compareVariables(Variable("same"), Variable("same")), 0);
    EXPECT_EQ(compareVariables(Variable("\xff"), Variable("a")), 1);
    EXPECT_EQ(compareVariables(Variable("Z"), Variable("a")), -1);
}

// ---- numeric conversions ----

TEST(ValueConversion, ToDoubleAcceptsNumericKindsOnly)
{
    EXPECT_EQ(toDouble(Variable(int32_t{-3})), -3.0);
    EXPECT_EQ(toDouble(Variable(0.1f)), static_cast<double>(0.1f));
    EXPECT_EQ(toDouble(Variable(true)), 1.0);
    EXPECT_EQ(failureOf([] { toDouble(Variable("3")); }), "Expected a numeric value");
    EXPECT_EQ(failureOf([] { toDouble(Variable()); }), "Expected a numeric value");
}

TEST(ValueConversion, ToIntTruncatesTowardZeroAndSaturates)
{
    EXPECT_EQ(toInt(Variable(2.9f)), 2);
    EXPECT_EQ(toInt(Variable(-2.9f)), -2);
    EXPECT_EQ(toInt(Variable(false)), 0);
    EXPECT_EQ(toInt(Variable(3e9f)), INT32_MAX);
    EXPECT_EQ(toInt(Variable(-3e9f)), INT32_MIN);
    EXPECT_EQ(toInt(Variable(std::numeric_limits<float>::infinity())), INT32_MAX);
    EXPECT_EQ(toInt(Variable(std::numeric_limits<float>::quiet_NaN())), 0);
    EXPECT_EQ(failureOf([] { toInt(Variable::makeTable()); }), "Expected a numeric value");
}

TEST(ValueConversion, SaturationKeepsTheEdgesExact)
{
    EXPECT_EQ(saturateToInt32(2147483647.0), INT32_MAX);
    EXPECT_EQ(saturateToInt32(2147483646.9), 2147483646);
    EXPECT_EQ(saturateToInt32(-2147483648.0), INT32_MIN);
    EXPECT_EQ(saturateToInt32(-2147483647.5), -2147483647);
    EXPECT_EQ(saturateToInt32(1e300), INT32_MAX);
    EXPECT_EQ(saturateToInt32(-0.5), 0);
    EXPECT_EQ(saturateToInt32(std::nan("")), 0);
}

} // namespace
} // namespace cobalt
