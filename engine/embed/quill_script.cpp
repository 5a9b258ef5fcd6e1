// The C interface: create, run, stop, destroy. Nothing thrown inside the engine crosses it;
// every entry returns a result code or null.

#include "engine/embed/quill_script.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "engine/bytecode/load_failure.h"
#include "engine/embed/script_runtime.h"

namespace {

constexpr std::string_view kPathRequired = "A CobaltScript file path is required";
constexpr std::string_view kUnknownFailure = "CobaltScript failed with an unknown error";
constexpr std::string_view kRunInProgress = "A CobaltScript run is already in progress on this runtime";

/// A malloc'd, NUL-terminated copy for the host; null when the allocation fails.
char* copyCString(std::string_view text) noexcept
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

void storeError(char** errorOut, std::string_view text) noexcept
{
    if (errorOut) *errorOut = copyCString(text);
}

/// One run's bracket: the engine starts from clean transient state and is left without the
/// run's leftovers, and the runtime is marked as running meanwhile.
class RunScope {
public:
    explicit RunScope(QuillScriptRuntime& runtime) : m_runtime(runtime) { runtime.engine.resetTransientState(); }
    ~RunScope()
    {
        try {
            m_runtime.engine.resetTransientState();
        } catch (...) {
            // Only allocation can fail here; the next run's reset tries again.
        }
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    QuillScriptRuntime& m_runtime;
};

/// Runs the script and turns every way it can end into a result code: a stop request wins
/// over whatever the script did, and a failure becomes the text a host shows.
int32_t runScript(QuillScriptRuntime& runtime, const char* scriptPath, char** errorOut) noexcept
{
    bool failed = false;
    std::string message;
    try {
        const RunScope scope(runtime);
        const std::string path(scriptPath);
        try {
            runtime.engine.runScriptFilePath(path);
        } catch (const std::exception& failure) {
            failed = true;
            if (!runtime.stopping()) message = cobalt::describeRunFailure(runtime.engine, failure.what(), path);
        }
    } catch (...) {
        // A failure without a message, or no memory left to describe one.
        failed = true;
        message.clear();
    }
    if (runtime.stopping()) return QUILL_SCRIPT_STOPPED;
    if (!failed) return QUILL_SCRIPT_FINISHED;
    storeError(errorOut, message.empty() ? kUnknownFailure : std::string_view(message));
    return QUILL_SCRIPT_FAILED;
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
        // The bot API's tables belong to the engine like everything its scripts make.
        const cobalt::ActiveContainerRegistry activeContainers(runtime->engine.containers);
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
    // A second run while one is in progress (from a callback, or from another thread) would
    // tear the first one's state apart; it is refused instead.
    if (runtime->running.exchange(true, std::memory_order_acq_rel)) {
        storeError(error_out, kRunInProgress);
        return QUILL_SCRIPT_FAILED;
    }
    const int32_t result = runScript(*runtime, script_path, error_out);
    runtime->running.store(false, std::memory_order_release);
    return result;
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
