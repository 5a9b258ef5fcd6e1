#pragma once
// The `os` table: the engine's running time in seconds and the wall clock.

#include <cstddef>

#include "engine/value/variable.h"

namespace cobalt {

class CobaltScript;

namespace builtins {

/// Seconds since the engine started, from whole microseconds, as a float.
Variable osClock(CobaltScript& engine, const Variable* args, size_t count);
/// Whole seconds of the system clock since the Unix epoch, saturated to the int range.
Variable osTime(CobaltScript& engine, const Variable* args, size_t count);

Variable makeOsLibrary(CobaltScript& engine);

} // namespace builtins
} // namespace cobalt
