// PLACEHOLDER until the bot API lands (it replaces this whole file): print and log go to the
// host's log callback, and the few bot functions the embedding tests need behave as the real
// ones do where it matters for stopping: misskeyRequest and misskeyMe call the request
// callback (responses are not decoded as JSON here: the empty text and "null" give the absent
// value, anything else comes back as its text), botWait waits in 50 ms slices and
// botIsRunning reports the stop flag.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine/embed/script_runtime.h"
#include "engine/error/script_error.h"
#include "engine/error/stop_state.h"

namespace cobalt {
namespace {

constexpr int32_t kMaxWaitMilliseconds = 86400000;
constexpr int32_t kWaitSliceMilliseconds = 50;

Variable logLine(QuillScriptRuntime& runtime, NativeArgs args)
{
    std::string line;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) line += '\t';
        args[i].appendTo(line);
    }
    if (runtime.log) runtime.log(runtime.context, line.c_str());
    return Variable();
}

/// Takes a malloc'd callback text over, so it is freed on every path.
std::string takeText(char*& text)
{
    std::string taken = text ? std::string(text) : std::string();
    std::free(text);
    text = nullptr;
    return taken;
}

Variable requestMisskey(QuillScriptRuntime& runtime, const std::string& endpoint, const std::string& json)
{
    if (runtime.stopping()) throw ScriptStopRequested(kStopRequestedMessage);
    if (!runtime.request) fail("Misskey request callback is unavailable");
    char* response = nullptr;
    char* error = nullptr;
    const int32_t ok = runtime.request(runtime.context, endpoint.c_str(), json.c_str(), &response, &error);
    const bool haveResponse = response != nullptr;
    const std::string errorText = takeText(error);
    const std::string body = takeText(response);
    if (!ok || !haveResponse) fail(errorText.empty() ? "Misskey request failed" : errorText);
    if (body.empty() || body == "null") return Variable();
    return Variable(body);
}

Variable botWait(QuillScriptRuntime& runtime, NativeArgs args)
{
    int32_t milliseconds = 0;
    if (!args.empty() && !args[0].isNot()) {
        if (args[0].type == VarType::Int) {
            milliseconds = args[0].asInt();
        } else if (args[0].type == VarType::Float) {
            milliseconds = toInt(args[0]);
        } else {
            fail("milliseconds must be a number");
        }
    }
    if (milliseconds < 0) fail("milliseconds must not be negative");
    milliseconds = std::min(milliseconds, kMaxWaitMilliseconds);
    for (int32_t waited = 0; waited < milliseconds && !runtime.stopping();) {
        const int32_t slice = std::min(kWaitSliceMilliseconds, milliseconds - waited);
        std::this_thread::sleep_for(std::chrono::milliseconds(slice));
        waited += slice;
    }
    return Variable(!runtime.stopping());
}

} // namespace

void installFunctions(QuillScriptRuntime& runtime)
{
    CobaltScript& engine = runtime.engine;
    engine.pushFunction("print", [&runtime](NativeArgs args) { return logLine(runtime, args); });
    engine.pushFunction("log", [&runtime](NativeArgs args) { return logLine(runtime, args); });
    engine.pushFunction("misskeyRequest", [&runtime](NativeArgs args) {
        if (args.empty() || args[0].type != VarType::String) fail("endpoint must be a string");
        return requestMisskey(runtime, args[0].asString(), "{}");
    });
    engine.pushFunction("misskeyMe", [&runtime](NativeArgs) { return requestMisskey(runtime, "i", "{}"); });
    engine.pushFunction("botWait", [&runtime](NativeArgs args) { return botWait(runtime, args); });
    engine.pushFunction("botIsRunning", [&runtime](NativeArgs) { return Variable(!runtime.stopping()); });
}

} // namespace cobalt
