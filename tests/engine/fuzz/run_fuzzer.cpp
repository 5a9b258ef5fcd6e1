// Fuzz target for whole scripts, loops and functions included: each short text runs the road
// every script takes (compile, wrap chunk 0 in a function, call it) on a fresh engine, under
// a time limit. A watchdog raises the engine's stop flag after kTimeLimit and the interpreter
// ends the script at its next instruction boundary with "Bot stop requested", so endless
// loops and runaway recursion end as script failures. Memory is bounded from outside
// (libFuzzer's -rss_limit_mb and -malloc_limit_mb, see tools/fuzz.sh): a script that asks for
// gigabytes must fail with a script error before it allocates them.
//
// Everything that reaches the file system or starts programs is taken away first (`io` and the
// file loaders; the state functions keep their in-memory forms only): random scripts must not
// write files or start programs on the fuzzing machine.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <stop_token>
#include <thread>

#include "tests/engine/fuzz/harness.h"

namespace {

using namespace std::chrono_literals;

constexpr size_t kMaxScriptBytes = 4096;             // short scripts: the point is the engine, not the text
constexpr auto kTimeLimit = std::chrono::milliseconds(300);

void runText(const std::string& text)
{
    std::atomic<bool> stop{false};
    quill_fuzz::QuietEngine engine;
    engine.stopFlag = &stop;
    engine.stop.gracePeriod = 0ms;
    for (const char* name : {"io", "loadFile", "runFile"}) engine.pushVariable(name, cobalt::Variable());
    cobalt::CobaltScript* const state = &engine;
    engine.pushFunction("exportState", [state](cobalt::NativeArgs args) {
        if (!args.empty()) throw std::runtime_error("exportState: no files while fuzzing");
        return state->exportStateFunction(args);
    });
    engine.pushFunction("importState", [state](cobalt::NativeArgs args) {
        if (args.size() == 1 && args[0].type == cobalt::VarType::String) {
            throw std::runtime_error("importState: no files while fuzzing");
        }
        return state->importStateFunction(args);
    });

    // Raises the stop flag after kTimeLimit unless the run ended first (the thread's stop
    // request, made when it goes out of scope, disarms it).
    const std::jthread watchdog([&stop](std::stop_token ended) {
        std::mutex lock;
        std::condition_variable_any wake;
        std::unique_lock held(lock);
        if (!wake.wait_for(held, ended, kTimeLimit, [&ended] { return ended.stop_requested(); })) stop = true;
    });
    quill_fuzz::runScriptText(engine, text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kMaxScriptBytes) return -1;
    const std::string text = quill_fuzz::textOf(data, size);
    quill_fuzz::runOnLargeStack([&text] { runText(text); });
    return 0;
}
