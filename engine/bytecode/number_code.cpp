// Number code (number_code.h): the compiler from a fast tree and the accumulator machine.

#include "engine/bytecode/number_code.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <new>
#include <variant>

#include "engine/bytecode/fast_evaluator.h"
#include "engine/bytecode/scalar_slot.h"
#include "engine/eval/arithmetic.h"

namespace cobalt {

namespace {

/// Deepest stack of pending left operands a code may use.
constexpr int kNumberStackLimit = 16;

bool isBinaryOperator(FastExprNodeKind kind)
{
    switch (kind) {
    case FastExprNodeKind::Add:
    case FastExprNodeKind::Subtract:
    case FastExprNodeKind::Multiply:
    case FastExprNodeKind::Divide:
    case FastExprNodeKind::IntDivide:
    case FastExprNodeKind::Modulo:
    case FastExprNodeKind::Equal:
    case FastExprNodeKind::NotEqual:
    case FastExprNodeKind::Less:
    case FastExprNodeKind::Greater:
    case FastExprNodeKind::LessEqual:
    case FastExprNodeKind::GreaterEqual: return true;
    default: return false;
    }
}

// The operators of the number machine, in the order of their step codes.
#define COBALT_NUMBER_CODE_OPERATORS(X) \
    X(Add) X(Subtract) X(Multiply) X(Divide) X(IntDivide) X(Modulo) \
    X(Equal) X(NotEqual) X(Less) X(Greater) X(LessEqual) X(GreaterEqual)

constexpr uint8_t operatorIndex(FastExprNodeKind kind)
{
    uint8_t index = 0;
#define COBALT_NUMBER_CODE_INDEX(name)              \
    if (kind == FastExprNodeKind::name) return index; \
    ++index;
    COBALT_NUMBER_CODE_OPERATORS(COBALT_NUMBER_CODE_INDEX)
#undef COBALT_NUMBER_CODE_INDEX
    return index;
}

/// The step code of an op and its operator: the ops without one first, then four codes (one
/// per operand form) per operator.
constexpr uint8_t stepCode(NumberOp op, FastExprNodeKind kind)
{
    constexpr auto firstBinary = static_cast<uint8_t>(NumberOp::Popped);
    const auto index = static_cast<uint8_t>(op);
    if (index < firstBinary) return index;
    return static_cast<uint8_t>(firstBinary + operatorIndex(kind) * 4 + (index - firstBinary));
}

class NumberCompiler : RegisterTree {
public:
    using RegisterTree::RegisterTree;

    NumberCode compile()
    {
        NumberCode code;
        if (!node(m_expression.root, 0)) return code;
        for (NumberStep& step : m_steps) step.code = stepCode(step.op, step.kind);
        code.steps = std::move(m_steps);
        return code;
    }

private:
    void emit(NumberOp op, FastExprNodeKind kind = FastExprNodeKind::Invalid, int16_t a = -1, int16_t b = -1)
    {
        NumberStep step;
        step.op = op;
        step.kind = kind;
        step.a = a;
        step.b = b;
        m_steps.push_back(step);
    }

