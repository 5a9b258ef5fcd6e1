#pragma once
// The core builtins every engine registers: conversions and checks, errors, output, the
// clock, and container iteration. Each takes the argument array directly so the dispatcher
// can call it by id without building an argument list.

#include <cstddef>
#include <cstdint>

#include "engine/value/variable.h"

namespace cobalt {

class CobaltScript;

namespace builtins {

using Body = Variable (*)(CobaltScript& engine, const Variable* args, size_t count);

Variable print(CobaltScript& engine, const Variable* args, size_t count);
Variable getTimeMs(CobaltScript& engine, const Variable* args, size_t count);
Variable toString(CobaltScript& engine, const Variable* args, size_t count);
Variable toNumber(CobaltScript& engine, const Variable* args, size_t count);
Variable typeOf(CobaltScript& engine, const Variable* args, size_t count);
Variable assertValue(CobaltScript& engine, const Variable* args, size_t count);
Variable raiseError(CobaltScript& engine, const Variable* args, size_t count);
Variable collectGarbage(CobaltScript& engine, const Variable* args, size_t count);

Variable pairs(CobaltScript& engine, const Variable* args, size_t count);
Variable ipairs(CobaltScript& engine, const Variable* args, size_t count);
Variable next(CobaltScript& engine, const Variable* args, size_t count);
Variable select(CobaltScript& engine, const Variable* args, size_t count);
Variable len(CobaltScript& engine, const Variable* args, size_t count);

/// Whole milliseconds since the engine started, saturated to the int range.
int32_t elapsedMilliseconds(const CobaltScript& engine);

} // namespace builtins
} // namespace cobalt
