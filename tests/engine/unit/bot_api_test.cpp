// The bot API's JSON bridge where scripts under `cobalt --dry-run` cannot reach: responses the
// recording host cannot produce (very deep or out-of-range) and request bodies with values JSON
// cannot say. The callback contract is checked in embed_test.cpp.

#include <limits>

#include "engine/embed/json_bridge.h"
#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

TEST(JSONBridgeTest, DeepResponsesNeitherOverflowNorBuildPastTheLimit)
{
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(failureOf([&] { bot::decodeJSONResponse(deep); }), "Misskey response exceeds the nesting limit");
    // A syntax error after the limit is still reported as one.
    const std::string broken = std::string(70, '[') + "x";
    EXPECT_EQ(failureOf([&] { bot::decodeJSONResponse(broken); }).rfind("[json.exception.parse_error.", 0), 0u);
    std::string objects = "{\"a\":";  // built by appending: GCC 12 misreads "text" + string at -O3
    objects.append(64, '[').append(64, ']') += "}";
    EXPECT_EQ(bot::decodeJSONResponse(objects).type, VarType::Table);
}

TEST(JSONBridgeTest, NumbersBeyondTheirRangeBecomeTheNearestFloat)
{
    // Beyond even a double the parser itself gives up, which is a clear failure, not a crash.
    EXPECT_EQ(failureOf([] { bot::decodeJSONResponse("[1e400]"); }),
              "[json.exception.out_of_range.406] number overflow parsing '1e400'");
    const std::string nines(400, '9');
    EXPECT_EQ(failureOf([&] { bot::decodeJSONResponse(nines); }).rfind("[json.exception.out_of_range.406]", 0), 0u);

    auto number = [](const char* text) { return bot::decodeJSONResponse(text); };
    EXPECT_EQ(number("-0").asInt(), 0);
    EXPECT_EQ(number("-2147483649").asFloat(), -2147483649.0f);
    EXPECT_EQ(number("18446744073709551615").asFloat(), 18446744073709551615.0f);
    EXPECT_EQ(number("18446744073709551616").asFloat(), 18446744073709551616.0f);
    EXPECT_EQ(number("1e39").asFloat(), std::numeric_limits<float>::infinity());
    EXPECT_EQ(number("-1e39").asFloat(), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(number("1e-400").asFloat(), 0.0f);
    // One rounding from the decimal text: this value rounds differently through double.
    EXPECT_EQ(number("1.00000005960464477539062500000001").asFloat(), 1.00000012f);
    EXPECT_EQ(number("3.4028235e38").asFloat(), std::numeric_limits<float>::max());
}

TEST(JSONBridgeTest, BodiesKeepEveryValueAndRefuseWhatJSONCannotSay)
{
    Variable body = Variable::makeTable();
    auto& map = body.asTable()->map;
    map["multi"] = Variable::makeMulti({Variable(int32_t{1}), Variable("two")});
    map["float"] = Variable(0.1f);
    map["whole"] = Variable(2.0f);
    map["tiny"] = Variable(1e-45f);
    map["nul"] = Variable(std::string("a\0b", 3));
    map[std::string("k\0ey", 4)] = Variable(true);
    map["raw"] = Variable();
    EXPECT_EQ(bot::serialiseJSONTable(body),
              "{\"float\":0.1,\"k\\u0000ey\":true,\"multi\":[1,\"two\"],\"nul\":\"a\\u0000b\",\"raw\":null,"
              "\"tiny\":1e-45,\"whole\":2.0}");

    const std::string nonJSON = "Misskey request data contains a non-JSON CobaltScript value";
    for (const Variable& value : {Variable(RawBytes{1, 2}), Variable(std::numeric_limits<float>::quiet_NaN()),
                                  Variable::makeMulti({Variable(-std::numeric_limits<float>::infinity())})}) {
        map["raw"] = value;
        EXPECT_EQ(failureOf([&] { bot::serialiseJSONTable(body); }), nonJSON) << value.toString();
    }
    for (const Variable& notATable : {Variable::makeArray(), Variable("text")}) {
        EXPECT_EQ(failureOf([&] { bot::serialiseJSONTable(notATable); }), "Misskey request parameters must be a table");
    }
}

} // namespace
} // namespace cobalt