    /// Leaves the node's value in the accumulator; `depth` entries are pushed below it.
    bool node(int32_t index, int depth)
    {
        const FastExprNode* n = at(index);
        if (n == nullptr || depth >= kNumberStackLimit) return false;
        switch (n->kind) {
        case FastExprNodeKind::IntLiteral:
            emit(NumberOp::Int);
            m_steps.back().intValue = n->intValue;
            return true;
        case FastExprNodeKind::FloatLiteral:
            emit(NumberOp::Float);
            m_steps.back().floatValue = n->floatValue;
            return true;
        case FastExprNodeKind::Variable: {
            const int16_t reg = registerOf(index);
            if (reg < 0) return false;
            emit(NumberOp::Register, FastExprNodeKind::Invalid, reg);
            return true;
        }
        case FastExprNodeKind::Index: {
            const int16_t container = registerOf(n->left);
            if (container < 0) return false;
            if (const int16_t key = registerOf(n->right); key >= 0) {
                emit(NumberOp::Element, FastExprNodeKind::Invalid, container, key);
                return true;
            }
            if (!node(n->right, depth)) return false;
            emit(NumberOp::Index, FastExprNodeKind::Invalid, container);
            return true;
        }
        case FastExprNodeKind::Length: {
            const int16_t reg = registerOf(n->left);
            if (reg < 0) return false;
            emit(NumberOp::Length, FastExprNodeKind::Invalid, reg);
            return true;
        }
        case FastExprNodeKind::Negate:
            if (!node(n->left, depth)) return false;
            emit(NumberOp::Negate);
            return true;
        case FastExprNodeKind::Call: return call(*n, depth);
        case FastExprNodeKind::LogicalNot:
            if (!node(n->left, depth)) return false;
            emit(NumberOp::Not);
            return true;
        case FastExprNodeKind::And:
        case FastExprNodeKind::Or: {
            // The left operand decides or gives way to the right one, as the scalar path does.
            if (!node(n->left, depth)) return false;
            const size_t jump = m_steps.size();
            emit(n->kind == FastExprNodeKind::And ? NumberOp::AndJump : NumberOp::OrJump);
            if (!node(n->right, depth)) return false;
            m_steps[jump].intValue = static_cast<int32_t>(m_steps.size());
            return true;
        }
        default: break;
        }
        if (!isBinaryOperator(n->kind) || !node(n->left, depth)) return false;
        const FastExprNode* right = at(n->right);
        if (right == nullptr) return false;
        switch (right->kind) {
        case FastExprNodeKind::IntLiteral:
            emit(NumberOp::WithInt, n->kind);
            m_steps.back().intValue = right->intValue;
            return true;
        case FastExprNodeKind::FloatLiteral:
            emit(NumberOp::WithFloat, n->kind);
            m_steps.back().floatValue = right->floatValue;
            return true;
        case FastExprNodeKind::Variable:
            emit(NumberOp::WithRegister, n->kind, registerOf(n->right));
            return m_steps.back().a >= 0;
        default: break;
        }
        emit(NumberOp::Push);
        if (!node(n->right, depth + 1)) return false;
        emit(NumberOp::Popped, n->kind);
        return true;
    }

    /// name(argument) with a name for the callee and one argument that calls nothing.
    bool call(const FastExprNode& n, int depth)
    {
        if (n.intValue < 0 || static_cast<size_t>(n.intValue) >= m_expression.calls.size()) return false;
        const FastCallExpression& call = m_expression.calls[static_cast<size_t>(n.intValue)];
        const int16_t callee = registerOf(call.callee);
        if (callee < 0 || call.arguments.size() != 1) return false;
        const FastExprNode* argument = at(call.arguments.front());
        if (argument == nullptr || argument->hasCall || !node(call.arguments.front(), depth)) return false;
        emit(NumberOp::CallNative, FastExprNodeKind::Invalid, callee);
        return true;
    }

