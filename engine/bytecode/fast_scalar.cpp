// The pure paths of the fast expressions: ints, scalars and string chains, and the scalar
// conversions. They read variables and elements in place and call only builtins that have
// no effects (and fast bodies, which obey the same rule); whatever they cannot decide, a
// failure included, makes them return false so that the value path starts over and
// reports it. Their arithmetic is the kernels of performOperation, operation by operation.

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "engine/bytecode/fast_body.h"
#include "engine/bytecode/fast_evaluator.h"
#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/eval/arithmetic.h"

namespace cobalt {

namespace {

const Variable kAbsent;

// After the int-only path gave up at a node (a float operand, most often a float variable),
// this many evaluations of the node go straight to the scalar path, which decides ints too.
constexpr uint8_t kPureIntRetryInterval = 255;

bool scalarIsNumeric(const FastScalarValue& value) { return value.kind != FastScalarValue::Empty; }

FastScalarValue intScalar(int32_t value)
{
    FastScalarValue scalar;
    scalar.kind = FastScalarValue::Int;
    scalar.intValue = value;
    return scalar;
}

FastScalarValue floatScalar(float value)
{
    FastScalarValue scalar;
    scalar.kind = FastScalarValue::Float;
    scalar.floatValue = value;
    return scalar;
}

FastScalarValue boolScalar(bool value)
{
    FastScalarValue scalar;
    scalar.kind = FastScalarValue::Bool;
    scalar.boolValue = value;
    return scalar;
}

// The int view of an int or bool scalar (the caller has excluded floats and the absent value).
int32_t integralScalar(const FastScalarValue& value)
{
    return value.kind == FastScalarValue::Bool ? (value.boolValue ? 1 : 0) : value.intValue;
}

// Arithmetic of two numeric scalars, exactly as performOperation computes it; false where
// performOperation would fail (a zero divisor, an exponentiation without a finite result).
bool scalarArithmetic(char op, const FastScalarValue& left, const FastScalarValue& right, FastScalarValue& out)
{
    const bool anyFloat = left.kind == FastScalarValue::Float || right.kind == FastScalarValue::Float;
    const double a = fastScalarToDouble(left);
    const double b = fastScalarToDouble(right);
    switch (op) {
    case '+':
        out = anyFloat ? floatScalar(roundToFloat(a + b))
                       : intScalar(wrappingAdd(integralScalar(left), integralScalar(right)));
        return true;
    case '-':
        out = anyFloat ? floatScalar(roundToFloat(a - b))
                       : intScalar(wrappingSubtract(integralScalar(left), integralScalar(right)));
        return true;
    case '*':
        out = anyFloat ? floatScalar(roundToFloat(a * b))
                       : intScalar(wrappingMultiply(integralScalar(left), integralScalar(right)));
        return true;
    case '/':
        if (b == 0.0) return false;
        out = floatScalar(floatDivide(a, b));
        return true;
    case '\\': {
        const int32_t divisor = fastScalarToInt(right);
        if (divisor == 0) return false;
        out = intScalar(integerDivide(fastScalarToInt(left), divisor));
        return true;
    }
    case '%':
        if (anyFloat) {
            if (b == 0.0) return false;
            out = floatScalar(floatModulo(a, b));
        } else {
            if (integralScalar(right) == 0) return false;
            out = intScalar(integerModulo(integralScalar(left), integralScalar(right)));
        }
        return true;
    case '^': {
        const double raised = std::pow(a, b);
        if (!std::isfinite(raised)) return false;
        const PowerResult result = computePower(a, b, !anyFloat);
        out = result.isInt ? intScalar(result.intValue) : floatScalar(result.floatValue);
        return true;
    }
    default:
        return false;
    }
}


} // namespace

// ---------------------------------------------------------------------------------------
// Scalar conversions
// ---------------------------------------------------------------------------------------

double fastScalarToDouble(const FastScalarValue& value)
{
    switch (value.kind) {
    case FastScalarValue::Bool: return value.boolValue ? 1.0 : 0.0;
    case FastScalarValue::Int: return static_cast<double>(value.intValue);
    case FastScalarValue::Float: return value.floatValue;
    default: fail("Expected a numeric value");
    }
}

int32_t fastScalarToInt(const FastScalarValue& value)
{
    switch (value.kind) {
    case FastScalarValue::Bool: return value.boolValue ? 1 : 0;
    case FastScalarValue::Int: return value.intValue;
    case FastScalarValue::Float: return saturateToInt32(value.floatValue);
    default: fail("Expected a numeric value");
    }
}

void assignFastScalarToVariable(const FastScalarValue& value, Variable& out)
{
    // When the variable already holds a payload of the scalar's alternative (an int over an
    // int, and every absent value, whose payload is the int 0), the payload is overwritten in
    // place: no temporary value and no generic variant assignment.
    switch (value.kind) {
    case FastScalarValue::Int:
        if (int32_t* payload = std::get_if<int32_t>(&out.value)) {
            out.type = VarType::Int;
            *payload = value.intValue;
            return;
        }
        break;
    case FastScalarValue::Float:
        if (float* payload = std::get_if<float>(&out.value)) {
            out.type = VarType::Float;
            *payload = static_cast<float>(value.floatValue);
            return;
        }
        break;
    case FastScalarValue::Bool:
        if (bool* payload = std::get_if<bool>(&out.value)) {
            out.type = VarType::Bool;
            *payload = value.boolValue;
            return;
        }
        break;
    default:
        if (int32_t* payload = std::get_if<int32_t>(&out.value)) {
            out.type = VarType::Not;
            *payload = 0;
            return;
        }
        break;
    }
    switch (value.kind) {
    case FastScalarValue::Int: out = Variable(value.intValue); break;
    case FastScalarValue::Float: out = Variable(static_cast<float>(value.floatValue)); break;
    case FastScalarValue::Bool: out = Variable(value.boolValue); break;
    default: out = Variable(); break;
    }
}

bool tryFastScalarFromVariable(const Variable& value, FastScalarValue& out)
{
    switch (value.type) {
    case VarType::Not: out = FastScalarValue{}; return true;
    case VarType::Int: out = intScalar(value.asInt()); return true;
    case VarType::Float: out = floatScalar(value.asFloat()); return true;
    case VarType::Bool: out = boolScalar(value.asBool()); return true;
    default: return false;
    }
}

// ---------------------------------------------------------------------------------------
// FastEvaluator: the pure paths
// ---------------------------------------------------------------------------------------

bool FastEvaluator::pureValue(int32_t index, const Variable*& out, Variable& scratch)
{
    const FastExprNode& n = node(index);
    if (n.hasCall) {
        FastScalarValue scalar;
        if (!scalarNode(index, scalar)) return false;
        assignFastScalarToVariable(scalar, scratch);
        out = &scratch;
        return true;
    }
    if (n.kind == FastExprNodeKind::Variable) {
        const Variable* found = lookUp(n);
        out = found ? found : &kAbsent;
        return true;
    }
    // An operator over plain values (x * 2.0, i - 1) by the scalar path where it decides:
    // the same value without a value built per node.
    if (n.kind >= FastExprNodeKind::Negate && n.kind != FastExprNodeKind::Length) {
        FastScalarValue scalar;
        if (scalarNode(index, scalar)) {
            assignFastScalarToVariable(scalar, scratch);
            out = &scratch;
            return true;
        }
    }
    // Without calls the value path runs no script code; a failure only means "not here"
    // (the value path meets the same failure again and reports it).
    try {
        scratch = value(index, 0);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
    out = &scratch;
    return true;
}

bool FastEvaluator::intNode(int32_t index, int32_t& out, bool allowBool)
{
    const FastExprNode& n = node(index);
    switch (n.kind) {
    case FastExprNodeKind::IntLiteral: out = n.intValue; return true;
    case FastExprNodeKind::BoolLiteral:
        if (!allowBool) return false;
        out = n.boolValue ? 1 : 0;
        return true;
    case FastExprNodeKind::Variable: {
        // Read straight from the variable: the int path's commonest leaf.
        const Variable* found = lookUp(n);
        if (found == nullptr) return false;
        if (found->type == VarType::Int) {
            out = found->asInt();
            return true;
        }
        if (allowBool && found->type == VarType::Bool) {
            out = found->asBool() ? 1 : 0;
            return true;
        }
        return false;
    }
    case FastExprNodeKind::Index: {
        FastScalarValue scalar;
        if (!readScalar(index, scalar)) return false;
        if (scalar.kind == FastScalarValue::Int || (allowBool && scalar.kind == FastScalarValue::Bool)) {
            out = integralScalar(scalar);
            return true;
        }
        return false;
    }
    case FastExprNodeKind::Length: return lengthInt(n, out);
    case FastExprNodeKind::Negate: {
        int32_t operandValue = 0;
        if (!intNode(n.left, operandValue, true)) return false;
        out = wrappingNegate(operandValue);
        return true;
    }
    case FastExprNodeKind::Add:
    case FastExprNodeKind::Subtract:
    case FastExprNodeKind::Multiply:
    case FastExprNodeKind::IntDivide:
    case FastExprNodeKind::Modulo: {
        int32_t left = 0;
        int32_t right = 0;
        if (!intNode(n.left, left, true) || !intNode(n.right, right, true)) return false;
        return intArithmetic(n.kind, left, right, out);
    }
    default:
        return false;
    }
}

bool FastEvaluator::intArithmetic(FastExprNodeKind kind, int32_t left, int32_t right, int32_t& out)
{
    switch (kind) {
    case FastExprNodeKind::Add: out = wrappingAdd(left, right); return true;
    case FastExprNodeKind::Subtract: out = wrappingSubtract(left, right); return true;
    case FastExprNodeKind::Multiply: out = wrappingMultiply(left, right); return true;
    case FastExprNodeKind::IntDivide:
        if (right == 0) return false;
        out = integerDivide(left, right);
        return true;
    case FastExprNodeKind::Modulo:
        if (right == 0) return false;
        out = integerModulo(left, right);
        return true;
    default:
        return false;
    }
}

bool FastEvaluator::lengthInt(const FastExprNode& n, int32_t& out)
{
    Variable scratch;
    const Variable* operandValue = nullptr;
    if (!pureValue(n.left, operandValue, scratch)) return false;
    const VarType type = operandValue->type;
    if (type != VarType::String && type != VarType::Array && type != VarType::Table) return false;
    out = m_engine.arrayLength(*operandValue);
    return true;
}

// A variable or an element read as a scalar, without copying containers.
bool FastEvaluator::readScalar(int32_t index, FastScalarValue& out)
{
    const FastExprNode& n = node(index);
    if (n.kind == FastExprNodeKind::Variable) {
        const Variable* found = lookUp(n);
        return tryFastScalarFromVariable(found ? *found : kAbsent, out);
    }
    if (n.kind != FastExprNodeKind::Index) return false;
    Variable containerScratch;
    Variable keyScratch;
    const Variable* container = nullptr;
    const Variable* key = nullptr;
    if (!pureValue(n.left, container, containerScratch)) return false;
    if (const Variable* field = nullptr; literalField(*container, node(n.right), field)) {
        return tryFastScalarFromVariable(field ? *field : kAbsent, out);
    }
    if (!pureValue(n.right, key, keyScratch)) return false;
    return m_engine.tryFastScalarFromIndexedValue(*container, *key, out);
}

bool FastEvaluator::scalarNode(int32_t index, FastScalarValue& out)
{
    const FastExprNode& n = node(index);
    if (!n.mayBeFloat && n.kind >= FastExprNodeKind::Add && n.kind <= FastExprNodeKind::Modulo) {
        if (n.pureIntSkips != 0) {
            --n.pureIntSkips;
        } else {
            int32_t whole = 0;
            if (intNode(index, whole, false)) {
                out = intScalar(whole);
                return true;
            }
            n.pureIntSkips = kPureIntRetryInterval;
        }
    }
    switch (n.kind) {
    case FastExprNodeKind::IntLiteral: out = intScalar(n.intValue); return true;
    case FastExprNodeKind::FloatLiteral: out = floatScalar(n.floatValue); return true;
    case FastExprNodeKind::BoolLiteral: out = boolScalar(n.boolValue); return true;
    case FastExprNodeKind::EmptyLiteral: out = FastScalarValue{}; return true;
    case FastExprNodeKind::StringLiteral:
    case FastExprNodeKind::ArrayLiteral:
    case FastExprNodeKind::TableLiteral: return false;
    case FastExprNodeKind::Variable:
    case FastExprNodeKind::Index: return readScalar(index, out);
    case FastExprNodeKind::Call: return callScalar(n, out);
    case FastExprNodeKind::Negate: return negateScalar(n, out);
    case FastExprNodeKind::LogicalNot: {
        FastScalarValue operandValue;
        if (!scalarNode(n.left, operandValue)) return false;
        out = boolScalar(!scalarTruthy(operandValue));
        return true;
    }
    case FastExprNodeKind::Length: {
        int32_t length = 0;
        if (!lengthInt(n, length)) return false;
        out = intScalar(length);
        return true;
    }
    case FastExprNodeKind::And:
    case FastExprNodeKind::Or: return logicalScalar(n, out);
    default: return binaryScalar(n, out);
    }
}

bool builtinHasScalarForm(BuiltinId id)
{
    const auto code = static_cast<uint8_t>(id);
    return id == BuiltinId::GetTimeMs || id == BuiltinId::ToNumber || id == BuiltinId::Len ||
           id == BuiltinId::StringLen || id == BuiltinId::StringByte ||
           (code >= static_cast<uint8_t>(BuiltinId::MathFloor) && code <= static_cast<uint8_t>(BuiltinId::Utf8Len));
}

bool FastEvaluator::callAllowed() const
{
    if (m_engine.calls.callDepth >= kFastCallDepthLimit) return false;
    try {
        m_engine.checkNativeStack();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
    return true;
}

namespace {

// After a callee without a scalar form, this many evaluations of the call node go straight to
// the value path before the pure path looks at the callee again (it may have been rebound).
constexpr uint8_t kPureCallRetryInterval = 255;

} // namespace

namespace {

/// The outcome of a fast body's scalar attempt `attempt`: false when it failed (as a pure path
/// never fails) or gave no scalar, in which case the call node rests, since a body whose
/// result was no scalar (a string, a container, another call's) mostly gives none next time
/// either; the value path decides those calls anyway.
template <class Attempt>
bool settleBodyScalar(const FastExprNode& call, Attempt attempt)
{
    try {
        if (attempt()) return true;
        call.pureCallSkips = kPureCallRetryInterval;
        return false;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
}

} // namespace

bool FastEvaluator::callScalar(const FastExprNode& n, FastScalarValue& out)
{
    if (n.pureCallSkips != 0) {
        --n.pureCallSkips;
        return false;
    }
    if (!callAllowed()) return false;
    if (n.intValue < 0 || static_cast<size_t>(n.intValue) >= m_expression.calls.size()) return false;
    const FastCallExpression& call = m_expression.calls[static_cast<size_t>(n.intValue)];
    const size_t count = call.arguments.size();
    if (count > ArgumentSlots::kInline || node(call.callee).hasCall) return false;
    Variable calleeScratch;
    const Variable* callee = nullptr;
    if (!pureValue(call.callee, callee, calleeScratch) || callee->type != VarType::Function) return false;
    const CallableRef function = callee->asCallable();  // kept alive while it runs
    if (!function) return false;
    if (function->isNative) {
        if (!builtinHasScalarForm(function->builtinId) || !m_engine.isNativeBuiltin(*callee, function->builtinId)) {
            n.pureCallSkips = kPureCallRetryInterval;
            return false;
        }
    } else if (!fastBodyHasScalarForm(*function)) {
        n.pureCallSkips = kPureCallRetryInterval;
        return false;
    } else if (!fastBodyScalarPossible(m_engine, *function)) {
        return false;
    }
    // A script function's arguments that are all names (combine(x, y, z)) are read where they
    // live and its parameters bound from there: nothing runs in between that could move them.
    if (!function->isNative) {
        const Variable* inPlace[ArgumentSlots::kInline];
        bool allNames = true;
        for (size_t i = 0; allNames && i < count; ++i) {
            const FastExprNode& argument = node(call.arguments[i]);
            allNames = argument.kind == FastExprNodeKind::Variable;
            if (allNames) {
                const Variable* found = lookUp(argument);
                inPlace[i] = found ? found : &kAbsent;
            }
        }
        if (allNames) {
            return settleBodyScalar(n, [&] {
                return tryEvaluateFastBodyScalarInPlace(m_engine, *function, inPlace, count, out);
            });
        }
    }
    ArgumentSlots arguments(count);
    for (size_t i = 0; i < count; ++i) {
        const Variable* argument = nullptr;
        if (!pureValue(call.arguments[i], argument, arguments[i])) return false;
        // A name's value is copied in place: an int over a fresh slot is a plain store.
        if (argument != &arguments[i]) copyValueInto(*argument, arguments[i]);
    }
    const Variable* const args = count == 0 ? &kAbsent : arguments.data();
    try {
        if (function->isNative) return m_engine.tryEvaluateNativeBuiltinScalar(function->builtinId, args, count, out);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
    return settleBodyScalar(n, [&] { return m_engine.tryEvaluateFastCallableScalar(*function, args, count, out); });
}

bool FastEvaluator::nativeCallScalar(const FastExprNode& n, const Variable* callee, FastScalarValue& out)
{
    if (callee == nullptr || callee->type != VarType::Function) return false;
    const CallableRef& function = callee->asCallable();
    if (!function || !function->isNative || !builtinHasScalarForm(function->builtinId)) return false;
    const FastCallExpression& call = m_expression.calls[static_cast<size_t>(n.intValue)];
    for (const int32_t argument : call.arguments) {
        if (node(argument).hasCall) return false;
    }
    return callScalar(n, out);
}

bool FastEvaluator::negateScalar(const FastExprNode& n, FastScalarValue& out)
{
    FastScalarValue operandValue;
    if (!scalarNode(n.left, operandValue)) return false;
    switch (operandValue.kind) {
    case FastScalarValue::Int: out = intScalar(wrappingNegate(operandValue.intValue)); return true;
    case FastScalarValue::Float: out = floatScalar(-static_cast<float>(operandValue.floatValue)); return true;
    case FastScalarValue::Bool: out = intScalar(operandValue.boolValue ? -1 : 0); return true;
    default: return false;
    }
}

bool FastEvaluator::logicalScalar(const FastExprNode& n, FastScalarValue& out)
{
    FastScalarValue left;
    if (!scalarNode(n.left, left)) return false;
    const bool decided = n.kind == FastExprNodeKind::Or ? scalarTruthy(left) : !scalarTruthy(left);
    if (decided) {
        out = left;
        return true;
    }
    return scalarNode(n.right, out);
}

bool FastEvaluator::binaryScalar(const FastExprNode& n, FastScalarValue& out)
{
    FastScalarValue left;
    FastScalarValue right;
    if (!scalarNode(n.left, left) || !scalarNode(n.right, right)) return false;
    if (n.kind == FastExprNodeKind::Tetration || n.kind == FastExprNodeKind::Pentation) {
        if (!scalarIsNumeric(left) || !scalarIsNumeric(right)) return false;
        return hyperScalar(n.kind, left, right, out);
    }
    return combineScalars(n.kind, left, right, out);
}

bool combineScalars(FastExprNodeKind kind, const FastScalarValue& left, const FastScalarValue& right,
                    FastScalarValue& out)
{
    if (left.kind == FastScalarValue::Int && right.kind == FastScalarValue::Int) {
        // Compared and combined as ints, which is what the double and wrapping kernels below
        // give for them.
        int32_t result = 0;
        bool isBool = false;
        if (combineInts(kind, left.intValue, right.intValue, result, isBool)) {
            out = isBool ? boolScalar(result != 0) : intScalar(result);
            return true;
        }
    }
    if (kind == FastExprNodeKind::Equal || kind == FastExprNodeKind::NotEqual) {
        bool equal = false;
        if (scalarIsNumeric(left) && scalarIsNumeric(right)) {
            equal = fastScalarToDouble(left) == fastScalarToDouble(right);
        } else {
            equal = left.kind == right.kind;  // only the absent value is left: it equals itself
        }
        out = boolScalar(kind == FastExprNodeKind::Equal ? equal : !equal);
        return true;
    }
    if (!scalarIsNumeric(left) || !scalarIsNumeric(right)) return false;
    if (isComparison(kind)) {
        const double a = fastScalarToDouble(left);
        const double b = fastScalarToDouble(right);
        out = boolScalar(comparisonHolds(kind, (a > b) - (a < b)));
        return true;
    }
    const char op = arithmeticOperator(kind);
    return op != 0 && scalarArithmetic(op, left, right, out);
}

bool FastEvaluator::hyperScalar(FastExprNodeKind kind, const FastScalarValue& left, const FastScalarValue& right,
                                FastScalarValue& out)
{
    Variable a;
    Variable b;
    assignFastScalarToVariable(left, a);
    assignFastScalarToVariable(right, b);
    Variable result;
    try {
        result = kind == FastExprNodeKind::Tetration ? m_engine.tetration(b, a) : m_engine.pentation(a, b);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
    return tryFastScalarFromVariable(result, out);
}

// ---------------------------------------------------------------------------------------
// FastEvaluator: string chains
// ---------------------------------------------------------------------------------------

bool FastEvaluator::concatEligible(int32_t index)
{
    const FastExprNode& n = node(index);
    switch (n.kind) {
    case FastExprNodeKind::Add: return concatEligible(n.left) && concatEligible(n.right);
    case FastExprNodeKind::StringLiteral: return true;
    case FastExprNodeKind::Call: return nativeToStringArgument(n) >= 0;
    default: return false;
    }
}

int32_t FastEvaluator::nativeToStringArgument(const FastExprNode& n)
{
    if (n.intValue < 0 || static_cast<size_t>(n.intValue) >= m_expression.calls.size()) return -1;
    const FastCallExpression& call = m_expression.calls[static_cast<size_t>(n.intValue)];
    if (call.arguments.size() != 1 || node(call.arguments[0]).hasCall) return -1;
    const FastExprNode& callee = node(call.callee);
    if (callee.kind != FastExprNodeKind::Variable) return -1;
    // Only a call written with the builtin's own name takes this path: any other callee is
    // left to the value path (same result), which spares a name look-up on every call
    // expression that merely has the shape, such as f(n - 1) + f(n - 2).
    if (callee.tokenIndex >= m_line.tokens.size() || m_line.tokens[callee.tokenIndex] != "toString") return -1;
    const Variable* function = lookUp(callee);
    if (function == nullptr || !m_engine.isNativeBuiltin(*function, BuiltinId::ToString) || !callAllowed()) return -1;
    return call.arguments[0];
}

bool FastEvaluator::appendConcat(int32_t index, std::string& out)
{
    const FastExprNode& n = node(index);
    switch (n.kind) {
    case FastExprNodeKind::Add: return appendConcat(n.left, out) && appendConcat(n.right, out);
    case FastExprNodeKind::StringLiteral: out += stringLiteral(n); return true;
    case FastExprNodeKind::Call: {
        const int32_t argument = nativeToStringArgument(n);
        if (argument < 0) return false;
        Variable scratch;
        const Variable* text = nullptr;
        if (!pureValue(argument, text, scratch)) return false;
        text->appendTo(out);
        return true;
    }
    default:
        return false;
    }
}

bool CobaltScript::tryFastScalarFromIndexedValue(const Variable& container, const Variable& key, FastScalarValue& out)
{
    const Variable* element = nullptr;
    if (container.type == VarType::Array) {
        const std::vector<Variable>& items = container.asArray()->items;
        int32_t position = 0;
        if (key.type == VarType::Int) {
            position = key.asInt();
        } else if (key.type == VarType::Float) {
            const float f = key.asFloat();
            if (!std::isfinite(f) || std::trunc(f) != f || f < -2147483648.0f || f >= 2147483648.0f) {
                out = FastScalarValue{};
                return true;
            }
            position = static_cast<int32_t>(f);
        } else {
            out = FastScalarValue{};  // any other key reads the absent value
            return true;
        }
        if (position < 1 || static_cast<size_t>(position) > items.size()) {
            out = FastScalarValue{};
            return true;
        }
        element = &items[static_cast<size_t>(position) - 1];
    } else if (container.type == VarType::Table) {
        if (key.type != VarType::Int && key.type != VarType::Float && key.type != VarType::String &&
            key.type != VarType::Bool) {
            return false;
        }
        element = findTableEntry(*container.asTable(), key);
        if (element == nullptr) {
            out = FastScalarValue{};
            return true;
        }
    } else {
        return false;  // strings make new values; anything else fails on the value path
    }
    return tryFastScalarFromVariable(*element, out);
}

bool CobaltScript::tryApplyFastScalarOperationInPlace(Variable& target, char op, const FastScalarValue& value)
{
    switch (op) {
    case '+':
    case '-':
    case '*':
    case '/':
    case '%':
    case '\\':
        break;
    default:
        return false;
    }
    if (!target.isNumeric() || !scalarIsNumeric(value)) return false;
    Variable right;
    assignFastScalarToVariable(value, right);
    return performOperationInPlace(target, op, right);
}


} // namespace cobalt
