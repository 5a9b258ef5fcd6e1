// math.floor to math.sqrt and the `math` table. Every calculation is done in double precision
// and a float result is rounded to single precision once, at the end.

#include "engine/stdlib/math_library.h"

#include <cmath>
#include <numbers>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/eval/arithmetic.h"
#include "engine/stdlib/library_table.h"

namespace cobalt::builtins {
namespace {

/// The nearest single-precision value to pi.
constexpr float kPi = 3.1415927f;

void requireOne(size_t count, const char* message)
{
    if (count != 1) fail(message);
}

} // namespace

Variable mathFloor(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    requireOne(count, "math['floor'](x) requires exactly 1 argument");
    return Variable(saturateToInt32(std::floor(toDouble(args[0]))));
}

Variable mathCeil(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    requireOne(count, "math['ceil'](x) requires exactly 1 argument");
    return Variable(saturateToInt32(std::ceil(toDouble(args[0]))));
}

Variable mathAbs(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    requireOne(count, "math['abs'](x) requires exactly 1 argument");
    if (args[0].type == VarType::Float) return Variable(std::fabs(args[0].asFloat()));
    const int32_t value = toInt(args[0]);
    // The smallest int has no positive counterpart; it wraps to itself as negation does.
    return Variable(value < 0 ? wrappingNegate(value) : value);
}

size_t extremeArgumentIndex(const Variable* args, size_t count, int direction)
{
    size_t best = 0;
    // Every argument is compared, so a value that cannot be ordered fails even when it
    // would not be the result; ties keep the earlier argument.
    for (size_t i = 1; i < count; ++i) {
        if (compareVariables(args[i], args[best]) * direction > 0) best = i;
    }
    return best;
}

Variable mathMin(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count == 0) fail("math['min'](...) requires at least 1 argument");
    return args[extremeArgumentIndex(args, count, -1)];
}

Variable mathMax(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count == 0) fail("math['max'](...) requires at least 1 argument");
    return args[extremeArgumentIndex(args, count, 1)];
}

Variable mathSin(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    requireOne(count, "math['sin'](x) requires exactly 1 argument");
    return Variable(roundToFloat(std::sin(toDouble(args[0]))));
}

Variable mathCos(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    requireOne(count, "math['cos'](x) requires exactly 1 argument");
    return Variable(roundToFloat(std::cos(toDouble(args[0]))));
}

Variable mathRad(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    requireOne(count, "math['rad'](x) requires exactly 1 argument");
    return Variable(roundToFloat(toDouble(args[0]) * std::numbers::pi / 180.0));
}

Variable mathLog(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    if (count < 1 || count > 2) fail("math['log'](x[, base]) requires 1 or 2 arguments");
    const double x = toDouble(args[0]);
    // Written as "not above" so that NaN is refused as well.
    if (!(x > 0.0)) fail("math['log'] requires a positive value");
    if (count == 1) return Variable(roundToFloat(std::log(x)));
    const double base = toDouble(args[1]);
    if (!(base > 0.0) || base == 1.0) fail("math['log'] base must be positive and not equal to 1");
    return Variable(roundToFloat(std::log(x) / std::log(base)));
}

Variable mathSqrt(CobaltScript& /*engine*/, const Variable* args, size_t count)
{
    requireOne(count, "math['sqrt'](x) requires exactly 1 argument");
    const double x = toDouble(args[0]);
    if (x < 0.0) fail("math['sqrt'] requires a non-negative value");
    return Variable(roundToFloat(std::sqrt(x)));
}

Variable makeMathLibrary(CobaltScript& engine)
{
    Variable math = makeLibraryTable(engine, "math",
                                     {{"floor", mathFloor},
                                      {"ceil", mathCeil},
                                      {"abs", mathAbs},
                                      {"min", mathMin},
                                      {"max", mathMax},
                                      {"sin", mathSin},
                                      {"cos", mathCos},
                                      {"rad", mathRad},
                                      {"log", mathLog},
                                      {"sqrt", mathSqrt},
                                      {"random", random},
                                      {"randomSeed", randomSeed}});
    math.asTable()->map.insert_or_assign("pi", Variable(kPi));
    return math;
}

} // namespace cobalt::builtins
