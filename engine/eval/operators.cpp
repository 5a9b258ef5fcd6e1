// Binary arithmetic and concatenation: performOperation in its token and byte forms, and the
// in-place form used by compound assignment. Both forms share numericOperation, so a
// compound assignment gives exactly the value of the binary operator.

#include <string>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/eval/arithmetic.h"

namespace cobalt {

namespace {

bool isFloat(const Variable& value)
{
    return value.type == VarType::Float;
}

// Int view of an int or bool operand (floats never reach this).
int32_t integralValue(const Variable& value)
{
    if (value.type == VarType::Bool) return value.asBool() ? 1 : 0;
    return value.asInt();
}

[[noreturn]] void failUnsupported(char op)
{
    fail(std::string("Unsupported operation '") + op + "' between types");
}

// Arithmetic of two numeric operands (int, float or bool).
Variable numericOperation(const Variable& left, char op, const Variable& right)
{
    const bool anyFloat = isFloat(left) || isFloat(right);
    switch (op) {
    case '+':
        if (anyFloat) return Variable(roundToFloat(toDouble(left) + toDouble(right)));
        return Variable(wrappingAdd(integralValue(left), integralValue(right)));
    case '-':
        if (anyFloat) return Variable(roundToFloat(toDouble(left) - toDouble(right)));
        return Variable(wrappingSubtract(integralValue(left), integralValue(right)));
    case '*':
        if (anyFloat) return Variable(roundToFloat(toDouble(left) * toDouble(right)));
        return Variable(wrappingMultiply(integralValue(left), integralValue(right)));
    case '/':
        return Variable(floatDivide(toDouble(left), toDouble(right)));
    case '\\':
        return Variable(integerDivide(toInt(left), toInt(right)));
    case '%':
        if (anyFloat) return Variable(floatModulo(toDouble(left), toDouble(right)));
        return Variable(integerModulo(integralValue(left), integralValue(right)));
    case '^': {
        const PowerResult result = computePower(toDouble(left), toDouble(right), !anyFloat);
        return result.isInt ? Variable(result.intValue) : Variable(result.floatValue);
    }
    default:
        fail(std::string("Unsupported operation: ") + op);
    }
}

constexpr size_t kLongText = 64;
constexpr size_t kAppendRoom = 24;

/// The length of a string operand; other kinds' texts are short.
size_t textSize(const Variable& value)
{
    return value.type == VarType::String ? value.asString().size() : 0;
}

bool isArithmeticOperator(char op)
{
    switch (op) {
    case '+':
    case '-':
    case '*':
    case '/':
    case '\\':
    case '%':
    case '^':
        return true;
    default:
        return false;
    }
}

} // namespace

Variable CobaltScript::performOperation(const Variable& left, char op, const Variable& right)
{
    if (!isArithmeticOperator(op)) fail(std::string("Unsupported operation: ") + op);
    if (op == '+' && (left.type == VarType::String || right.type == VarType::String)) {
        std::string joined;
        // A long text gets room for a number's text or two on top: the result is often
        // extended in place by the next operators of a chain (s + "," + n), which would
        // otherwise copy it once more to grow. Short texts stay in the string itself.
        if (textSize(left) >= kLongText) joined.reserve(textSize(left) + textSize(right) + kAppendRoom);
        left.appendTo(joined);
        right.appendTo(joined);
        return Variable(std::move(joined));
    }
    if (!left.isNumeric() || !right.isNumeric()) failUnsupported(op);
    return numericOperation(left, op, right);
}

Variable CobaltScript::performOperation(const Variable& left, std::string_view op, const Variable& right)
{
    if (op == "->") return pentation(left, right);
    // h <- b is b tetrated to height h.
    if (op == "<-") return tetration(right, left);
    if (op.size() == 1) return performOperation(left, op.front(), right);
    fail("Unsupported operation: " + std::string(op));
}

bool CobaltScript::performOperationInPlace(Variable& target, char op, const Variable& right)
{
    if (op == '+' && (target.type == VarType::String || right.type == VarType::String)) {
        if (&target == &right) {
            const Variable copy = right;
            return performOperationInPlace(target, op, copy);
        }
        if (target.type == VarType::String) {
            right.appendTo(target.asString());
        } else {
            std::string joined;
            target.appendTo(joined);
            right.appendTo(joined);
            target = Variable(std::move(joined));
        }
        return true;
    }
    if (!isArithmeticOperator(op) || !target.isNumeric() || !right.isNumeric()) return false;
    if (target.type == VarType::Int && right.type == VarType::Int) {
        int32_t& value = std::get<int32_t>(target.value);
        switch (op) {
        case '+':
            value = wrappingAdd(value, right.asInt());
            return true;
        case '-':
            value = wrappingSubtract(value, right.asInt());
            return true;
        case '*':
            value = wrappingMultiply(value, right.asInt());
            return true;
        default:
            break;
        }
    }
    target = numericOperation(target, op, right);
    return true;
}

} // namespace cobalt
