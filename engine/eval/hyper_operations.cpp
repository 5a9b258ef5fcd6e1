// Tetration (b tetrated to height h: b^b^...^b, h copies) and pentation (b pentated to
// count n: tetration iterated n times). Their failure texts are composed from the operation
// name and the role of the operand so that both operations report alike.

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {

namespace {

constexpr double kFloatMax = 3.4028234663852886e38;

// Checks that `value` is a whole number from 0 to 2147483647 and returns it.
uint32_t requireNonNegativeInteger(double value, const std::string& operation, const char* role)
{
    const std::string prefix = operation + " " + role;
    if (!std::isfinite(value)) fail(prefix + " must be finite");
    const double whole = std::round(value);
    if (std::fabs(value - whole) > 1e-6) fail(prefix + " must be an integer");
    if (whole < 0.0 || whole > 2147483647.0) fail(prefix + " must be a non-negative integer");
    return static_cast<uint32_t>(whole);
}

void requireNumeric(const Variable& a, const Variable& b, const std::string& operation)
{
    if (!a.isNumeric() || !b.isNumeric()) fail(operation + " requires numeric operands");
}

double requireFiniteBase(const Variable& base, const std::string& operation)
{
    const double value = toDouble(base);
    if (!std::isfinite(value)) fail(operation + " base must be finite");
    return value;
}

double zeroBaseResult(uint64_t n)
{
    return (n % 2 == 1) ? 0.0 : 1.0;
}

// Applies r = next(r) `steps` times. Counts reach 2147483647, so instead of running every
// step the loop finds the cycle the sequence falls into (a fixed point for converging towers,
// a short cycle for oscillating ones; Brent's method) and skips the whole laps of it.
template <typename Step>
double iterateSkippingCycles(double r, uint64_t steps, const Step& next)
{
    double tortoise = r;
    uint64_t power = 1;
    uint64_t lap = 0;
    for (uint64_t done = 0; done < steps;) {
        r = next(r);
        ++done;
        ++lap;
        if (r == tortoise) {
            uint64_t remaining = (steps - done) % lap;
            while (remaining-- > 0) r = next(r);
            return r;
        }
        if (lap == power) {
            tortoise = r;
            power *= 2;
            lap = 0;
        }
    }
    return r;
}

// The tower of `height` copies of `base` (height of at least 2, base neither 0 nor 1).
double towerOf(double base, uint32_t height, const std::string& operation)
{
    return iterateSkippingCycles(base, height - 1, [&](double x) {
        const double y = std::pow(base, x);
        if (!std::isfinite(y)) fail("Invalid " + operation + " result");
        return y;
    });
}

double tetrationValue(double base, uint32_t height, const std::string& operation)
{
    if (height == 0 || base == 1.0) return 1.0;
    if (base == 0.0) return zeroBaseResult(height);
    if (height == 1) return base;
    return towerOf(base, height, operation);
}

Variable hyperResult(double r, bool anyFloat, const std::string& operation)
{
    if (!anyFloat) {
        const double whole = std::round(r);
        if (std::fabs(r - whole) <= 1e-6 && whole >= -2147483648.0 && whole <= 2147483647.0) {
            return Variable(static_cast<int32_t>(whole));
        }
    }
    if (std::fabs(r) > kFloatMax) fail("Invalid " + operation + " result");
    return Variable(static_cast<float>(r));
}

} // namespace

Variable CobaltScript::tetration(const Variable& base, const Variable& height)
{
    const std::string operation = "tetration";
    requireNumeric(base, height, operation);
    const uint32_t h = requireNonNegativeInteger(toDouble(height), operation, "height");
    const double b = requireFiniteBase(base, operation);
    const double r = tetrationValue(b, h, operation);
    return hyperResult(r, base.type == VarType::Float || height.type == VarType::Float, operation);
}

Variable CobaltScript::pentation(const Variable& base, const Variable& count)
{
    const std::string operation = "pentation";
    requireNumeric(base, count, operation);
    const uint32_t n = requireNonNegativeInteger(toDouble(count), operation, "count");
    const double b = requireFiniteBase(base, operation);
    double r = 1.0;
    if (n == 0) {
        r = 1.0;
    } else if (n == 1) {
        r = b;
    } else if (b == 1.0) {
        r = 1.0;
    } else if (b == 0.0) {
        r = zeroBaseResult(n);
    } else {
        r = iterateSkippingCycles(b, n - 1, [&](double height) {
            const uint32_t h = requireNonNegativeInteger(height, operation, "intermediate height");
            return tetrationValue(b, h, operation);
        });
    }
    return hyperResult(r, base.type == VarType::Float || count.type == VarType::Float, operation);
}

} // namespace cobalt
