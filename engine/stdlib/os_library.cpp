#include "engine/stdlib/os_library.h"

#include <chrono>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/eval/arithmetic.h"
#include "engine/stdlib/library_table.h"

namespace cobalt::builtins {

Variable osClock(CobaltScript& engine, const Variable* /*args*/, size_t count)
{
    if (count != 0) fail("os['clock']() takes no arguments");
    const auto elapsed = std::chrono::steady_clock::now() - engine.calls.startTime;
    const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    return Variable(roundToFloat(static_cast<double>(microseconds) / 1e6));
}

Variable osTime(CobaltScript& /*engine*/, const Variable* /*args*/, size_t count)
{
    if (count != 0) fail("os['time']() takes no arguments");
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
    return Variable(saturateToInt32(static_cast<double>(seconds)));
}

Variable makeOsLibrary(CobaltScript& engine)
{
    return makeLibraryTable(engine, "os", {{"clock", osClock}, {"time", osTime}});
}

} // namespace cobalt::builtins
