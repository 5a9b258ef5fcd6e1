#pragma once
// Running engine work on a thread with a large stack, so that ordinary deeply recursive
// scripts run and runaway ones meet the engine's own recursion limit rather than the
// process's stack limit.

#include <functional>

namespace cobalt::cli {

/// Runs `work` to completion on a thread with a large stack (512 MiB; 60 MiB in
/// AddressSanitizer builds) and waits for it. When the system refuses such a thread the work
/// runs on the calling thread instead (the engine measures whatever stack it gets). An
/// exception that escapes `work` is rethrown on the calling thread.
void runOnLargeStack(const std::function<void()>& work);

} // namespace cobalt::cli
