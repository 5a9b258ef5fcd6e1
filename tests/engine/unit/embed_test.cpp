// The engine's side of embedding, through runtimes made by the C interface: a stop passes
// every protected call, a script that runs on after a stop is ended after its grace period,
// each run starts from clean transient state, the bot API's callback contract where scripts
// under `cobalt --dry-run` cannot reach it, and destroy frees containers that refer to each
// other. The host's side (result codes, texts, ownership, threads) is tests/embed/host_test.c.
// Then the bot API's JSON bridge where the dry run cannot reach it: responses the recording host
// cannot produce (very deep or out-of-range) and request bodies with values JSON cannot say.

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

#include "engine/embed/json_bridge.h"
#include "engine/embed/quill_script.h"
#include "engine/embed/script_runtime.h"
#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

using namespace std::chrono_literals;

class EmbedTest : public ::testing::Test {
protected:
    EmbedTest() : runtime(create())
    {
        if (!runtime) throw std::runtime_error("quill_script_runtime_create failed");
    }
    ~EmbedTest() override { quill_script_runtime_destroy(runtime); }

    /// A runtime whose request, upload and HTTP callbacks all answer through `onRequest`.
    QuillScriptRuntime* create() { return quill_script_runtime_create(this, &logLine, &request, &request, &request); }

    static void logLine(void* context, const char* line) { static_cast<EmbedTest*>(context)->log.emplace_back(line); }

    static int32_t request(void* context, const char* endpoint, const char* json, char** response, char** error)
    {
        auto& test = *static_cast<EmbedTest*>(context);
        EXPECT_TRUE(*response == nullptr && *error == nullptr);
        test.requests.push_back(std::string(endpoint) + " " + json);
        if (test.onRequest) return test.onRequest(endpoint, json, response, error);
        *response = strdup("");
        return 1;
    }

    std::string write(const std::string& source) { return folder.file("script" + std::to_string(++scripts) + ".cbs", source); }

    /// Runs `source` from a new file; `errorText` receives run's error text ("" for none).
    int32_t run(const std::string& source, std::string* errorText = nullptr) { return runOn(runtime, source, errorText); }

    int32_t runOn(QuillScriptRuntime* target, const std::string& source, std::string* errorText = nullptr)
    {
        lastPath = write(source);
        char* error = nullptr;
        const int32_t result = quill_script_runtime_run(target, lastPath.c_str(), &error);
        if (errorText) *errorText = error ? error : "";
        quill_script_free_string(error);
        return result;
    }

    void stop() { quill_script_runtime_request_stop(runtime); }
    /// Replaces the runtime with a new one, without a grace period after a stop.
    void renewWithoutGrace()
    {
        quill_script_runtime_destroy(runtime);
        runtime = create();
        engine().stop.gracePeriod = std::chrono::milliseconds(0);
    }
    CobaltScript& engine() { return runtime->engine; }

    TemporaryFolder folder;
    QuillScriptRuntime* runtime = nullptr;
    std::vector<std::string> log;
    std::vector<std::string> requests;  // "<endpoint> <json>"
    std::function<int32_t(const char*, const char*, char**, char**)> onRequest;
    int scripts = 0;
    std::string lastPath;
};

using Lines = std::vector<std::string>;

/// Requests a stop from another thread after a delay, as a host's stop button does; the
/// returned thread joins when it goes out of scope.
std::jthread stopLater(QuillScriptRuntime* runtime, std::chrono::milliseconds delay)
{
    return std::jthread([runtime, delay] {
        std::this_thread::sleep_for(delay);
        quill_script_runtime_request_stop(runtime);
    });
}

// ----- a stop passes every protected call (a stop during a request: tests/embed) -----

