// Ending a script that runs on after a stop request.

#include <chrono>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/error/stop_state.h"

namespace cobalt {

void CobaltScript::enforceStopGrace()
{
    const auto now = std::chrono::steady_clock::now();
    // The period runs from the first boundary that sees the request rather than from the
    // request itself: that is when the script is seen running on, and it needs no clock
    // shared with the thread that asked.
    if (!stop.noticed) {
        stop.noticed = true;
        stop.noticedAt = now;
    }
    if (now - stop.noticedAt >= stop.gracePeriod) throw ScriptStopRequested(kStopRequestedMessage);
}

} // namespace cobalt
