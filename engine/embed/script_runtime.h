#pragma once
// The record behind the opaque QuillScriptRuntime handle: the host's context and callbacks,
// the stop flag shared with other threads, and the engine that owns all script state.

#include <atomic>
#include <chrono>

#include "engine/cobalt_script.h"
#include "engine/embed/quill_script.h"

struct QuillScriptRuntime {
    void* context = nullptr;
    QuillScriptLogCallback log = nullptr;
    QuillScriptRequestCallback request = nullptr;
    QuillScriptUploadCallback upload = nullptr;
    QuillScriptHTTPCallback http = nullptr;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> running{false};  // a run is in progress (guards against overlapping runs)
    cobalt::CobaltScript engine;

    bool stopping() const { return stopRequested.load(std::memory_order_acquire); }
};

namespace cobalt {

/// Registers the bot functions (the misskey* globals, the `misskey` and `http` tables,
/// botWait, botIsRunning) into the runtime's engine and replaces `print` with the log
/// function. Called once by quill_script_runtime_create.
void installFunctions(QuillScriptRuntime& runtime);

} // namespace cobalt
