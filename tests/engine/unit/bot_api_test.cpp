// The bot API where scripts under `cobalt --dry-run` cannot reach: the callback contract (failure
// texts, missing callbacks, texts freed on every path), stopping, and JSON edge cases that the
// recording host cannot produce (malformed, very deep or out-of-range responses).

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "engine/embed/json_bridge.h"
#include "engine/embed/quill_script.h"

namespace cobalt {
namespace {

namespace fs = std::filesystem;

char* hostText(const char* text)
{
    return text ? strdup(text) : nullptr;
}

/// A host whose request-like callbacks all answer through `answer`, recording what they get.
struct FakeHost {
    std::vector<std::string> calls;  // "<target> <json>"
    std::vector<std::string> logs;
    std::function<int32_t(char** response, char** error)> answer = [](char** response, char**) {
        *response = hostText("");
        return 1;
    };
    QuillScriptRuntime* runtime = nullptr;  // set while a run may need to stop itself
};

int32_t answerCall(void* context, const char* target, const char* json, char** response, char** error)
{
    auto& host = *static_cast<FakeHost*>(context);
    EXPECT_EQ(*response, nullptr);
    EXPECT_EQ(*error, nullptr);
    host.calls.push_back(std::string(target) + " " + json);
    return host.answer(response, error);
}

void recordLog(void* context, const char* message)
{
    static_cast<FakeHost*>(context)->logs.emplace_back(message);
}

struct RunResult {
    int32_t code = -1;
    std::string error;  // first line of the error text
};

class BotAPITest : public ::testing::Test {
protected:
    FakeHost host;

    ~BotAPITest() override
    {
        std::error_code ignored;
        fs::remove(m_script, ignored);
    }

    QuillScriptRuntime* create(bool withCallbacks = true)
    {
        return withCallbacks ? quill_script_runtime_create(&host, recordLog, answerCall, answerCall, answerCall)
                             : quill_script_runtime_create(&host, nullptr, nullptr, nullptr, nullptr);
    }

    RunResult run(QuillScriptRuntime* runtime, const std::string& source)
    {
        std::ofstream(m_script, std::ios::binary) << source;
        char* error = nullptr;
        RunResult result;
        result.code = quill_script_runtime_run(runtime, m_script.c_str(), &error);
        if (error) result.error = std::string(error).substr(0, std::string(error).find('\n'));
        quill_script_free_string(error);
        return result;
    }

