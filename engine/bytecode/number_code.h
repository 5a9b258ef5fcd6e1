#pragma once
// Number code: a loop kernel's expression over ints and floats, compiled from its fast tree
// for an accumulator machine whose names are the kernel's registers. It covers the everyday
// arithmetic of loops (+, -, *, /, \, %, comparisons, negation, array elements by int
// position, lengths, a native builtin of one argument such as math.floor) and computes exactly
// what the flat form computes there. Everything else (a bool, a string or the absent value
// as an operand, a zero divisor, an element outside its array) makes it give up, and the
// caller asks the flat form, which decides those cases the general way.

#include <cstdint>
#include <vector>

#include "engine/bytecode/fast_expression.h"
#include "engine/value/variable.h"

namespace cobalt {

class CobaltScript;

enum class NumberOp : uint8_t {
    Register,  // acc = the register `a`
    Int,       // acc = intValue
    Float,     // acc = floatValue
    Element,   // acc = register a [register b], an array read by an int position
    Index,     // acc = register a [acc]
    Length,    // acc = #register a (an array or a string)
    Push,      // push acc
    Negate,
    CallNative,  // acc = the native builtin in register a, called with acc
    Not,         // acc = whether acc is falsy
    AndJump,     // acc falsy: keep it and go on at step intValue
    OrJump,      // acc truthy: keep it and go on at step intValue
    // acc = left `kind` right; the operand is the popped entry (as the left operand), a
    // literal or a register.
    Popped,
    WithInt,
    WithFloat,
    WithRegister,
};

struct NumberStep {
    NumberOp op = NumberOp::Int;
    FastExprNodeKind kind = FastExprNodeKind::Invalid;
    uint8_t code = 0;  // the op with its operator, so that the machine dispatches once
    int16_t a = -1;
    int16_t b = -1;
    int32_t intValue = 0;
    float floatValue = 0.0f;
};

// The operators of the int code, each with its own step per operand form, so that a step is
// dispatched once (the popped left operand, an int literal, a register).
#define COBALT_INT_CODE_OPERATORS(X) \
    X(Add) X(Subtract) X(Multiply) X(IntDivide) X(Modulo) \
    X(Equal) X(NotEqual) X(Less) X(Greater) X(LessEqual) X(GreaterEqual)

/// The int code: the same expression for operands that are all ints, with the accumulator a
/// plain int. A comparison may only be its last step.
enum class IntOp : uint8_t {
    Register,
    Int,
    Element,
    Index,
    Length,
    Push,
    Negate,
#define COBALT_INT_CODE_STEP(name) name##Popped, name##Int, name##Register,
    COBALT_INT_CODE_OPERATORS(COBALT_INT_CODE_STEP)
#undef COBALT_INT_CODE_STEP
};

struct IntStep {
    IntOp op = IntOp::Int;
    int16_t a = -1;
    int16_t b = -1;
    int32_t intValue = 0;
};

struct NumberCode {
    std::vector<NumberStep> steps;
    // Empty when the expression has steps that ints alone cannot take (floats, "/", calls).
    std::vector<IntStep> intSteps;
    bool intResultIsBool = false;  // the int code ends in a comparison
    bool valid() const { return !steps.empty(); }
};

/// A fast tree as the code compilers read it: its nodes, checked, and the register of each
/// name node.
class RegisterTree {
public:
    RegisterTree(const FastExpression& expression, const std::vector<int16_t>& nodeRegister)
        : m_expression(expression), m_nodeRegister(nodeRegister)
    {
    }

protected:
    /// The node at `index`, or null outside the tree.
    const FastExprNode* at(int32_t index) const
    {
        if (index < 0 || static_cast<size_t>(index) >= m_expression.nodes.size()) return nullptr;
        return &m_expression.nodes[static_cast<size_t>(index)];
    }
    /// The register of the name node at `index`, or -1 when it is no name node.
    int16_t registerOf(int32_t index) const
    {
        const FastExprNode* n = at(index);
        if (n == nullptr || n->kind != FastExprNodeKind::Variable) return -1;
        return m_nodeRegister[static_cast<size_t>(index)];
    }

    const FastExpression& m_expression;
    const std::vector<int16_t>& m_nodeRegister;
};

/// Compiles the tree of `expression`, whose name node i reads register nodeRegister[i]; an
/// empty code when some node is outside what the machine covers.
NumberCode compileNumberCode(const FastExpression& expression, const std::vector<int16_t>& nodeRegister);

/// Runs the int code over `registers` (which it must have): true with the result in `out`,
/// false where it gives up (an operand that is no int, a zero divisor, an element outside its
/// array).
bool runIntCode(const NumberCode& code, Variable* const* registers, FastScalarValue& out);
/// Runs the code over `registers`: true with the result in `out`, false where it gives up.
bool runNumberCode(CobaltScript& engine, const NumberCode& code, Variable* const* registers, FastScalarValue& out);

} // namespace cobalt
