#include "engine/eval/arithmetic.h"

#include <cmath>
#include <limits>

#include "engine/error/script_error.h"

namespace cobalt {

namespace {

constexpr int64_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr int64_t kIntMax = std::numeric_limits<int32_t>::max();

bool fitsInt32(int64_t value)
{
    return value >= kIntMin && value <= kIntMax;
}

// Exponentiation by squaring in 32-bit range; false as soon as a step would leave it.
bool integerPower(int64_t base, int64_t exponent, int32_t& out)
{
    int64_t result = 1;
    while (exponent > 0) {
        if (exponent & 1) {
            result *= base;
            if (!fitsInt32(result)) return false;
        }
        exponent >>= 1;
        if (exponent > 0) {
            base *= base;
            if (!fitsInt32(base)) return false;
        }
    }
    out = static_cast<int32_t>(result);
    return true;
}

} // namespace

int32_t integerDivide(int32_t a, int32_t b)
{
    if (b == 0) fail("Division by zero");
    return nonZeroQuotient(a, b);
}

int32_t integerModulo(int32_t a, int32_t b)
{
    if (b == 0) fail("Division by zero");
    return nonZeroRemainder(a, b);
}

float floatDivide(double a, double b)
{
    if (b == 0.0) fail("Division by zero");
    return roundToFloat(a / b);
}

float floatModulo(double a, double b)
{
    if (b == 0.0) fail("Division by zero");
    // A remainder is exact, so it would expose the low bits of an int beyond 2^24 that no
    // float holds: the operands are taken as floats first, so that 16777217 % 1000.0 agrees
    // with the float 16777217.0 (which is 16777216) % 1000.0.
    const double left = static_cast<float>(a);
    const double right = static_cast<float>(b);
    return roundToFloat(std::fmod(left, right));
}

PowerResult computePower(double base, double exponent, bool integral)
{
    PowerResult result;
    if (integral && exponent >= 0.0) {
        int32_t value = 0;
        if (integerPower(static_cast<int64_t>(base), static_cast<int64_t>(exponent), value)) {
            result.isInt = true;
            result.intValue = value;
            return result;
        }
    }
    const double raised = std::pow(base, exponent);
    if (!std::isfinite(raised)) fail("Invalid exponentiation result");
    if (integral && exponent >= 0.0) {
        const double whole = std::round(raised);
        if (std::fabs(raised - whole) <= 1e-6 && whole >= static_cast<double>(kIntMin) &&
            whole <= static_cast<double>(kIntMax)) {
            result.isInt = true;
            result.intValue = static_cast<int32_t>(whole);
            return result;
        }
    }
    result.floatValue = roundToFloat(raised);
    return result;
}

} // namespace cobalt
