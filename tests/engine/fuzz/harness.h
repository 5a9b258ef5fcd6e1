#pragma once
// What the fuzz targets share: a quiet engine, a thread with a known stack to run an input on,
// the words that mark a script that could run for ever, running a text as a script chunk, and
// reporting a broken invariant (an abort, which libFuzzer reports as a finding).

#include <pthread.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "engine/cobalt_script.h"

namespace quill_fuzz {

/// An engine whose printed lines go nowhere.
struct QuietEngine : cobalt::CobaltScript {
    QuietEngine() { printHandler = [](std::string_view) {}; }
};

inline std::string textOf(const uint8_t* data, size_t size) { return {reinterpret_cast<const char*>(data), size}; }

[[noreturn]] inline void invariantBroken(const char* what, std::string_view detail)
{
    std::fprintf(stderr, "fuzz invariant broken: %s [%.*s]\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

/// A script failure must say what went wrong.
inline void requireMessage(const std::exception& failure, std::string_view where)
{
    if (failure.what() == nullptr || failure.what()[0] == '\0') invariantBroken("failure without a message", where);
}

// The engine measures the stack of the thread it runs on and turns runaway nesting into
// "Maximum recursion depth exceeded"; a fixed size keeps that limit the same from run to run,
// so a reproducer behaves the same on every machine. AddressSanitizer cannot clean up after an
// exception thrown from deeper than 64 MiB of stack, hence the size.
inline constexpr size_t kEngineStackBytes = size_t{64} * 1024 * 1024;

/// Runs `body` to completion on a fresh thread with kEngineStackBytes of stack. Aborts when
/// no such thread can be made: a fuzzer silently running on another stack would report
/// different limits.
inline void runOnLargeStack(const std::function<void()>& body)
{
    pthread_attr_t attributes;
    pthread_t thread;
    auto entry = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    if (pthread_attr_init(&attributes) != 0 || pthread_attr_setstacksize(&attributes, kEngineStackBytes) != 0 ||
        pthread_create(&thread, &attributes, entry, const_cast<std::function<void()>*>(&body)) != 0) {
        invariantBroken("cannot start the engine thread", "");
    }
    pthread_attr_destroy(&attributes);
    pthread_join(thread, nullptr);
}

// Plain substring tests: they also turn away harmless texts such as "format" or "forest",
// which costs a little coverage but keeps the filter obviously complete. The snapshot
// functions are among them: given a path they write or read files.
inline constexpr std::array<std::string_view, 10> kUnboundedWords = {
    "while", "repeat", "for", "function", "jumpTo", "load", "runFile", "nest", "exportState", "importState",
};

/// True when `text` names a loop, a function or a builtin that loads code, jumps or reaches files.
inline bool mayRunUnbounded(std::string_view text)
{
    for (std::string_view word : kUnboundedWords) {
        if (text.find(word) != std::string_view::npos) return true;
    }
    return false;
}

/// Compiles `text` as a script chunk and runs it. A script failure (the stop included) is the
/// expected outcome for most random texts, so it is swallowed; anything worse is the fuzzer's
/// to find.
inline void runScriptText(cobalt::CobaltScript& engine, const std::string& text)
{
    try {
        const cobalt::Variable source(text);
        const cobalt::Variable chunk = engine.loadScriptChunk(cobalt::NativeArgs(&source, 1));
        if (chunk.type != cobalt::VarType::Function) return;  // did not compile: (not, message)
        (void)engine.invokeCallableFast(chunk, nullptr, 0).toString();
    } catch (const std::exception&) {
    }
}

} // namespace quill_fuzz