    /// Runs `source` on a new runtime with every callback installed.
    RunResult run(const std::string& source)
    {
        QuillScriptRuntime* runtime = create();
        EXPECT_NE(runtime, nullptr);
        RunResult result = run(runtime, source);
        quill_script_runtime_destroy(runtime);
        return result;
    }

private:
    std::string m_script =
        (fs::temp_directory_path() / ("cobalt-bot-api-" + std::to_string(::getpid()) + ".cbs")).string();
};

TEST_F(BotAPITest, FailedCallsTakeTheHostsTextOrTheCallbacksOwn)
{
    host.answer = [](char**, char**) { return 0; };
    EXPECT_EQ(run("misskeyMe()").error, "CobaltScript error: Misskey request failed");
    EXPECT_EQ(run("misskeyUpload(\"a.png\")").error, "CobaltScript error: Misskey upload failed");
    EXPECT_EQ(run("httpGet(\"https://x\")").error, "CobaltScript error: HTTP request failed");

    // Success without a response text, and a failure's own text, are checked from the C
    // host's side (tests/embed/host_test.c).

    // An error text stored beside a success is freed too, and the response wins.
    host.answer = [](char** response, char** error) {
        *response = hostText("7");
        *error = hostText("unused");
        return 1;
    };
    host.logs.clear();
    EXPECT_EQ(run("log(misskeyMe())").code, QUILL_SCRIPT_FINISHED);
    EXPECT_EQ(host.logs, std::vector<std::string>{"7"});
}

TEST_F(BotAPITest, ARunDoesNotInheritAnEarlierRunsCoroutine)
{
    // The first run ends with its coroutine still scheduled ("two" not yet logged); the
    // second run on the same runtime must not give it turns.
    QuillScriptRuntime* runtime = create();
    ASSERT_NE(runtime, nullptr);
    host.logs.clear();
    EXPECT_EQ(run(runtime, "decay function f()\n  log(\"one\")\n  log(\"two\")\nend\nf()\n").code,
              QUILL_SCRIPT_FINISHED);
    EXPECT_EQ(run(runtime, "x = 1\nx = 2\nx = 3\n").code, QUILL_SCRIPT_FINISHED);
    EXPECT_EQ(host.logs, std::vector<std::string>{"one"});
    quill_script_runtime_destroy(runtime);
}

TEST_F(BotAPITest, MissingCallbacksFailByName)
{
    QuillScriptRuntime* runtime = create(false);
    ASSERT_NE(runtime, nullptr);
    EXPECT_EQ(run(runtime, "misskeyNote(\"x\")").error, "CobaltScript error: Misskey request callback is unavailable");
    EXPECT_EQ(run(runtime, "misskeyUpload(\"a\")").error, "CobaltScript error: Misskey upload callback is unavailable");
    EXPECT_EQ(run(runtime, "httpRequest(\"u\")").error, "CobaltScript error: HTTP request callback is unavailable");
    // Without a log callback, log lines go nowhere and the script carries on.
    EXPECT_EQ(run(runtime, "print(1)\nlog(2)").code, QUILL_SCRIPT_FINISHED);
    quill_script_runtime_destroy(runtime);
}

TEST_F(BotAPITest, AStopEndsTheScriptAtItsNextHostCallWithoutSendingIt)
{
    QuillScriptRuntime* runtime = create();
    ASSERT_NE(runtime, nullptr);
    quill_script_runtime_request_stop(runtime);
    const RunResult stopped = run(runtime, "log(botIsRunning(), botWait(60000), misskey[\"running\"]())\n"
                                           "misskeyMe()\nlog(\"after\")");
    EXPECT_EQ(stopped.code, QUILL_SCRIPT_STOPPED);
    EXPECT_EQ(stopped.error, "");
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(host.logs, std::vector<std::string>{"false\tfalse\tfalse"});
    quill_script_runtime_destroy(runtime);
}

TEST_F(BotAPITest, MalformedResponsesFailWithTheParsersDescription)
{
    const char* answers[] = {"{\"a\": ", "nul", "[1,]", "\"\xff\"", "{} {}", " "};
    for (const char* answer : answers) {
        host.answer = [answer](char** response, char**) {
            *response = hostText(answer);
            return 1;
        };
        const RunResult result = run("misskeyMe()");
        EXPECT_EQ(result.code, QUILL_SCRIPT_FAILED) << answer;
        EXPECT_EQ(result.error.rfind("CobaltScript error: [json.exception.parse_error.", 0), 0u) << result.error;
    }
}

/// The message `work` fails with, or "(no failure)".
std::string failureOf(const std::function<void()>& work)
{
    try {
        work();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no failure)";
}

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
    map["raw"] = Variable(RawBytes{1, 2});
    EXPECT_EQ(failureOf([&] { bot::serialiseJSONTable(body); }), nonJSON);
    map["raw"] = Variable(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(failureOf([&] { bot::serialiseJSONTable(body); }), nonJSON);
    map["raw"] = Variable::makeMulti({Variable(-std::numeric_limits<float>::infinity())});
    EXPECT_EQ(failureOf([&] { bot::serialiseJSONTable(body); }), nonJSON);
    EXPECT_EQ(failureOf([] { bot::serialiseJSONTable(Variable::makeArray()); }),
              "Misskey request parameters must be a table");
    EXPECT_EQ(failureOf([] { bot::serialiseJSONTable(Variable("text")); }),
              "Misskey request parameters must be a table");
}

} // namespace
} // namespace cobalt
