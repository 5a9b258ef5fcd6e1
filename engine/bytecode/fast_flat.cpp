// The scalar path over a tree's flat form (fast_expression.h): one loop over post-order
// steps with an operand stack of scalars on the native stack. Each step decides what the
// tree walker's node decides (fast_scalar.cpp: scalarNode, readScalar, binaryScalar) and gives
// up where it gives up, so the caller can fall back to the tree paths with nothing changed.
// Ints and floats under the everyday operators are combined here directly; everything else
// goes through the walker's own kernels.

#include <cmath>
#include <variant>

#include "engine/bytecode/fast_evaluator.h"
#include "engine/bytecode/scalar_slot.h"
#include "engine/eval/arithmetic.h"

namespace cobalt {

namespace {

const Variable kAbsent;
// Marks a shared name slot not read yet in this evaluation.
const Variable kUnread;

FastScalarValue toScalar(const ScalarSlot& slot)
{
    FastScalarValue scalar;
    scalar.kind = slot.kind;
    if (slot.kind == FastScalarValue::Int) scalar.intValue = slot.intValue;
    if (slot.kind == FastScalarValue::Float) scalar.floatValue = slot.floatValue;
    if (slot.kind == FastScalarValue::Bool) scalar.boolValue = slot.intValue != 0;
    return scalar;
}

void fromScalar(const FastScalarValue& scalar, ScalarSlot& slot)
{
    slot.kind = scalar.kind;
    slot.intValue = scalar.kind == FastScalarValue::Bool ? (scalar.boolValue ? 1 : 0) : scalar.intValue;
    slot.floatValue = scalar.floatValue;
}

// The scalar of an absent, int, float or bool value; false for every other kind.
bool slotFromVariable(const Variable& value, ScalarSlot& slot)
{
    switch (value.type) {
    case VarType::Not: slot.kind = FastScalarValue::Empty; return true;
    case VarType::Int:
        slot.kind = FastScalarValue::Int;
        slot.intValue = value.asInt();
        return true;
    case VarType::Float:
        slot.kind = FastScalarValue::Float;
        slot.floatValue = value.asFloat();
        return true;
    case VarType::Bool:
        slot.kind = FastScalarValue::Bool;
        slot.intValue = value.asBool() ? 1 : 0;
        return true;
    default: return false;
    }
}

// The element of an array at an int position, as tryFastScalarFromIndexedValue reads it: the
// absent value outside the array, false for an element that is no scalar.
bool arrayElementSlot(const Variable& array, int32_t position, ScalarSlot& slot)
{
    const std::vector<Variable>& items = array.asArray()->items;
    if (position < 1 || static_cast<size_t>(position) > items.size()) {
        slot.kind = FastScalarValue::Empty;
        return true;
    }
    return slotFromVariable(items[static_cast<size_t>(position) - 1], slot);
}

bool slotTruthy(const ScalarSlot& slot)
{
    if (slot.kind == FastScalarValue::Empty) return false;
    return slot.kind != FastScalarValue::Bool || slot.intValue != 0;
}

bool isNumberSlot(const ScalarSlot& slot)
{
    return slot.kind == FastScalarValue::Int || slot.kind == FastScalarValue::Float;
}

// `left` combined with `right` by `kind` into `left`; false where the scalar path gives up.
inline bool combineSlots(FastExprNodeKind kind, ScalarSlot& left, const ScalarSlot& right)
{
    if (left.kind == FastScalarValue::Int && right.kind == FastScalarValue::Int) {
        if (combineIntSlots(kind, left, right.intValue)) return true;
    } else if (isNumberSlot(left) && isNumberSlot(right)) {
        if (combineNumberSlots(kind, left, right)) return true;
    }
    FastScalarValue result;
    if (!combineScalars(kind, toScalar(left), toScalar(right), result)) return false;
    fromScalar(result, left);
    return true;
}

// combineSlots for one operator known at compile time: the int case without a dispatch.
template <FastExprNodeKind kKind>
[[gnu::always_inline]] inline bool combineSlotsAs(ScalarSlot& left, const ScalarSlot& right)
{
    if (left.kind == FastScalarValue::Int && right.kind == FastScalarValue::Int &&
        combineIntSlots(kKind, left, right.intValue)) {
        return true;
    }
    return combineSlots(kKind, left, right);
}

template <FastExprNodeKind kKind>
[[gnu::always_inline]] inline bool combineWithInt(ScalarSlot& left, int32_t right)
{
    if (left.kind == FastScalarValue::Int && combineIntSlots(kKind, left, right)) return true;
    return combineSlots(kKind, left, ScalarSlot{FastScalarValue::Int, right, 0.0});
}

template <FastExprNodeKind kKind>
[[gnu::always_inline]] inline bool combineWithVariable(ScalarSlot& left, const Variable* found)
{
    const Variable& right = found ? *found : kAbsent;
    const int32_t* whole = right.type == VarType::Int ? std::get_if<int32_t>(&right.value) : nullptr;
    if (whole != nullptr && left.kind == FastScalarValue::Int && combineIntSlots(kKind, left, *whole)) return true;
    ScalarSlot slot{};
    return slotFromVariable(right, slot) && combineSlots(kKind, left, slot);
}

} // namespace

// The names of an ordinary evaluation: each looked up through its token's cache, a name read
// more than once at its first read only (see shareNameReads). Calls go to the scalar path.
class FastEvaluator::LookedUpNames {
public:
    explicit LookedUpNames(FastEvaluator& evaluator) : m_evaluator(evaluator)
    {
        for (uint8_t i = 0; i < evaluator.m_expression.flatNameSlots; ++i) m_names[i] = &kUnread;
    }
    const Variable* operator()(const FastExprNode& variable)
    {
        const int8_t slot = variable.flatNameSlot;
        if (slot < 0) return m_evaluator.lookUp(variable);
        const Variable*& shared = m_names[static_cast<uint8_t>(slot)];
        if (shared == &kUnread) shared = m_evaluator.lookUp(variable);
        return shared;
    }
    bool call(const FastExprNode& n, FastScalarValue& result) { return m_evaluator.callScalar(n, result); }

private:
    FastEvaluator& m_evaluator;
    const Variable* m_names[kFastFlatNameSlots];
};

// The names of a loop kernel's evaluation, resolved before it: name node i reads
// registers[nodeRegister[i]]. Only the native builtins with a scalar form may be called, so
// that nothing runs that could move a resolved variable.
class FastEvaluator::ResolvedNames {
public:
    ResolvedNames(FastEvaluator& evaluator, Variable* const* registers, const int16_t* nodeRegister)
        : m_evaluator(evaluator), m_registers(registers), m_nodeRegister(nodeRegister)
    {
    }
    const Variable* operator()(const FastExprNode& variable) const
    {
        return m_registers[m_nodeRegister[&variable - m_evaluator.m_nodes]];
    }
    bool call(const FastExprNode& n, FastScalarValue& result)
    {
        const FastExpression& expression = m_evaluator.m_expression;
        if (n.intValue < 0 || static_cast<size_t>(n.intValue) >= expression.calls.size()) return false;
        const FastExprNode& callee = m_evaluator.node(expression.calls[static_cast<size_t>(n.intValue)].callee);
        if (callee.kind != FastExprNodeKind::Variable) return false;
        return m_evaluator.nativeCallScalar(n, (*this)(callee), result);
    }

private:
    FastEvaluator& m_evaluator;
    Variable* const* m_registers;
    const int16_t* m_nodeRegister;
};

template <class Names>
[[gnu::always_inline]] inline bool FastEvaluator::flatSteps(Names& read, FastScalarValue& out)
{
    const std::vector<FastFlatStep>& steps = m_expression.flat;
    // The flattener bounds the depth by kFastFlatStackLimit and checks every node index. The
    // first entry stays unused, so that `top` (the topmost entry) starts at a valid address.
    ScalarSlot stack[kFastFlatStackLimit + 1];
    ScalarSlot* top = stack;
    // The flattener ends every form with a Return step.
    for (const FastFlatStep* next = steps.data();;) {
        const FastFlatStep& step = *next++;
        switch (step.op) {
        case FastFlatOp::Int:
            ++top;
            top->kind = FastScalarValue::Int;
            top->intValue = step.intValue;
            break;
        case FastFlatOp::Float:
            ++top;
            top->kind = FastScalarValue::Float;
            top->floatValue = step.floatValue;
            break;
        case FastFlatOp::Bool:
            ++top;
            top->kind = FastScalarValue::Bool;
            top->intValue = step.intValue;
            break;
        case FastFlatOp::Empty:
            ++top;
            top->kind = FastScalarValue::Empty;
            break;
        case FastFlatOp::Variable: {
            const Variable* found = read(m_nodes[step.node]);
            ++top;
            const int32_t* whole = found != nullptr && found->type == VarType::Int ? std::get_if<int32_t>(&found->value)
                                                                                    : nullptr;
            if (whole != nullptr) {
                top->kind = FastScalarValue::Int;
                top->intValue = *whole;
            } else if (!slotFromVariable(found ? *found : kAbsent, *top)) {
                return false;
            }
            break;
        }
        case FastFlatOp::Field: {
            const FastExprNode& n = m_nodes[step.node];
            const Variable* container = read(m_nodes[n.left]);
            const Variable* field = nullptr;
            // Any container but a table takes the tree path (which builds the key's text).
            if (container == nullptr || !literalField(*container, m_nodes[n.right], field)) return false;
            if (!slotFromVariable(field ? *field : kAbsent, *++top)) return false;
            break;
        }
        case FastFlatOp::IndexByName: {
            const FastExprNode& n = m_nodes[step.node];
            const Variable* container = read(m_nodes[n.left]);
            const Variable* key = read(m_nodes[n.right]);
            if (container != nullptr && key != nullptr && container->type == VarType::Array &&
                key->type == VarType::Int) {
                if (!arrayElementSlot(*container, key->asInt(), *++top)) return false;
                break;
            }
            FastScalarValue element;
            if (!m_engine.tryFastScalarFromIndexedValue(container ? *container : kAbsent, key ? *key : kAbsent,
                                                        element)) {
                return false;
            }
            fromScalar(element, *++top);
            break;
        }
        case FastFlatOp::Index: {
            const FastExprNode& n = m_nodes[step.node];
            const Variable* found = read(m_nodes[n.left]);
            const Variable& container = found ? *found : kAbsent;
            if (container.type == VarType::Array && top->kind == FastScalarValue::Int) {
                // An array read by an int position, the commonest element read.
                if (!arrayElementSlot(container, top->intValue, *top)) return false;
                break;
            }
            Variable key;
            assignFastScalarToVariable(toScalar(*top), key);
            FastScalarValue element;
            if (!m_engine.tryFastScalarFromIndexedValue(container, key, element)) return false;
            fromScalar(element, *top);
            break;
        }
        case FastFlatOp::Length: {
            const Variable* found = read(m_nodes[m_nodes[step.node].left]);
            if (found == nullptr) return false;
            const VarType type = found->type;
            if (type != VarType::String && type != VarType::Array && type != VarType::Table) return false;
            ++top;
            top->kind = FastScalarValue::Int;
            top->intValue = m_engine.arrayLength(*found);
            break;
        }
        case FastFlatOp::Call: {
            FastScalarValue result;
            if (!read.call(m_nodes[step.node], result)) return false;
            fromScalar(result, *++top);
            break;
        }
        case FastFlatOp::Negate:
            switch (top->kind) {
            case FastScalarValue::Int: top->intValue = wrappingNegate(top->intValue); break;
            case FastScalarValue::Float: top->floatValue = -static_cast<float>(top->floatValue); break;
            case FastScalarValue::Bool:
                top->kind = FastScalarValue::Int;
                top->intValue = top->intValue != 0 ? -1 : 0;
                break;
            default: return false;
            }
            break;
        case FastFlatOp::Not:
            top->intValue = slotTruthy(*top) ? 0 : 1;
            top->kind = FastScalarValue::Bool;
            break;
        case FastFlatOp::Binary: {
            const ScalarSlot& right = *top--;
            if (!combineSlots(step.kind, *top, right)) return false;
            break;
        }
        case FastFlatOp::BinaryInt:
            if (top->kind == FastScalarValue::Int && combineIntSlots(step.kind, *top, step.intValue)) break;
            if (!combineSlots(step.kind, *top, ScalarSlot{FastScalarValue::Int, step.intValue, 0.0})) return false;
            break;
        case FastFlatOp::BinaryFloat: {
            // A number and a float literal (x * 0.5, v > 1.0): the double kernels straight away.
            const ScalarSlot literal{FastScalarValue::Float, 0, step.floatValue};
            if (isNumberSlot(*top) && combineNumberSlots(step.kind, *top, literal)) break;
            if (!combineSlots(step.kind, *top, literal)) return false;
            break;
        }
        case FastFlatOp::BinaryName: {
            const Variable* found = read(m_nodes[step.node]);
            const Variable& right = found ? *found : kAbsent;
            const int32_t* whole = right.type == VarType::Int ? std::get_if<int32_t>(&right.value) : nullptr;
            if (whole != nullptr && top->kind == FastScalarValue::Int && combineIntSlots(step.kind, *top, *whole)) {
                break;
            }
            ScalarSlot slot{};
            if (!slotFromVariable(right, slot) || !combineSlots(step.kind, *top, slot)) return false;
            break;
        }
        case FastFlatOp::AndSkip:
        case FastFlatOp::OrSkip:
            if (slotTruthy(*top) == (step.op == FastFlatOp::OrSkip)) {
                next = steps.data() + step.node;
            } else {
                --top;
            }
            break;
        case FastFlatOp::Return:
            out = toScalar(*top);
            return true;
#define COBALT_FAST_FLAT_CASES(name)                                                                       \
    case FastFlatOp::name:                                                                                 \
        --top;                                                                                             \
        if (!combineSlotsAs<FastExprNodeKind::name>(*top, top[1])) return false;                           \
        break;                                                                                             \
    case FastFlatOp::name##Int:                                                                            \
        if (!combineWithInt<FastExprNodeKind::name>(*top, step.intValue)) return false;                    \
        break;                                                                                             \
    case FastFlatOp::name##Name:                                                                           \
        if (!combineWithVariable<FastExprNodeKind::name>(*top, read(m_nodes[step.node]))) return false;  \
        break;
            COBALT_FAST_FLAT_OPERATORS(COBALT_FAST_FLAT_CASES)
#undef COBALT_FAST_FLAT_CASES
        }
    }
}

bool FastEvaluator::flatScalar(FastScalarValue& out)
{
    if (m_expression.flat.empty()) return false;
    LookedUpNames names(*this);
    return flatSteps(names, out);
}

bool FastEvaluator::flatScalarResolved(Variable* const* registers, const int16_t* nodeRegister, FastScalarValue& out)
{
    if (m_expression.flat.empty()) return false;
    ResolvedNames names(*this, registers, nodeRegister);
    return flatSteps(names, out);
}

} // namespace cobalt
