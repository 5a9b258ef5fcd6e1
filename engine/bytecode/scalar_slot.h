#pragma once
// A scalar on the operand stacks of the flat form (fast_flat.cpp) and of the number code
// (number_code.cpp), and the kernels both combine two of them with, so that they decide
// alike: ints under the wrapping kernels, a pair with a float under the double ones.

#include <cstdint>

#include "engine/bytecode/fast_evaluator.h"
#include "engine/eval/arithmetic.h"

namespace cobalt {

// A FastScalarValue without default member initializers, so that a stack of them costs nothing
// to set up. A bool is kept in intValue (0 or 1).
struct ScalarSlot {
    int32_t kind;
    int32_t intValue;
    double floatValue;
};

// Two ints under the operators the int path takes; false for the rest (they go to
// combineScalars) and for a zero divisor.
[[gnu::always_inline]] inline bool combineIntSlots(FastExprNodeKind kind, ScalarSlot& left, int32_t right)
{
    const int32_t a = left.intValue;
    switch (kind) {
    case FastExprNodeKind::Add: left.intValue = wrappingAdd(a, right); return true;
    case FastExprNodeKind::Subtract: left.intValue = wrappingSubtract(a, right); return true;
    case FastExprNodeKind::Multiply: left.intValue = wrappingMultiply(a, right); return true;
    // The zero divisor is left to the tree paths, which fail with "Division by zero".
    case FastExprNodeKind::IntDivide:
        if (right == 0) return false;
        left.intValue = nonZeroQuotient(a, right);
        return true;
    case FastExprNodeKind::Modulo:
        if (right == 0) return false;
        left.intValue = nonZeroRemainder(a, right);
        return true;
    case FastExprNodeKind::Equal: left.intValue = a == right; break;
    case FastExprNodeKind::NotEqual: left.intValue = a != right; break;
    case FastExprNodeKind::Less: left.intValue = a < right; break;
    case FastExprNodeKind::Greater: left.intValue = a > right; break;
    case FastExprNodeKind::LessEqual: left.intValue = a <= right; break;
    case FastExprNodeKind::GreaterEqual: left.intValue = a >= right; break;
    default: return false;
    }
    left.kind = FastScalarValue::Bool;
    return true;
}

// An int or float pair with at least one float under "+", "-", "*", "/" or a comparison, by
// the double kernels of scalarArithmetic and binaryScalar; false for the rest.
[[gnu::always_inline]] inline bool combineNumberSlots(FastExprNodeKind kind, ScalarSlot& left, const ScalarSlot& right)
{
    const double a = left.kind == FastScalarValue::Float ? left.floatValue : static_cast<double>(left.intValue);
    const double b = right.kind == FastScalarValue::Float ? right.floatValue : static_cast<double>(right.intValue);
    switch (kind) {
    case FastExprNodeKind::Add: left.floatValue = roundToFloat(a + b); break;
    case FastExprNodeKind::Subtract: left.floatValue = roundToFloat(a - b); break;
    case FastExprNodeKind::Multiply: left.floatValue = roundToFloat(a * b); break;
    case FastExprNodeKind::Divide:
        if (b == 0.0) return false;
        left.floatValue = floatDivide(a, b);
        break;
    case FastExprNodeKind::Equal:
    case FastExprNodeKind::NotEqual:
        left.intValue = (a == b) == (kind == FastExprNodeKind::Equal);
        left.kind = FastScalarValue::Bool;
        return true;
    case FastExprNodeKind::Less:
    case FastExprNodeKind::Greater:
    case FastExprNodeKind::LessEqual:
    case FastExprNodeKind::GreaterEqual:
        left.intValue = comparisonHolds(kind, (a > b) - (a < b));
        left.kind = FastScalarValue::Bool;
        return true;
    default: return false;
    }
    left.kind = FastScalarValue::Float;
    return true;
}

} // namespace cobalt
