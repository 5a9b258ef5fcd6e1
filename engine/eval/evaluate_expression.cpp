// The token evaluator: precedence climbing over one statement's tokens, evaluating while it
// parses. Operands are evaluated left to right before their operator; "and" and "or" skip
// the operand they do not need.

#include <string>
#include <vector>

#include "engine/eval/arithmetic.h"
#include "engine/eval/expression_cursor.h"
#include "engine/eval/operator_table.h"

namespace cobalt {

namespace {

Variable evaluateAt(ExpressionCursor& cursor, int level)
{
    return cursor.engine.evaluateExpressionAt(cursor.tokens, cursor.position, level, cursor.analyses);
}

Variable negate(const Variable& operand)
{
    switch (operand.type) {
    case VarType::Int:
        return Variable(wrappingNegate(operand.asInt()));
    case VarType::Float:
        return Variable(-operand.asFloat());
    case VarType::Bool:
        return Variable(operand.asBool() ? int32_t{-1} : int32_t{0});
    default:
        fail("Unary '-' requires a numeric value");
    }
}

Variable parenthesised(ExpressionCursor& cursor)
{
    cursor.consume();  // "("
    Variable value = evaluateAt(cursor, kLowestLevel);
    if (!cursor.peekIs(")")) cursor.failNear("Expected closing parenthesis", ")");
    cursor.consume();
    return value;
}

// The extra arguments of the innermost running script function, copied.
Variable extraArguments(CobaltScript& engine)
{
    const auto& stack = engine.calls.varargs;
    if (stack.empty() || !stack.back()) return Variable();
    std::vector<Variable> copy = *stack.back();
    return Variable::makeMulti(std::move(copy));
}

Variable callWithArguments(ExpressionCursor& cursor, const Variable& callee)
{
    cursor.consume();  // "("
    std::vector<Variable> arguments;
    if (!cursor.peekIs(")")) {
        while (true) {
            arguments.push_back(evaluateAt(cursor, kLowestLevel));
            if (cursor.peekIs(",")) {
                cursor.consume();
            } else if (cursor.peekIs(")")) {
                break;
            } else {
                cursor.failAtCurrent("Expected ',' or ')' after function argument", ")");
            }
        }
    }
    const size_t closing = cursor.position;
    cursor.consume();  // ")"
    Variable result = cursor.engine.invokeCallableFast(callee, arguments.data(), arguments.size());
    // The callee's statements moved the near-token; failures from here on belong to this call.
    cursor.markNear(closing);
    return result;
}

// Postfix index and call suffixes after a primary.
Variable applyPostfix(ExpressionCursor& cursor, Variable value)
{
    while (!cursor.atEnd()) {
        const Token& next = cursor.peek();
        if (next == "[") {
            cursor.consume();
            const Variable key = evaluateAt(cursor, kLowestLevel);
            if (!cursor.peekIs("]")) cursor.failNear("Expected closing bracket", "]");
            cursor.consume();
            value = cursor.engine.getIndexedValue(value, key);
        } else if (next == "(") {
            value = callWithArguments(cursor, value);
        } else {
            break;
        }
    }
    return value;
}

Variable evaluatePrimary(ExpressionCursor& cursor)
{
    const Token& token = cursor.peek();
    if (token == "(") return parenthesised(cursor);
    if (token == "[") return evaluateArrayLiteral(cursor);
    if (token == "{") return evaluateBraceLiteral(cursor);
    if (token == "...") {
        cursor.consume();
        return extraArguments(cursor.engine);
    }
    return evaluateLiteralToken(cursor);
}

// A prefix operator with its operand, or a primary with its postfix suffixes.
Variable evaluateUnary(ExpressionCursor& cursor)
{
    if (cursor.atEnd()) cursor.failAtEnd("Unexpected end of expression");
    const Token& token = cursor.peek();
    if (token == "-") {
        cursor.consume();
        return negate(evaluateAt(cursor, kUnaryOperandLevel));
    }
    if (token == "+") {
        cursor.consume();
        return evaluateAt(cursor, kUnaryOperandLevel);
    }
    if (token == "#") {
        cursor.consume();
        const Variable operand = evaluateAt(cursor, kUnaryOperandLevel);
        return Variable(cursor.engine.arrayLength(operand));
    }
    if (token == "!") {
        cursor.consume();
        return Variable(!evaluateAt(cursor, kUnaryOperandLevel).truthy());
    }
    if (token == "not") {
        cursor.consume();
        // A bare not is the absent value; "not x" negates x.
        if (cursor.atEnd() || endsBareNot(cursor.peek())) return Variable();
        return Variable(!evaluateAt(cursor, kUnaryOperandLevel).truthy());
    }
    return applyPostfix(cursor, evaluatePrimary(cursor));
}

Variable combine(CobaltScript& engine, const BinaryOperatorInfo& info, const Variable& left, const Variable& right)
{
    switch (info.op) {
    case BinaryOperator::Equal:
        return Variable(variablesEqual(left, right));
    case BinaryOperator::NotEqual:
        return Variable(!variablesEqual(left, right));
    case BinaryOperator::Less:
        return Variable(compareVariables(left, right) < 0);
    case BinaryOperator::Greater:
        return Variable(compareVariables(left, right) > 0);
    case BinaryOperator::LessEqual:
        return Variable(compareVariables(left, right) <= 0);
    case BinaryOperator::GreaterEqual:
        return Variable(compareVariables(left, right) >= 0);
    default:
        return engine.performOperation(left, info.token, right);
    }
}

} // namespace

Variable CobaltScript::evaluateExpression(const TokenList& tokens, size_t& position, const AnalysisList* analyses)
{
    while (position < tokens.size() && tokens[position].empty()) ++position;
    if (position >= tokens.size()) {
        setNearToken(Token("EOF"), position);
        fail("Unexpected end of expression");
    }
    return evaluateExpressionAt(tokens, position, kLowestLevel, analyses);
}

Variable CobaltScript::evaluateExpressionAt(const TokenList& tokens, size_t& position, int minLevel,
                                            const AnalysisList* analyses)
{
    checkNativeStack();
    ExpressionCursor cursor{*this, tokens, position, analyses};
    Variable value = evaluateUnary(cursor);
    while (!cursor.atEnd()) {
        const BinaryOperatorInfo* info = findBinaryOperator(cursor.peek());
        if (info == nullptr || info->level < minLevel) break;
        cursor.consume();
        const int rightLevel = rightOperandLevel(*info);
        if (info->op == BinaryOperator::Or || info->op == BinaryOperator::And) {
            const bool decided = (info->op == BinaryOperator::Or) == value.truthy();
            if (decided) {
                skipExpression(tokens, position, rightLevel, analyses);
            } else {
                value = evaluateExpressionAt(tokens, position, rightLevel, analyses);
            }
            continue;
        }
        const Variable right = evaluateExpressionAt(tokens, position, rightLevel, analyses);
        value = combine(*this, *info, value, right);
    }
    return value;
}

Variable CobaltScript::evaluateRange(const ParsedScriptLine& line, size_t rangeIndex, const char* leftoverMessage)
{
    if (rangeIndex < line.exprFast.size() && line.exprFast[rangeIndex].valid()) {
        return evaluateFastExpression(line.exprFast[rangeIndex], line);
    }
    if (rangeIndex >= line.exprRanges.size()) fail("Expression range index out of range");
    const TokenRange range = line.exprRanges[rangeIndex];
    const AnalysisList* analyses = line.analyses.size() == line.tokens.size() ? &line.analyses : nullptr;
    size_t position = range.begin;
    Variable value = evaluateExpression(line.tokens, position, analyses);
    if (position != range.end) {
        const size_t leftover = position < range.end ? position : range.end;
        if (leftover < line.tokens.size()) setNearToken(line.tokens[leftover], leftover);
        fail(leftoverMessage);
    }
    return value;
}

} // namespace cobalt
