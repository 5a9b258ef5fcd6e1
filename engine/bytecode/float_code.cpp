// Float code (float_code.h): the compiler from a fast tree and the machine.

#include "engine/bytecode/float_code.h"

#include <variant>

#include "engine/bytecode/fast_evaluator.h"
#include "engine/bytecode/number_code.h"
#include "engine/eval/arithmetic.h"

namespace cobalt {

namespace {

/// Deepest stack of pending left operands a code may use.
constexpr int kFloatStackLimit = 16;

bool isArithmetic(FastExprNodeKind kind)
{
    return kind == FastExprNodeKind::Add || kind == FastExprNodeKind::Subtract ||
           kind == FastExprNodeKind::Multiply || kind == FastExprNodeKind::Divide;
}

bool isComparisonNode(FastExprNodeKind kind)
{
    return kind >= FastExprNodeKind::Equal && kind <= FastExprNodeKind::GreaterEqual;
}

/// The step of an arithmetic operator for an operand form (0 popped, 1 constant, 2 register).
FloatOp arithmeticStep(FastExprNodeKind kind, int form)
{
    int base = static_cast<int>(FloatOp::AddPopped);
    if (kind == FastExprNodeKind::Subtract) base = static_cast<int>(FloatOp::SubtractPopped);
    if (kind == FastExprNodeKind::Multiply) base = static_cast<int>(FloatOp::MultiplyPopped);
    if (kind == FastExprNodeKind::Divide) base = static_cast<int>(FloatOp::DividePopped);
    return static_cast<FloatOp>(base + form);
}

class FloatCompiler : RegisterTree {
public:
    using RegisterTree::RegisterTree;

    FloatCode compile()
    {
        FloatCode code;
        const FastExprNode* root = at(m_expression.root);
        if (root == nullptr) return code;
        const bool condition = isCondition(*root);
        if (!(condition ? conditionNode(m_expression.root, 0) : floatTyped(*root) && value(m_expression.root, 0))) {
            return code;
        }
        code.condition = condition;
        code.steps = std::move(m_steps);
        return code;
    }

private:
    static bool isCondition(const FastExprNode& n)
    {
        return isComparisonNode(n.kind) || n.kind == FastExprNodeKind::And || n.kind == FastExprNodeKind::Or ||
               n.kind == FastExprNodeKind::LogicalNot;
    }

    /// Whether the node's value is a float whenever its names hold floats: a name, a float
    /// literal, or arithmetic with a float on one side and a float or an int literal on the
    /// other (two ints would be int arithmetic).
    bool floatTyped(const FastExprNode& n) const
    {
        switch (n.kind) {
        case FastExprNodeKind::Variable:
        case FastExprNodeKind::FloatLiteral: return true;
        case FastExprNodeKind::Negate: {
            const FastExprNode* operand = at(n.left);
            return operand != nullptr && floatTyped(*operand);
        }
        default: break;
        }
        return isArithmetic(n.kind) && operandsFit(n);
    }

    /// Both operands float or an int literal, at least one of them float.
    bool operandsFit(const FastExprNode& n) const
    {
        const FastExprNode* left = at(n.left);
        const FastExprNode* right = at(n.right);
        if (left == nullptr || right == nullptr) return false;
        const bool leftFloat = floatTyped(*left);
        const bool rightFloat = floatTyped(*right);
        return (leftFloat || rightFloat) && (leftFloat || left->kind == FastExprNodeKind::IntLiteral) &&
               (rightFloat || right->kind == FastExprNodeKind::IntLiteral);
    }

    void emit(FloatOp op, int16_t a = -1, double constant = 0.0)
    {
        FloatStep step;
        step.op = op;
        step.a = a;
        step.value = constant;
        m_steps.push_back(step);
    }

    /// Leaves the value of a float-typed node or an int literal in the accumulator.
    bool value(int32_t index, int depth)
    {
        const FastExprNode* n = at(index);
        if (n == nullptr || depth >= kFloatStackLimit) return false;
        switch (n->kind) {
        case FastExprNodeKind::Variable:
            if (registerOf(index) < 0) return false;
            emit(FloatOp::Register, registerOf(index));
            return true;
        case FastExprNodeKind::FloatLiteral: emit(FloatOp::Constant, -1, n->floatValue); return true;
        case FastExprNodeKind::IntLiteral: emit(FloatOp::Constant, -1, n->intValue); return true;
        case FastExprNodeKind::Negate:
            if (!value(n->left, depth)) return false;
            emit(FloatOp::Negate);
            return true;
        default: break;
        }
        if (!isArithmetic(n->kind) || !value(n->left, depth)) return false;
        return rightOperand(*n, depth, arithmeticStep(n->kind, 0));
    }

    /// The right operand of a binary node whose left one is in the accumulator, and the step
    /// `popped` (or its constant or register form) that combines them.
    bool rightOperand(const FastExprNode& n, int depth, FloatOp popped)
    {
        const FastExprNode* right = at(n.right);
        if (right == nullptr) return false;
        const auto form = [popped](int offset) { return static_cast<FloatOp>(static_cast<int>(popped) + offset); };
        switch (right->kind) {
        case FastExprNodeKind::FloatLiteral: emit(form(1), -1, right->floatValue); return true;
        case FastExprNodeKind::IntLiteral: emit(form(1), -1, right->intValue); return true;
        case FastExprNodeKind::Variable:
            if (registerOf(n.right) < 0) return false;
            emit(form(2), registerOf(n.right));
            return true;
        default: break;
        }
        emit(FloatOp::Push);
        if (!value(n.right, depth + 1)) return false;
        emit(popped);
        return true;
    }

