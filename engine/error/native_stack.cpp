// The guard that turns runaway recursion into a script error instead of a crash. The engine
// runs on threads with very different stacks (a large one in the command-line runner, small
// ones on worker threads), so the stack of the running thread is measured, not assumed.

#include <pthread.h>

#include <algorithm>
#include <cstdint>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {

namespace {

// Room left for the work between two checks (a few evaluator frames, building the error
// text, unwinding): 1/8 of the stack, at least 32 KiB, at most 256 KiB, and never more than
// half of a tiny stack.
constexpr size_t kMaxMargin = 256 * 1024;
constexpr size_t kMinMargin = 32 * 1024;
// A main thread without a stack limit reports everything up to the next mapping as its
// stack; runaway recursion would eat memory long before reaching that, so at most this much
// is counted on.
constexpr size_t kMaxCountedStack = size_t{1} << 30;

size_t marginFor(size_t stackSize)
{
    size_t margin = std::clamp(stackSize / 8, kMinMargin, kMaxMargin);
    return std::min(margin, stackSize / 2);
}

// Stacks grow downwards on every platform the engine targets.
uintptr_t measureLimit()
{
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
    void* low = nullptr;
    size_t size = 0;
    int status = pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    if (status != 0 || low == nullptr || size == 0) return 0;
    const uintptr_t top = reinterpret_cast<uintptr_t>(low) + size;
    const size_t counted = std::min(size, kMaxCountedStack);
    return top - counted + marginFor(counted);
}

} // namespace

// The lowest address a check may see on this thread without failing. It starts above every
// address, so the first check of each thread takes the slow path and measures; an unknown
// stack stores 0, which every check passes. Constant-initialised, so reading it is a single
// thread-local load with no first-use guard: the check runs on every call and evaluation.
constinit thread_local uintptr_t t_nativeStackLimit = UINTPTR_MAX;

void CobaltScript::checkNativeStackSlow(uintptr_t here)
{
    if (t_nativeStackLimit == UINTPTR_MAX) t_nativeStackLimit = measureLimit();
    if (here < t_nativeStackLimit) throwError(kRecursionTooDeep, errorContext.nearToken);
}

} // namespace cobalt
