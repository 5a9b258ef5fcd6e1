#pragma once
// Call bookkeeping: depth, protected calls, the extra arguments of running variadic
// functions, and the registered native functions.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/stdlib/mersenne_twister.h"
#include "engine/stdlib/script_callable.h"

namespace cobalt {

struct CallState {
    uint64_t callDepth = 0;
    std::vector<uint64_t> protectedCalls;  // call depth at each active pcall, innermost last
    // Set when protected calls nested past their limit; until the outermost one has
    // unwound, no protected call catches anything (see pcallFunctionFast).
    bool runawayProtectedCalls = false;
    // Extra arguments of each running script-function call, innermost last (null for a
    // non-variadic call), read by "..." in expressions.
    std::vector<std::shared_ptr<std::vector<Variable>>> varargs;
    std::unordered_map<std::string, NativeFunction> nativeFunctions;

    MersenneTwister random;
    std::chrono::steady_clock::time_point startTime = std::chrono::steady_clock::now();
};

/// One more call in progress while it lives: what the call path counts against its depth limit.
class CallDepthGuard {
public:
    explicit CallDepthGuard(CallState& calls) : m_calls(calls) { ++m_calls.callDepth; }
    ~CallDepthGuard() { --m_calls.callDepth; }
    CallDepthGuard(const CallDepthGuard&) = delete;
    CallDepthGuard& operator=(const CallDepthGuard&) = delete;

private:
    CallState& m_calls;
};

} // namespace cobalt