    /// Leaves a condition's truth in the flag.
    bool conditionNode(int32_t index, int depth)
    {
        const FastExprNode* n = at(index);
        if (n == nullptr || depth >= kFloatStackLimit) return false;
        if (isComparisonNode(n->kind)) {
            if (!operandsFit(*n) || !value(n->left, depth)) return false;
            if (!rightOperand(*n, depth, FloatOp::ComparePopped)) return false;
            m_steps.back().kind = n->kind;
            return true;
        }
        const FastExprNode* left = at(n->left);
        if (left == nullptr || !isCondition(*left) || !conditionNode(n->left, depth)) return false;
        if (n->kind == FastExprNodeKind::LogicalNot) {
            emit(FloatOp::Not);
            return true;
        }
        if (n->kind != FastExprNodeKind::And && n->kind != FastExprNodeKind::Or) return false;
        const FastExprNode* right = at(n->right);
        if (right == nullptr || !isCondition(*right)) return false;
        const size_t jump = m_steps.size();
        emit(n->kind == FastExprNodeKind::And ? FloatOp::AndJump : FloatOp::OrJump);
        if (!conditionNode(n->right, depth)) return false;
        m_steps[jump].target = static_cast<int32_t>(m_steps.size());
        return true;
    }

    std::vector<FloatStep> m_steps;
};

[[gnu::always_inline]] inline bool loadFloat(const Variable* value, double& out)
{
    if (value == nullptr || value->type != VarType::Float) return false;
    const float* real = std::get_if<float>(&value->value);
    if (real == nullptr) return false;
    out = *real;
    return true;
}

/// A comparison of two numbers, as the number paths decide it.
[[gnu::always_inline]] inline bool compare(FastExprNodeKind kind, double a, double b)
{
    if (kind == FastExprNodeKind::Equal) return a == b;
    if (kind == FastExprNodeKind::NotEqual) return !(a == b);
    return comparisonHolds(kind, (a > b) - (a < b));
}

} // namespace

FloatCode compileFloatCode(const FastExpression& expression, const std::vector<int16_t>& nodeRegister)
{
    if (!expression.valid() || nodeRegister.size() != expression.nodes.size()) return {};
    return FloatCompiler(expression, nodeRegister).compile();
}

bool runFloatCode(const FloatCode& code, Variable* const* registers, FastScalarValue& out)
{
    double stack[kFloatStackLimit];
    int top = 0;
    double acc = 0.0;
    bool flag = false;
    const FloatStep* const first = code.steps.data();
    const FloatStep* const end = first + code.steps.size();
    for (const FloatStep* next = first; next != end;) {
        const FloatStep& step = *next++;
        double right = 0.0;
        switch (step.op) {
        case FloatOp::Register:
            if (!loadFloat(registers[step.a], acc)) return false;
            break;
        case FloatOp::Constant: acc = step.value; break;
        case FloatOp::Push: stack[top++] = acc; break;
        case FloatOp::Negate: acc = -static_cast<float>(acc); break;
        case FloatOp::AddPopped: acc = roundToFloat(stack[--top] + acc); break;
        case FloatOp::AddConstant: acc = roundToFloat(acc + step.value); break;
        case FloatOp::AddRegister:
            if (!loadFloat(registers[step.a], right)) return false;
            acc = roundToFloat(acc + right);
            break;
        case FloatOp::SubtractPopped: acc = roundToFloat(stack[--top] - acc); break;
        case FloatOp::SubtractConstant: acc = roundToFloat(acc - step.value); break;
        case FloatOp::SubtractRegister:
            if (!loadFloat(registers[step.a], right)) return false;
            acc = roundToFloat(acc - right);
            break;
        case FloatOp::MultiplyPopped: acc = roundToFloat(stack[--top] * acc); break;
        case FloatOp::MultiplyConstant: acc = roundToFloat(acc * step.value); break;
        case FloatOp::MultiplyRegister:
            if (!loadFloat(registers[step.a], right)) return false;
            acc = roundToFloat(acc * right);
            break;
        // A zero divisor is left to the general kernels, which fail with "Division by zero".
        case FloatOp::DividePopped: {
            const double left = stack[--top];
            if (acc == 0.0) return false;
            acc = floatDivide(left, acc);
            break;
        }
        case FloatOp::DivideConstant:
            if (step.value == 0.0) return false;
            acc = floatDivide(acc, step.value);
            break;
        case FloatOp::DivideRegister:
            if (!loadFloat(registers[step.a], right) || right == 0.0) return false;
            acc = floatDivide(acc, right);
            break;
        case FloatOp::ComparePopped: {
            const double left = stack[--top];
            flag = compare(step.kind, left, acc);
            break;
        }
        case FloatOp::CompareConstant: flag = compare(step.kind, acc, step.value); break;
        case FloatOp::CompareRegister:
            if (!loadFloat(registers[step.a], right)) return false;
            flag = compare(step.kind, acc, right);
            break;
        case FloatOp::Not: flag = !flag; break;
        case FloatOp::AndJump:
            if (!flag) next = first + step.target;
            break;
        case FloatOp::OrJump:
            if (flag) next = first + step.target;
            break;
        }
    }
    if (code.condition) {
        out.kind = FastScalarValue::Bool;
        out.boolValue = flag;
    } else {
        out.kind = FastScalarValue::Float;
        out.floatValue = acc;
    }
    return true;
}

} // namespace cobalt
