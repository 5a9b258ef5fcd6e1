#pragma once
// Runs a piece of work on a thread with a large stack, so that deeply recursive scripts run and
// runaway ones meet the engine's own recursion limit rather than the end of the stack.

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace cobalt::cli {

#if defined(__SANITIZE_ADDRESS__)
#define COBALT_CLI_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define COBALT_CLI_ADDRESS_SANITIZER 1
#endif
#endif

#ifdef COBALT_CLI_ADDRESS_SANITIZER
// AddressSanitizer cannot clean up after an exception thrown from deeper than 64 MiB of stack.
inline constexpr size_t kLargeStackBytes = size_t{60} * 1024 * 1024;
#else
inline constexpr size_t kLargeStackBytes = size_t{512} * 1024 * 1024;
#endif

/// Runs `work` on a new thread with kLargeStackBytes of stack and waits for it; where the system
/// refuses such a thread the work runs on the calling thread (the engine measures its stack).
inline void runOnLargeStack(const std::function<void()>& work)
{
    auto entry = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) == 0) {
        pthread_t thread;
        const bool started = pthread_attr_setstacksize(&attributes, kLargeStackBytes) == 0 &&
                             pthread_create(&thread, &attributes, entry,
                                            const_cast<std::function<void()>*>(&work)) == 0;
        pthread_attr_destroy(&attributes);
        if (started) {
            pthread_join(thread, nullptr);
            return;
        }
    }
    work();
}

} // namespace cobalt::cli
