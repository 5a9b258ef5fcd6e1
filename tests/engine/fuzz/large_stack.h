#pragma once
// Runs one fuzz input on a thread with a known, large stack. The engine measures the stack of
// the thread it runs on and turns runaway nesting into "Maximum recursion depth exceeded";
// a fixed size keeps that limit the same from run to run, so a reproducer behaves the same
// on every machine. AddressSanitizer cannot clean up after an exception thrown from deeper
// than 64 MiB of stack, hence the size.

#include <pthread.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace quill_fuzz {

inline constexpr size_t kEngineStackBytes = size_t{64} * 1024 * 1024;

inline void* runBody(void* argument)
{
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
}

/// Runs `body` to completion on a fresh thread with kEngineStackBytes of stack. Aborts when
/// no such thread can be made: a fuzzer silently running on another stack would report
/// different limits.
inline void runOnLargeStack(const std::function<void()>& body)
{
    pthread_attr_t attributes;
    pthread_t thread;
    if (pthread_attr_init(&attributes) != 0 || pthread_attr_setstacksize(&attributes, kEngineStackBytes) != 0 ||
        pthread_create(&thread, &attributes, &runBody, const_cast<std::function<void()>*>(&body)) != 0) {
        std::fputs("fuzz harness: cannot start the engine thread\n", stderr);
        std::abort();
    }
    pthread_attr_destroy(&attributes);
    pthread_join(thread, nullptr);
}

} // namespace quill_fuzz