    std::vector<NumberStep> m_steps;
};

bool yieldsBool(FastExprNodeKind kind)
{
    return kind >= FastExprNodeKind::Equal && kind <= FastExprNodeKind::GreaterEqual;
}

/// The int step of operator `kind` with the operand form of `op` (Popped, WithInt or
/// WithRegister); false for the operators the int code lacks.
bool intOperatorStep(FastExprNodeKind kind, NumberOp op, IntOp& out)
{
    const int form = op == NumberOp::Popped ? 0 : op == NumberOp::WithInt ? 1 : 2;
    switch (kind) {
#define COBALT_INT_CODE_KIND(name)                                                     \
    case FastExprNodeKind::name:                                                       \
        out = static_cast<IntOp>(static_cast<uint8_t>(IntOp::name##Popped) + form);    \
        return true;
        COBALT_INT_CODE_OPERATORS(COBALT_INT_CODE_KIND)
#undef COBALT_INT_CODE_KIND
    default: return false;
    }
}

/// The int code of `steps`, or none when some step needs more than ints.
std::vector<IntStep> intCodeOf(const std::vector<NumberStep>& steps, bool& resultIsBool)
{
    std::vector<IntStep> code;
    resultIsBool = false;
    for (size_t i = 0; i < steps.size(); ++i) {
        const NumberStep& step = steps[i];
        IntStep converted;
        converted.a = step.a;
        converted.b = step.b;
        converted.intValue = step.intValue;
        switch (step.op) {
        case NumberOp::Register: converted.op = IntOp::Register; break;
        case NumberOp::Int: converted.op = IntOp::Int; break;
        case NumberOp::Element: converted.op = IntOp::Element; break;
        case NumberOp::Index: converted.op = IntOp::Index; break;
        case NumberOp::Length: converted.op = IntOp::Length; break;
        case NumberOp::Push: converted.op = IntOp::Push; break;
        case NumberOp::Negate: converted.op = IntOp::Negate; break;
        case NumberOp::Popped:
        case NumberOp::WithInt:
        case NumberOp::WithRegister:
            if (!intOperatorStep(step.kind, step.op, converted.op)) return {};
            // A comparison's bool is no int: only the last step may make one.
            if (yieldsBool(step.kind)) {
                if (i + 1 != steps.size()) return {};
                resultIsBool = true;
            }
            break;
        case NumberOp::Float:
        case NumberOp::WithFloat:
        case NumberOp::CallNative:
        case NumberOp::Not:
        case NumberOp::AndJump:
        case NumberOp::OrJump: return {};
        }
        code.push_back(converted);
    }
    return code;
}

[[gnu::always_inline]] inline bool loadInt(const Variable* value, int32_t& out)
{
    if (value == nullptr || value->type != VarType::Int) return false;
    const int32_t* whole = std::get_if<int32_t>(&value->value);
    if (whole == nullptr) return false;
    out = *whole;
    return true;
}

/// The items of an array value, or null.
[[gnu::always_inline]] inline const std::vector<Variable>* arrayItems(const Variable* container)
{
    if (container == nullptr || container->type != VarType::Array) return nullptr;
    const ArrayRef* array = std::get_if<ArrayRef>(&container->value);
    return array != nullptr && *array ? &(*array)->items : nullptr;
}

[[gnu::always_inline]] inline bool intElement(const Variable* container, int32_t position, int32_t& out)
{
    const std::vector<Variable>* items = arrayItems(container);
    if (items == nullptr || position < 1 || static_cast<size_t>(position) > items->size()) return false;
    return loadInt(&(*items)[static_cast<size_t>(position) - 1], out);
}

/// The length of an array or a string, as #name gives it.
bool lengthOf(const Variable* value, int32_t& out)
{
    if (value == nullptr) return false;
    constexpr size_t kMax = static_cast<size_t>(std::numeric_limits<int32_t>::max());
    size_t length = 0;
    if (const std::vector<Variable>* items = arrayItems(value)) {
        length = items->size();
    } else if (const std::string* text = std::get_if<std::string>(&value->value);
               text != nullptr && value->type == VarType::String) {
        length = text->size();
    } else {
        return false;
    }
    out = static_cast<int32_t>(std::min(length, kMax));
    return true;
}

/// Two ints under `kKind`, as the flat form's int kernel combines them (a comparison gives 0
/// or 1); false for a zero divisor and for the operators it leaves to others.
template <FastExprNodeKind kKind>
[[gnu::always_inline]] inline bool combineInts(int32_t& left, int32_t right)
{
    ScalarSlot slot{FastScalarValue::Int, left, 0.0};
    if (!combineIntSlots(kKind, slot, right)) return false;
    left = slot.intValue;
    return true;
}

} // namespace

bool runIntCode(const NumberCode& code, Variable* const* registers, FastScalarValue& out)
{
    int32_t stack[kNumberStackLimit];
    int top = 0;
    int32_t acc = 0;
    for (const IntStep& step : code.intSteps) {
        switch (step.op) {
        case IntOp::Register:
            if (!loadInt(registers[step.a], acc)) return false;
            break;
        case IntOp::Int: acc = step.intValue; break;
        case IntOp::Element: {
            int32_t position = 0;
            if (!loadInt(registers[step.b], position) || !intElement(registers[step.a], position, acc)) return false;
            break;
        }
        case IntOp::Index:
            if (!intElement(registers[step.a], acc, acc)) return false;
            break;
        case IntOp::Length:
            if (!lengthOf(registers[step.a], acc)) return false;
            break;
        case IntOp::Push: stack[top++] = acc; break;
        case IntOp::Negate: acc = wrappingNegate(acc); break;
#define COBALT_INT_CODE_CASES(name)                                                               \
    case IntOp::name##Popped: {                                                                   \
        int32_t left = stack[--top];                                                              \
        if (!combineInts<FastExprNodeKind::name>(left, acc)) return false;                        \
        acc = left;                                                                               \
        break;                                                                                    \
    }                                                                                             \
    case IntOp::name##Int:                                                                        \
        if (!combineInts<FastExprNodeKind::name>(acc, step.intValue)) return false;               \
        break;                                                                                    \
    case IntOp::name##Register: {                                                                 \
        int32_t right = 0;                                                                        \
        if (!loadInt(registers[step.a], right) || !combineInts<FastExprNodeKind::name>(acc, right)) \
            return false;                                                                         \
        break;                                                                                    \
    }
            COBALT_INT_CODE_OPERATORS(COBALT_INT_CODE_CASES)
#undef COBALT_INT_CODE_CASES
        }
    }
    if (code.intResultIsBool) {
        out.kind = FastScalarValue::Bool;
        out.boolValue = acc != 0;
    } else {
        out.kind = FastScalarValue::Int;
        out.intValue = acc;
    }
    return true;
}

namespace {

/// A number of the machine: an int, a float (kept widened, as the flat form keeps it) or a
/// bool (a comparison's result).
using Number = ScalarSlot;

[[gnu::always_inline]] inline bool load(const Variable* value, Number& out)
{
    if (value == nullptr) return false;
    if (value->type == VarType::Int) {
        if (const int32_t* whole = std::get_if<int32_t>(&value->value)) {
            out.kind = FastScalarValue::Int;
            out.intValue = *whole;
            return true;
        }
        return false;
    }
    if (value->type == VarType::Float) {
        if (const float* real = std::get_if<float>(&value->value)) {
            out.kind = FastScalarValue::Float;
            out.floatValue = *real;
            return true;
        }
    }
    return false;
}

[[gnu::always_inline]] inline bool element(const Variable* container, int32_t position, Number& out)
{
    const std::vector<Variable>* items = arrayItems(container);
    if (items == nullptr || position < 1 || static_cast<size_t>(position) > items->size()) return false;
    return load(&(*items)[static_cast<size_t>(position) - 1], out);
}

/// Only false is false among the machine's numbers.
bool truthy(const Number& number)
{
    return number.kind != FastScalarValue::Bool || number.intValue != 0;
}

/// left `kind` right into `left`, as the flat form combines two ints or two numbers; false for
/// bools and where the flat form would go on to the general kernels (a zero divisor, / of two
/// ints, \ or % of a float).
template <FastExprNodeKind kind>
[[gnu::always_inline]] inline bool combine(Number& left, const Number& right)
{
    if (left.kind == FastScalarValue::Int && right.kind == FastScalarValue::Int) {
        return combineIntSlots(kind, left, right.intValue);
    }
    if (left.kind == FastScalarValue::Bool || right.kind == FastScalarValue::Bool) return false;
    return combineNumberSlots(kind, left, right);
}

/// A native builtin with a scalar form, called as the flat form's call step calls it.
[[gnu::noinline]] bool callNative(CobaltScript& engine, const Variable* callee, Number& acc)
{
    if (callee == nullptr || callee->type != VarType::Function) return false;
    const CallableRef& function = callee->asCallable();
    if (!function || !function->isNative || !builtinHasScalarForm(function->builtinId)) return false;
    if (engine.calls.callDepth >= kFastCallDepthLimit || acc.kind == FastScalarValue::Bool) return false;
    Variable argument = acc.kind == FastScalarValue::Int ? Variable(acc.intValue)
                                                         : Variable(static_cast<float>(acc.floatValue));
    FastScalarValue result;
    try {
        engine.checkNativeStack();
        if (!engine.tryEvaluateNativeBuiltinScalar(function->builtinId, &argument, 1, result)) return false;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
    switch (result.kind) {
    case FastScalarValue::Int: acc = Number{FastScalarValue::Int, result.intValue, 0.0}; return true;
    case FastScalarValue::Float: acc = Number{FastScalarValue::Float, 0, result.floatValue}; return true;
    default: return false;
    }
}

} // namespace

NumberCode compileNumberCode(const FastExpression& expression, const std::vector<int16_t>& nodeRegister)
{
    if (!expression.valid() || nodeRegister.size() != expression.nodes.size()) return {};
    NumberCode code = NumberCompiler(expression, nodeRegister).compile();
    code.intSteps = intCodeOf(code.steps, code.intResultIsBool);
    return code;
}

// GCC's SLP vectorisation would pack the accumulator's kind and int into a vector register and
// unpack them again on every step.
#if defined(__GNUC__) && !defined(__clang__)
#define COBALT_KEEP_SCALAR [[gnu::optimize("no-tree-slp-vectorize")]]
#else
#define COBALT_KEEP_SCALAR
#endif

COBALT_KEEP_SCALAR bool runNumberCode(CobaltScript& engine, const NumberCode& code, Variable* const* registers,
                                      FastScalarValue& out)
{
    Number stack[kNumberStackLimit];
    int top = 0;
    Number acc{FastScalarValue::Int, 0, 0.0};
    const NumberStep* const first = code.steps.data();
    const NumberStep* const end = first + code.steps.size();
    for (const NumberStep* next = first; next != end;) {
        const NumberStep& step = *next++;
        switch (step.code) {
        case stepCode(NumberOp::Not, FastExprNodeKind::Invalid):
            acc = Number{FastScalarValue::Bool, truthy(acc) ? 0 : 1, 0.0};
            break;
        case stepCode(NumberOp::AndJump, FastExprNodeKind::Invalid):
            if (!truthy(acc)) next = first + step.intValue;
            break;
        case stepCode(NumberOp::OrJump, FastExprNodeKind::Invalid):
            if (truthy(acc)) next = first + step.intValue;
            break;
        case stepCode(NumberOp::Register, FastExprNodeKind::Invalid):
            if (!load(registers[step.a], acc)) return false;
            break;
        case stepCode(NumberOp::Int, FastExprNodeKind::Invalid):
            acc = Number{FastScalarValue::Int, step.intValue, 0.0};
            break;
        case stepCode(NumberOp::Float, FastExprNodeKind::Invalid):
            acc = Number{FastScalarValue::Float, 0, step.floatValue};
            break;
        case stepCode(NumberOp::Element, FastExprNodeKind::Invalid): {
            const Variable* key = registers[step.b];
            if (key == nullptr || key->type != VarType::Int) return false;
            const int32_t* position = std::get_if<int32_t>(&key->value);
            if (position == nullptr || !element(registers[step.a], *position, acc)) return false;
            break;
        }
        case stepCode(NumberOp::Index, FastExprNodeKind::Invalid):
            if (acc.kind != FastScalarValue::Int || !element(registers[step.a], acc.intValue, acc)) return false;
            break;
        case stepCode(NumberOp::Length, FastExprNodeKind::Invalid): {
            int32_t length = 0;
            if (!lengthOf(registers[step.a], length)) return false;
            acc = Number{FastScalarValue::Int, length, 0.0};
            break;
        }
        case stepCode(NumberOp::Push, FastExprNodeKind::Invalid): stack[top++] = acc; break;
        case stepCode(NumberOp::Negate, FastExprNodeKind::Invalid):
            if (acc.kind == FastScalarValue::Int) {
                acc.intValue = wrappingNegate(acc.intValue);
            } else if (acc.kind == FastScalarValue::Float) {
                acc.floatValue = -static_cast<float>(acc.floatValue);
            } else {
                return false;
            }
            break;
        case stepCode(NumberOp::CallNative, FastExprNodeKind::Invalid): {
            // Through a copy, so that the accumulator's address never escapes to the call.
            Number result = acc;
            if (!callNative(engine, registers[step.a], result)) return false;
            acc = result;
            break;
        }
            // A comparison's bool is only ever the result: combine() takes no bool operand.
#define COBALT_NUMBER_CODE_CASES(name)                                                         \
    case stepCode(NumberOp::Popped, FastExprNodeKind::name): {                                 \
        Number left = stack[--top];                                                            \
        if (!combine<FastExprNodeKind::name>(left, acc)) return false;                         \
        acc = left;                                                                            \
        break;                                                                                 \
    }                                                                                          \
    case stepCode(NumberOp::WithInt, FastExprNodeKind::name):                                  \
        if (!combine<FastExprNodeKind::name>(acc, Number{FastScalarValue::Int, step.intValue, 0.0})) return false; \
        break;                                                                                 \
    case stepCode(NumberOp::WithFloat, FastExprNodeKind::name):                                \
        if (!combine<FastExprNodeKind::name>(acc, Number{FastScalarValue::Float, 0, step.floatValue})) return false; \
        break;                                                                                 \
    case stepCode(NumberOp::WithRegister, FastExprNodeKind::name): {                           \
        Number right{FastScalarValue::Int, 0, 0.0};                                            \
        if (!load(registers[step.a], right) || !combine<FastExprNodeKind::name>(acc, right)) return false; \
        break;                                                                                 \
    }
            COBALT_NUMBER_CODE_OPERATORS(COBALT_NUMBER_CODE_CASES)
#undef COBALT_NUMBER_CODE_CASES
        default: return false;
        }
    }
    out.kind = acc.kind;
    switch (acc.kind) {
    case FastScalarValue::Int: out.intValue = acc.intValue; break;
    case FastScalarValue::Float: out.floatValue = acc.floatValue; break;
    default: out.boolValue = acc.intValue != 0; break;
    }
    return true;
}

} // namespace cobalt
