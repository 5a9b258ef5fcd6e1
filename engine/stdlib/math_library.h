#pragma once
// The `math` library: rounding, absolute value, extremes, trigonometry, logarithms and roots,
// and the random generator shared with the global `random`. Each function takes the argument
// array directly, so the dispatcher can call the numeric ones by id.

#include <cstddef>

#include "engine/value/variable.h"

namespace cobalt {

class CobaltScript;

namespace builtins {

Variable mathFloor(CobaltScript& engine, const Variable* args, size_t count);
Variable mathCeil(CobaltScript& engine, const Variable* args, size_t count);
Variable mathAbs(CobaltScript& engine, const Variable* args, size_t count);
Variable mathMin(CobaltScript& engine, const Variable* args, size_t count);
Variable mathMax(CobaltScript& engine, const Variable* args, size_t count);
Variable mathSin(CobaltScript& engine, const Variable* args, size_t count);
Variable mathCos(CobaltScript& engine, const Variable* args, size_t count);
Variable mathRad(CobaltScript& engine, const Variable* args, size_t count);
Variable mathLog(CobaltScript& engine, const Variable* args, size_t count);
Variable mathSqrt(CobaltScript& engine, const Variable* args, size_t count);

/// Position of the result of math.min (direction -1) or math.max (direction 1): the first
/// argument that no later one is smaller (greater) than. Fails like the builtins.
size_t extremeArgumentIndex(const Variable* args, size_t count, int direction);

/// `random` and `math.random`: one draw, then the argument checks.
Variable random(CobaltScript& engine, const Variable* args, size_t count);
Variable randomSeed(CobaltScript& engine, const Variable* args, size_t count);

/// The `math` table, its entries in registration order and the constant `pi`.
Variable makeMathLibrary(CobaltScript& engine);

} // namespace builtins
} // namespace cobalt
