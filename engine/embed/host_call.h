#pragma once
// One synchronous call into the host (Misskey request, drive upload or general HTTP): the stop
// test, the JSON body, the callback contract and the release of every text it hands back.

#include <string>

#include "engine/embed/script_runtime.h"
#include "engine/value/variable.h"

namespace cobalt::bot {

/// The three request-like callbacks share one signature; what differs is which one is used
/// and the texts that name it in failures.
struct HostChannel {
    QuillScriptRequestCallback callback;
    const char* unavailableMessage;
    const char* failedMessage;
};

HostChannel misskeyChannel(const QuillScriptRuntime& runtime);
HostChannel uploadChannel(const QuillScriptRuntime& runtime);
HostChannel httpChannel(const QuillScriptRuntime& runtime);

/// Sends `body` (a table) to `target` (an endpoint, file path or URL) and returns the decoded
/// response. Fails with "Bot stop requested" once a stop is requested, before anything else.
Variable callHost(const QuillScriptRuntime& runtime, const HostChannel& channel, const std::string& target,
                  const Variable& body);

} // namespace cobalt::bot