TEST_F(EmbedTest, NoFailureIsCaughtOnceAStopIsRequested)
{
    const std::string script = "function fails(); error(\"x\"); end\nfunction divides(); return 1 / 0; end\n"
                               "ok, e = pcall(fails)\nprint(ok, e)\nok, e = pcall(divides)\nprint(ok)";
    EXPECT_EQ(run(script), QUILL_SCRIPT_FINISHED);
    EXPECT_EQ(log, (Lines{"false\tx", "false"}));
    // error() inside pcall only records its message; here the stop comes before pcall reports it.
    engine().pushFunction("softThenStop", [this](NativeArgs) {
        engine().raiseScriptErrorSoft("recorded");
        stop();
        return Variable();
    });
    EXPECT_EQ(run("ok, e = pcall(softThenStop)\nprint(\"after\", ok, e)"), QUILL_SCRIPT_STOPPED);
    EXPECT_FALSE(engine().softError.pending);
    EXPECT_EQ(run(script), QUILL_SCRIPT_STOPPED);
    EXPECT_EQ(log, (Lines{"false\tx", "false"}));
}

// ----- the grace period after a stop -----

TEST_F(EmbedTest, EndlessLoopsEndOnceTheGracePeriodIsOver)
{
    // Each script is well inside its endless part when the stop comes, on a fresh runtime
    // (a stop is for good), with no grace period.
    for (const char* source : {"while true\nend", "repeat\nuntil false", "for i = 1, 2147483647\nend",
                               "t = {a: 1}\nwhile true\n  for k, v in pairs(t)\n  end\nend",
                               "function spin(); while true; x = 1; end; end\nwhile true\n  pcall(spin)\nend",
                               "x = 1\nnest \"again\"\n  jumpTo(\"again\")\nend",
                               "function fib(n); return n < 2 and n or fib(n - 1) + fib(n - 2); end\nprint(fib(80))"}) {
        renewWithoutGrace();
        const std::jthread stopper = stopLater(runtime, 50ms);
        EXPECT_EQ(run(source), QUILL_SCRIPT_STOPPED) << source;
    }
    // Functions held as parsed lines run in the tree-walker, which checks too.
    renewWithoutGrace();
    const ParsedLines lines = engine().parseLines("while true\n  y = 2\nend");
    size_t index = 0;
    BlockSignal signal = BlockSignal::None;
    const std::jthread stopper = stopLater(runtime, 50ms);
    EXPECT_THROW(engine().executeParsedBlock(lines, index, signal), ScriptStopRequested);
}

