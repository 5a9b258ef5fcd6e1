// The expression skipper: walks the evaluator's grammar over the operand that a
// short-circuit operator does not need. It raises the same syntax errors as the evaluator
// but evaluates nothing, so it never calls a function, reads a variable or builds a value.

#include "engine/eval/expression_cursor.h"
#include "engine/eval/operator_table.h"

namespace cobalt {

namespace {

void skipAt(ExpressionCursor& cursor, int level)
{
    cursor.engine.skipExpression(cursor.tokens, cursor.position, level, cursor.analyses);
}

void skipParenthesised(ExpressionCursor& cursor)
{
    cursor.consume();  // "("
    skipAt(cursor, kLowestLevel);
    if (!cursor.peekIs(")")) cursor.failNear("Expected closing parenthesis", ")");
    cursor.consume();
}

/// Skips an opening bracket and a comma-separated list of expressions up to `close`.
void skipExpressionList(ExpressionCursor& cursor, const char* close, const char* message)
{
    cursor.consume();  // the opening bracket
    if (cursor.peekIs(close)) {
        cursor.consume();
        return;
    }
    while (true) {
        skipAt(cursor, kLowestLevel);
        if (cursor.peekIs(",")) {
            cursor.consume();
        } else if (cursor.peekIs(close)) {
            cursor.consume();
            return;
        } else {
            cursor.failAtCurrent(message, close);
        }
    }
}

void skipArrayLiteral(ExpressionCursor& cursor)
{
    skipExpressionList(cursor, "]", "Expected ',' or ']' in array literal");
}

void requireMoreTokens(ExpressionCursor& cursor)
{
    if (cursor.atEnd()) cursor.failAtEnd("Unexpected end of table literal");
}

bool isKeySeparator(const Token& token)
{
    return token == ":" || token == "=";
}

void skipBraceEntry(ExpressionCursor& cursor)
{
    const size_t at = cursor.position;
    if (cursor.peek() == "[") {
        cursor.consume();
        skipAt(cursor, kLowestLevel);
        requireMoreTokens(cursor);
        if (cursor.peek() != "]") cursor.failAtCurrent("Expected ']' after table key", "]");
        cursor.consume();
        requireMoreTokens(cursor);
        if (!isKeySeparator(cursor.peek())) cursor.failAtCurrent("Expected ':' after table key", ":");
        cursor.consume();
        requireMoreTokens(cursor);
    } else if (at + 1 < cursor.tokens.size() && isKeySeparator(cursor.tokens[at + 1])) {
        braceEntryKeyText(cursor, at);  // validates the key
        cursor.consume();
        cursor.consume();
        requireMoreTokens(cursor);
    }
    skipAt(cursor, kLowestLevel);
}

void skipBraceLiteral(ExpressionCursor& cursor)
{
    cursor.consume();  // "{"
    if (cursor.peekIs("}")) {
        cursor.consume();
        return;
    }
    while (true) {
        requireMoreTokens(cursor);
        skipBraceEntry(cursor);
        requireMoreTokens(cursor);
        if (cursor.peek() == ",") {
            cursor.consume();
        } else if (cursor.peek() == "}") {
            cursor.consume();
            return;
        } else {
            cursor.failAtCurrent("Expected ',' or '}' in table literal", "}");
        }
    }
}

// A token the evaluator would accept as a literal or a name.
void skipLiteralToken(ExpressionCursor& cursor)
{
    const size_t index = cursor.position;
    const Token& token = cursor.consume();
    if (token == "..." || isQuotedToken(token)) return;
    const TokenAnalysis* stored = cursor.storedAnalysis(index);
    const TokenAnalysis analysis = stored ? *stored : analyseToken(token);
    if (analysis.isTrue || analysis.isFalse || analysis.isIdentifier || tokenLooksNumeric(token)) return;
    void* address = nullptr;
    if (parsePointerLiteral(token, address)) return;
    fail("Unknown token: " + token);
}

void skipArguments(ExpressionCursor& cursor)
{
    skipExpressionList(cursor, ")", "Expected ',' or ')' after function argument");
}

void skipPostfix(ExpressionCursor& cursor)
{
    while (!cursor.atEnd()) {
        if (cursor.peek() == "[") {
            cursor.consume();
            skipAt(cursor, kLowestLevel);
            if (!cursor.peekIs("]")) cursor.failNear("Expected closing bracket", "]");
            cursor.consume();
        } else if (cursor.peek() == "(") {
            skipArguments(cursor);
        } else {
            return;
        }
    }
}

void skipUnary(ExpressionCursor& cursor)
{
    if (cursor.atEnd()) cursor.failAtEnd("Unexpected end of expression");
    const Token& token = cursor.peek();
    if (token == "-" || token == "+" || token == "#" || token == "!") {
        cursor.consume();
        skipAt(cursor, kUnaryOperandLevel);
        return;
    }
    if (token == "not") {
        cursor.consume();
        if (cursor.atEnd() || endsBareNot(cursor.peek())) return;
        skipAt(cursor, kUnaryOperandLevel);
        return;
    }
    if (token == "(") {
        skipParenthesised(cursor);
    } else if (token == "[") {
        skipArrayLiteral(cursor);
    } else if (token == "{") {
        skipBraceLiteral(cursor);
    } else {
        skipLiteralToken(cursor);
    }
    skipPostfix(cursor);
}

} // namespace

void CobaltScript::skipExpression(const TokenList& tokens, size_t& position, int minLevel,
                                  const AnalysisList* analyses)
{
    checkNativeStack();
    ExpressionCursor cursor{*this, tokens, position, analyses};
    skipUnary(cursor);
    while (!cursor.atEnd()) {
        const BinaryOperatorInfo* info = findBinaryOperator(cursor.peek());
        if (info == nullptr || info->level < minLevel) break;
        cursor.consume();
        skipExpression(tokens, position, rightOperandLevel(*info), analyses);
    }
}

} // namespace cobalt
