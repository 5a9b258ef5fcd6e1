// The callback contract seen from the engine: both out texts start null, a call succeeds only
// with a non-zero result and a response text, and whatever the host stored is freed exactly
// once on every path (the response even when decoding it fails).

#include "engine/embed/host_call.h"

#include <cstdlib>
#include <memory>

#include "engine/embed/json_bridge.h"
#include "engine/error/script_error.h"

namespace cobalt::bot {
namespace {

struct FreeHostText {
    void operator()(char* text) const { std::free(text); }
};
using HostText = std::unique_ptr<char, FreeHostText>;

} // namespace

HostChannel misskeyChannel(const QuillScriptRuntime& runtime)
{
    return {runtime.request, "Misskey request callback is unavailable", "Misskey request failed"};
}

HostChannel uploadChannel(const QuillScriptRuntime& runtime)
{
    return {runtime.upload, "Misskey upload callback is unavailable", "Misskey upload failed"};
}

HostChannel httpChannel(const QuillScriptRuntime& runtime)
{
    return {runtime.http, "HTTP request callback is unavailable", "HTTP request failed"};
}

Variable callHost(const QuillScriptRuntime& runtime, const HostChannel& channel, const std::string& target,
                  const Variable& body)
{
    if (runtime.stopping()) throw ScriptStopRequested("Bot stop requested");
    if (!channel.callback) fail(channel.unavailableMessage);
    const std::string json = serialiseJSONTable(body);

    char* responseOut = nullptr;
    char* errorOut = nullptr;
    const int32_t succeeded = channel.callback(runtime.context, target.c_str(), json.c_str(), &responseOut, &errorOut);
    const HostText response(responseOut);
    const HostText error(errorOut);

    if (succeeded != 0 && response) return decodeJSONResponse(response.get());
    fail(error ? error.get() : channel.failedMessage);
}

} // namespace cobalt::bot