TEST_F(EmbedTest, GracePeriodRunsFromTheFirstBoundaryThatSeesTheStop)
{
    engine().stop.gracePeriod = 300ms;
    const auto started = std::chrono::steady_clock::now();
    int32_t result = 0;
    {
        const std::jthread stopper = stopLater(runtime, 100ms);
        result = run("while true\nend");
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(result, QUILL_SCRIPT_STOPPED);
    EXPECT_GE(elapsed, 400ms);
    EXPECT_LT(elapsed, 10s);
}

TEST_F(EmbedTest, ScriptsThatEndByThemselvesKeepTheirCleanUpTime)
{
    const std::jthread stopper = stopLater(runtime, 100ms);
    EXPECT_EQ(run("while botWait(20)\nend\ntotal = 0\nfor i = 1, 20000\n  total += 1\nend\nprint(\"cleaned up\", total)"),
              QUILL_SCRIPT_STOPPED);
    EXPECT_EQ(log, Lines{"cleaned up\t20000"});
}

// ----- every run starts clean -----

TEST_F(EmbedTest, EachRunStartsFromCleanTransientState)
{
    // A run that fails deep inside calls, loops and protected calls leaves only its globals.
    std::string error;
    const char* failing = "count = 1\nfunction deep(n)\n  local here = n\n  for i = 1, 2\n    if n == 0; error(\"boom\"); end\n"
                          "    deep(n - 1)\n  end\nend\ndeep(5)";
    EXPECT_EQ(run(failing, &error), QUILL_SCRIPT_FAILED);
    EXPECT_TRUE(error.starts_with("CobaltScript error: boom\n")) << error;
    EXPECT_EQ(run("print(count + 1, here)\nok, e = pcall(error, \"fresh\")\nprint(ok, e)"), QUILL_SCRIPT_FINISHED);
    EXPECT_EQ(log, (Lines{"2\tnot", "false\tfresh"}));

    // Whatever else is left over (as a host's own calls into the engine may leave it) is cleared.
    engine().softError = SoftErrorState{true, 0, "stale"};
    engine().calls.protectedCalls = {0, 1};
    engine().calls.callDepth = 7;
    engine().loader.jumpPending = true;
    engine().loader.pendingJumpLabel = "gone";
    engine().loader.pathStack.push_back("/nowhere/stale.cbs");
    engine().pushBlockScope();
    CobaltScript::setInScope(engine().scopes.blocks.back(), "shadow", Variable(int32_t{99}));
    engine().scopes.currentFrame = 3;
    log.clear();
    EXPECT_EQ(run("print(shadow)\nlocal y = 5\nprint(y)\nerror(\"late\")", &error), QUILL_SCRIPT_FAILED);
    EXPECT_EQ(log, (Lines{"not", "5"}));
    EXPECT_TRUE(error.starts_with("CobaltScript error: late\n  at " + lastPath + ":4")) << error;
    // ...and the run's own leftovers are gone afterwards.
    EXPECT_TRUE(engine().calls.callDepth == 0 && engine().calls.protectedCalls.empty() && engine().scopes.blocks.empty() &&
                engine().loader.pathStack.empty());
}

TEST_F(EmbedTest, OverlappingRunIsRefused)
{
    std::string nested;
    onRequest = [&](const char*, const char*, char** response, char**) {
        char* error = nullptr;
        const std::string path = write("print(\"inner\")");
        EXPECT_EQ(quill_script_runtime_run(runtime, path.c_str(), &error), QUILL_SCRIPT_FAILED);
        nested = error ? error : "";
        quill_script_free_string(error);
        *response = strdup("");
        return int32_t{1};
    };
    EXPECT_EQ(run("misskeyMe()\nprint(\"outer\")"), QUILL_SCRIPT_FINISHED);
    EXPECT_EQ(nested, "A CobaltScript run is already in progress on this runtime");
    EXPECT_EQ(log, Lines{"outer"});
}

// ----- the bot API's callbacks -----

TEST_F(EmbedTest, FailedAndMissingCallbacksFailByName)
{
    onRequest = [](const char*, const char*, char**, char**) { return int32_t{0}; };
    QuillScriptRuntime* bare = quill_script_runtime_create(this, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(bare, nullptr);
    // (a failed request, a missing request callback, and no log callback: tests/embed)
    const struct {
        QuillScriptRuntime* target;
        const char* call;
        const char* message;
    } rows[] = {{runtime, "misskeyUpload(\"a.png\")", "Misskey upload failed"},
                {runtime, "httpGet(\"https://x\")", "HTTP request failed"},
                {bare, "misskeyUpload(\"a\")", "Misskey upload callback is unavailable"},
                {bare, "httpRequest(\"u\")", "HTTP request callback is unavailable"}};
    for (const auto& row : rows) {
        std::string error;
        EXPECT_EQ(runOn(row.target, row.call, &error), QUILL_SCRIPT_FAILED) << row.call;
        EXPECT_EQ(firstLine(error), row.message) << row.call;
    }
    quill_script_runtime_destroy(bare);

    // Success without a response text, and a failure's own text, are checked from the C
    // host's side (tests/embed/host_test.c). An error text stored beside a success is freed
    // too, and the response wins.
    onRequest = [](const char*, const char*, char** response, char** errorText) {
        *response = strdup("7");
        *errorText = strdup("unused");
        return int32_t{1};
    };
    EXPECT_EQ(run("log(misskeyMe())"), QUILL_SCRIPT_FINISHED);
    EXPECT_EQ(log, Lines{"7"});
}

TEST_F(EmbedTest, AStopEndsTheScriptAtItsNextHostCallWithoutSendingIt)
{
    stop();
    std::string error;
    EXPECT_EQ(run("log(botIsRunning(), botWait(60000), misskey[\"running\"]())\nmisskeyMe()\nlog(\"after\")", &error),
              QUILL_SCRIPT_STOPPED);
    EXPECT_EQ(error, "");
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(log, Lines{"false\tfalse\tfalse"});
}

TEST_F(EmbedTest, ARunDoesNotInheritAnEarlierRunsCoroutine)
{
    // The first run ends with its coroutine still scheduled ("two" not yet logged); the
    // second run on the same runtime must not give it turns.
    EXPECT_EQ(run("decay function f(); log(\"one\"); log(\"two\"); end\nf()\n"), QUILL_SCRIPT_FINISHED);
    EXPECT_EQ(run("x = 1\nx = 2\nx = 3\n"), QUILL_SCRIPT_FINISHED);
    EXPECT_EQ(log, Lines{"one"});
}

// ----- destroy frees containers that refer to each other -----

TEST_F(EmbedTest, DroppedCyclesAreFreedWhileRunningAndAtDestroy)
{
    // Stands in for a file handle: a native function value that owns a resource.
    auto resource = std::make_shared<int>(0);
    engine().pushFunction("makeHandle", [this, resource](NativeArgs) {
        return engine().makeNativeCallable([resource](NativeArgs) { return Variable(); }, "handle", BuiltinId::None);
    });
    const long noHandles = resource.use_count();  // the copies inside makeHandle itself
    EXPECT_EQ(run("for i = 1, 50\n  a = []; a[1] = a; a[2] = makeHandle(); a = 1\n"
                  "  t = {}; t[\"pair\"] = [t, {h: makeHandle()}]; t = 1\nend\n"
                  "bottom = []; chain = bottom\nfor i = 1, 100000; chain = [chain]; end\n"
                  "bottom[1] = chain; bottom[2] = makeHandle(); chain = 1; bottom = 1\n"
                  "kept = {list: [1, 2]}; kept[\"self\"] = kept"),
              QUILL_SCRIPT_FINISHED);
    // The automatic collections during the run freed most dropped cycles, collectGarbage the
    // rest.
    EXPECT_LT(resource.use_count(), noHandles + 50);
    EXPECT_EQ(run("collectGarbage()"), QUILL_SCRIPT_FINISHED);
    EXPECT_EQ(resource.use_count(), noHandles);

    const Variable kept = *engine().resolveVariablePtr("kept");
    quill_script_runtime_destroy(runtime);
    runtime = nullptr;
    EXPECT_EQ(resource.use_count(), 1);
    // Data still reachable from the engine is only cut where it closes a cycle.
    EXPECT_EQ(kept.asTable()->map.at("list").toString(), "[1, 2]");
    EXPECT_TRUE(kept.asTable()->map.at("self").isNot());
}

// ----- the JSON bridge -----

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

    auto number = [](const char* text) { return bot::decodeJSONResponse(text); };
    EXPECT_EQ(number("-0").asInt(), 0);
    EXPECT_EQ(number("-2147483649").asFloat(), -2147483649.0f);
    EXPECT_EQ(number("18446744073709551615").asFloat(), 18446744073709551615.0f);
    EXPECT_EQ(number("18446744073709551616").asFloat(), 18446744073709551616.0f);
    EXPECT_EQ(number("1e39").asFloat(), std::numeric_limits<float>::infinity());
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
    map["whole"] = Variable(2.0f);
    map["tiny"] = Variable(1e-45f);
    map[std::string("k\0ey", 4)] = Variable(true);
    map["raw"] = Variable();
    EXPECT_EQ(bot::serialiseJSONTable(body),
              "{\"k\\u0000ey\":true,\"multi\":[1,\"two\"],\"raw\":null,\"tiny\":1e-45,\"whole\":2.0}");

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
