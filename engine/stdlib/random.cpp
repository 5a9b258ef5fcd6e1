// The random generator behind `random`, `math.random` and `math.randomSeed`: the engine's
// MT19937, seeded from the operating system when the engine is made.

#include <cstdint>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/stdlib/math_library.h"

namespace cobalt::builtins {

Variable random(CobaltScript& engine, const Variable* args, size_t count)
{
    // The draw comes first, so the sequence advances even when the arguments are refused:
    // a script's later values do not depend on whether an earlier call failed.
    const uint32_t drawn = engine.calls.random();
    switch (count) {
    case 0:
        // 2^-32 scales exactly; the rounding to single precision takes the largest draws to 1.
        return Variable(static_cast<float>(static_cast<double>(drawn) * 0x1p-32));
    case 1: {
        if (args[0].type != VarType::Int) fail("random function with one argument requires an integer");
        const int32_t maximum = args[0].asInt();
        if (maximum < 1) fail("random function requires a positive maximum value");
        return Variable(static_cast<int32_t>(drawn % static_cast<uint32_t>(maximum)) + 1);
    }
    case 2: {
        if (args[0].type != VarType::Int || args[1].type != VarType::Int) {
            fail("random function with two arguments requires integers");
        }
        const int32_t minimum = args[0].asInt();
        const int32_t maximum = args[1].asInt();
        if (minimum > maximum) fail("random function requires min <= max");
        // Unsigned arithmetic: the span of the whole int range wraps to 0, and then every
        // draw is in range as it is.
        const uint32_t span = static_cast<uint32_t>(maximum) - static_cast<uint32_t>(minimum) + 1u;
        const uint32_t offset = span == 0 ? drawn : drawn % span;
        return Variable(static_cast<int32_t>(offset + static_cast<uint32_t>(minimum)));
    }
    default: fail("random function takes 0, 1, or 2 arguments");
    }
}

Variable randomSeed(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count != 1) fail("math['randomSeed'](seed) requires exactly 1 argument");
    engine.calls.random.seed(static_cast<uint32_t>(toInt(args[0])));
    return Variable();
}

} // namespace cobalt::builtins
