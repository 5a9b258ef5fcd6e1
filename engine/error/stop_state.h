#pragma once
// What the interpreter knows about a stop request. A bot normally ends at its next bot call
// once the host asks it to stop; one that keeps computing without calling any (an endless
// loop) is ended by the interpreter after a grace period, which leaves a well-behaved script
// the time to finish its own clean-up.

#include <chrono>

namespace cobalt {

/// The failure a stopping script ends with (the bot functions raise it too).
inline constexpr const char* kStopRequestedMessage = "Bot stop requested";

/// How long a script may run on after the interpreter first sees a stop request.
inline constexpr std::chrono::milliseconds kStopGracePeriod{5000};

struct StopState {
    bool noticed = false;  // an instruction boundary has seen the stop flag set
    std::chrono::steady_clock::time_point noticedAt{};
    // Only tests shorten it, so that they need not wait the full period each time.
    std::chrono::steady_clock::duration gracePeriod = kStopGracePeriod;
};

} // namespace cobalt
