#include "cli/large_stack.h"

#include <pthread.h>

#include <cstddef>
#include <exception>

namespace cobalt::cli {

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define COBALT_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define COBALT_ADDRESS_SANITIZER 1
#endif
#endif

#ifdef COBALT_ADDRESS_SANITIZER
// AddressSanitizer cannot clean up after an exception thrown from deeper than 64 MiB of stack,
// which a script that recurses until the engine's limit would reach on a larger stack.
constexpr size_t kEngineStackBytes = size_t{60} * 1024 * 1024;
#else
constexpr size_t kEngineStackBytes = size_t{512} * 1024 * 1024;
#endif

struct ThreadJob {
    const std::function<void()>* work = nullptr;
    std::exception_ptr failure;
};

void runJob(ThreadJob& job)
{
    try {
        (*job.work)();
    } catch (...) {
        job.failure = std::current_exception();
    }
}

void* threadEntry(void* argument)
{
    runJob(*static_cast<ThreadJob*>(argument));
    return nullptr;
}

} // namespace

void runOnLargeStack(const std::function<void()>& work)
{
    ThreadJob job;
    job.work = &work;
    bool ran = false;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) == 0) {
        pthread_t thread;
        const bool started = pthread_attr_setstacksize(&attributes, kEngineStackBytes) == 0 &&
                             pthread_create(&thread, &attributes, &threadEntry, &job) == 0;
        pthread_attr_destroy(&attributes);
        if (started) {
            pthread_join(thread, nullptr);
            ran = true;
        }
    }
    if (!ran) runJob(job);
    if (job.failure) std::rethrow_exception(job.failure);
}

} // namespace cobalt::cli
