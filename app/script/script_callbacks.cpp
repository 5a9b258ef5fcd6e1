#include "app/script/script_callbacks.h"

#include "app/script/script_host.h"

#include <cstdlib>
#include <cstring>
#include <exception>

namespace quill::script_callbacks {

namespace {

using Operation = HostResult (ScriptHost::*)(const QString &, const QByteArray &);

// A malloc copy for the engine, which frees it; null when memory ran out.
char *copyForEngine(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    char *copy = static_cast<char *>(std::malloc(std::size_t(bytes.size()) + 1));
    if (copy)
        std::memcpy(copy, bytes.constData(), std::size_t(bytes.size()) + 1);
    return copy;
}

// The wrapper every request-like callback shares: argument checks, the call, and the hand-over of
// the texts. Nothing may be thrown back into the engine.
int32_t call(void *context, const char *first, const char *second, char **response, char **error,
             Operation operation, const char *invalidArguments)
{
    if (response)
        *response = nullptr;
    if (error)
        *error = nullptr;
    if (!context || !first || !second) {
        if (error)
            *error = copyForEngine(QString::fromUtf8(invalidArguments));
        return 0;
    }
    try {
        auto *host = static_cast<ScriptHost *>(context);
        const HostResult result = (host->*operation)(QString::fromUtf8(first), QByteArray(second));
        if (!result) {
            if (error)
                *error = copyForEngine(result.error());
            return 0;
        }
        if (!response)
            return 0;
        *response = copyForEngine(result.value());
        return *response ? 1 : 0;
    } catch (const std::exception &failure) {
        if (error)
            *error = copyForEngine(QString::fromUtf8(failure.what()));
        return 0;
    }
}

} // namespace

void log(void *context, const char *message)
{
    if (context && message)
        static_cast<ScriptHost *>(context)->log(QString::fromUtf8(message));
}

int32_t request(void *context, const char *endpoint, const char *parametersJSON, char **response, char **error)
{
    return call(context, endpoint, parametersJSON, response, error, &ScriptHost::performRequest,
                "The script request callback received invalid arguments.");
}

int32_t upload(void *context, const char *filePath, const char *optionsJSON, char **response, char **error)
{
    return call(context, filePath, optionsJSON, response, error, &ScriptHost::performUpload,
                "The script upload callback received invalid arguments.");
}

int32_t http(void *context, const char *url, const char *optionsJSON, char **response, char **error)
{
    return call(context, url, optionsJSON, response, error, &ScriptHost::performHTTP,
                "The HTTP callback received invalid arguments.");
}

} // namespace quill::script_callbacks
