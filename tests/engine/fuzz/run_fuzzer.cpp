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
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "engine/cobalt_script.h"
#include "tests/engine/fuzz/large_stack.h"
#include "tests/engine/fuzz/run_script_text.h"

namespace {

using namespace std::chrono_literals;

constexpr size_t kMaxScriptBytes = 4096;             // short scripts: the point is the engine, not the text
constexpr auto kTimeLimit = std::chrono::milliseconds(300);

/// Raises `flag` after kTimeLimit unless disarmed first.
class Watchdog {
public:
    explicit Watchdog(std::atomic<bool>& flag)
        : m_thread([this, &flag] {
              std::unique_lock lock(m_lock);
              if (!m_done.wait_for(lock, kTimeLimit, [this] { return m_disarmed; })) {
                  flag.store(true, std::memory_order_release);
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_lock);
            m_disarmed = true;
        }
        m_done.notify_one();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_disarmed = false;
    std::thread m_thread;  // last: starts once the members it uses exist
};

void runText(const std::string& text)
{
    std::atomic<bool> stop{false};
    cobalt::CobaltScript engine;
    engine.printHandler = [](std::string_view) {};
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

    Watchdog watchdog(stop);
    quill_fuzz::runScriptText(engine, text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kMaxScriptBytes) return -1;
    const std::string text(reinterpret_cast<const char*>(data), size);
    quill_fuzz::runOnLargeStack([&text] { runText(text); });
    return 0;
}
