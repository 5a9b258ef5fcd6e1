#pragma once
// Float code: a loop kernel's expression whose names all hold floats, compiled for a machine
// whose accumulator is a plain double (each result rounded to single precision, as every float
// operation is). It covers +, -, *, / over float names, float literals and ints paired with a
// float, negation, and conditions made of comparisons joined by `and`, `or` and `not`. A name
// that holds no float, or a zero divisor, makes it give up; the number code decides those.

#include <cstdint>
#include <vector>

#include "engine/bytecode/fast_expression.h"
#include "engine/value/variable.h"

namespace cobalt {

enum class FloatOp : uint8_t {
    Register,  // acc = the float in register `a`
    Constant,  // acc = value
    Push,      // push acc
    Negate,
    // acc = left `op` right, the operand being the popped entry (as the left one), a constant
    // or a register.
    AddPopped, AddConstant, AddRegister,
    SubtractPopped, SubtractConstant, SubtractRegister,
    MultiplyPopped, MultiplyConstant, MultiplyRegister,
    DividePopped, DivideConstant, DivideRegister,
    // flag = left `kind` right, with the same operand forms.
    ComparePopped, CompareConstant, CompareRegister,
    Not,      // flag = not flag
    AndJump,  // flag false: go on at step `target` (the result is false)
    OrJump,   // flag true: go on at step `target` (the result is true)
};

struct FloatStep {
    FloatOp op = FloatOp::Constant;
    FastExprNodeKind kind = FastExprNodeKind::Invalid;  // the comparison's
    int16_t a = -1;
    int32_t target = 0;
    double value = 0.0;
};

struct FloatCode {
    std::vector<FloatStep> steps;
    bool condition = false;  // the result is a comparison's truth rather than a float
    bool valid() const { return !steps.empty(); }
};

/// Compiles the tree of `expression`, whose name node i reads register nodeRegister[i]; an
/// empty code when the tree is no float arithmetic or condition.
FloatCode compileFloatCode(const FastExpression& expression, const std::vector<int16_t>& nodeRegister);

/// Runs the code over `registers`: true with the result in `out`, false where it gives up.
bool runFloatCode(const FloatCode& code, Variable* const* registers, FastScalarValue& out);

} // namespace cobalt
