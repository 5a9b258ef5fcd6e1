// The C interface: create, run, stop, destroy. Nothing thrown inside the engine crosses it;
// every entry returns a result code or null.

#include "engine/embed/quill_script.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "engine/bytecode/load_failure.h"
#include "engine/embed/script_runtime.h"

namespace {

constexpr const char* kPathRequired = "A CobaltScript file path is required";
constexpr const char* kUnknownFailure = "CobaltScript failed with an unknown error";

char* copyCString(const std::string& text)
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

void storeError(char** errorOut, const std::string& text)
{
    if (errorOut) *errorOut = copyCString(text);
}

} // namespace

extern "C" {

QuillScriptRuntime* quill_script_runtime_create(void* context, QuillScriptLogCallback log,
                                                QuillScriptRequestCallback request,
                                                QuillScriptUploadCallback upload, QuillScriptHTTPCallback http)
{
    QuillScriptRuntime* runtime = nullptr;
    try {
        runtime = new QuillScriptRuntime;
        runtime->context = context;
        runtime->log = log;
        runtime->request = request;
        runtime->upload = upload;
        runtime->http = http;
        runtime->engine.stopFlag = &runtime->stopRequested;
        cobalt::installFunctions(*runtime);
        return runtime;
    } catch (...) {
        delete runtime;
        return nullptr;
    }
}

int32_t quill_script_runtime_run(QuillScriptRuntime* runtime, const char* script_path, char** error_out)
{
    if (error_out) *error_out = nullptr;
    if (!runtime || !script_path || script_path[0] == '\0') {
        storeError(error_out, kPathRequired);
        return QUILL_SCRIPT_FAILED;
    }
    std::string message;
    try {
        const std::string path(script_path);
        try {
            // A coroutine, or the failure of one, left over from an earlier run of this
            // runtime must not reach into this one.
            runtime->engine.resetCoroutines();
            runtime->engine.runScriptFilePath(path);
            return runtime->stopping() ? QUILL_SCRIPT_STOPPED : QUILL_SCRIPT_FINISHED;
        } catch (const std::exception& failure) {
            if (runtime->stopping()) return QUILL_SCRIPT_STOPPED;
            message = cobalt::describeRunFailure(runtime->engine, failure.what(), path);
        }
    } catch (...) {
        if (runtime->stopping()) return QUILL_SCRIPT_STOPPED;
        message = kUnknownFailure;
    }
    try {
        storeError(error_out, message);
    } catch (...) {
        if (error_out) *error_out = nullptr;
    }
    return QUILL_SCRIPT_FAILED;
}

void quill_script_runtime_request_stop(QuillScriptRuntime* runtime)
{
    if (runtime) runtime->stopRequested.store(true, std::memory_order_release);
}

void quill_script_runtime_destroy(QuillScriptRuntime* runtime)
{
    delete runtime;
}

void quill_script_free_string(char* text)
{
    std::free(text);
}

} // extern "C"
