#pragma once
// The numeric kernels of the arithmetic operators. Every path that computes script
// arithmetic (the token evaluator, compound assignment, the fast expressions and the
// bytecode interpreter) goes through these, so results agree bit for bit:
// - ints are signed 32-bit and wrap, computed in unsigned arithmetic;
// - a float operation is computed on the operands widened to double and rounded to single
//   precision once, at the end of the operation;
// - no conversion leaves the range of its target type.

#include <cstdint>

namespace cobalt {

inline int32_t wrappingAdd(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

inline int32_t wrappingSubtract(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

inline int32_t wrappingMultiply(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

/// The negative of the smallest int is itself.
inline int32_t wrappingNegate(int32_t a)
{
    return static_cast<int32_t>(0u - static_cast<uint32_t>(a));
}

/// Truncating division by a divisor that is not 0; the smallest int divided by -1 is itself.
inline int32_t nonZeroQuotient(int32_t a, int32_t b)
{
    return b == -1 ? wrappingNegate(a) : a / b;
}

/// Remainder with the sign of the left operand, by a divisor that is not 0; x % -1 is 0.
inline int32_t nonZeroRemainder(int32_t a, int32_t b)
{
    return b == -1 ? 0 : a % b;
}

/// Truncating division; fails with "Division by zero"; the smallest int divided by -1 is itself.
int32_t integerDivide(int32_t a, int32_t b);
/// Remainder with the sign of the left operand; fails with "Division by zero"; x % -1 is 0.
int32_t integerModulo(int32_t a, int32_t b);

/// The single-precision result of a float operation computed in double.
inline float roundToFloat(double value)
{
    return static_cast<float>(value);
}

/// Float quotient; fails with "Division by zero" when the divisor is 0.
float floatDivide(double a, double b);
/// Float remainder with the sign of the left operand, of both operands rounded to single
/// precision first; fails with "Division by zero" only when the divisor is exactly zero.
float floatModulo(double a, double b);

/// Result of "^": an int or a float.
struct PowerResult {
    bool isInt = false;
    int32_t intValue = 0;
    float floatValue = 0.0f;
};

/// base ^ exponent. `integral` is true when neither operand is a float (the values are then
/// whole numbers in the int32 range). Fails with "Invalid exponentiation result" when the
/// result is not finite.
PowerResult computePower(double base, double exponent, bool integral);

} // namespace cobalt
