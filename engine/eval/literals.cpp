// Literal primaries: array literals, brace literals (arrays or tables) and single-token
// literals and names.

#include <string>
#include <utility>
#include <vector>

#include "engine/eval/expression_cursor.h"
#include "engine/eval/operator_table.h"

namespace cobalt {

namespace {

Variable evaluateElement(ExpressionCursor& cursor)
{
    return cursor.engine.evaluateExpressionAt(cursor.tokens, cursor.position, kLowestLevel, cursor.analyses);
}

bool isKeySeparator(const Token& token)
{
    return token == ":" || token == "=";
}

// Builds a brace literal: positional values stay a plain list until the first keyed entry
// turns the literal into a table.
class BraceBuilder {
public:
    void addPositional(Variable value)
    {
        m_positional.push_back(value);
        if (m_table) store(std::to_string(m_positional.size()), std::move(value));
    }

    void addKeyed(std::string key, Variable value)
    {
        if (!m_table) {
            m_table = makeTableRef();
            for (size_t i = 0; i < m_positional.size(); ++i) store(std::to_string(i + 1), m_positional[i]);
        }
        store(std::move(key), std::move(value));
    }

    Variable finish()
    {
        if (m_table) return Variable(std::move(m_table));
        return Variable::makeArray(std::move(m_positional));
    }

private:
    void store(std::string key, Variable value)
    {
        auto [it, inserted] = m_table->map.insert_or_assign(std::move(key), std::move(value));
        (void)it;
        if (inserted) CobaltScript::bumpTableVersion(*m_table);
    }

    std::vector<Variable> m_positional;
    TableRef m_table;
};

void requireMoreTokens(ExpressionCursor& cursor)
{
    if (cursor.atEnd()) cursor.failAtEnd("Unexpected end of table literal");
}

// [ key-expression ] (":" | "=") value
void readComputedKeyEntry(ExpressionCursor& cursor, BraceBuilder& builder)
{
    cursor.consume();  // "["
    const Variable key = evaluateElement(cursor);
    std::string keyText = cursor.engine.keyToString(key);
    requireMoreTokens(cursor);
    if (cursor.peek() != "]") cursor.failAtCurrent("Expected ']' after table key", "]");
    cursor.consume();
    requireMoreTokens(cursor);
    if (!isKeySeparator(cursor.peek())) cursor.failAtCurrent("Expected ':' after table key", ":");
    cursor.consume();
    requireMoreTokens(cursor);
    builder.addKeyed(std::move(keyText), evaluateElement(cursor));
}

// name (":" | "=") value
void readNamedKeyEntry(ExpressionCursor& cursor, BraceBuilder& builder)
{
    std::string keyText = braceEntryKeyText(cursor, cursor.position);
    cursor.consume();  // the key
    cursor.consume();  // ":" or "="
    requireMoreTokens(cursor);
    builder.addKeyed(std::move(keyText), evaluateElement(cursor));
}

} // namespace

std::string braceEntryKeyText(ExpressionCursor& cursor, size_t keyIndex)
{
    const Token& token = cursor.tokens[keyIndex];
    if (isQuotedToken(token)) return decodeStringToken(token);
    const TokenAnalysis* stored = cursor.storedAnalysis(keyIndex);
    const TokenAnalysis analysis = stored ? *stored : analyseToken(token);
    if (analysis.isIdentifier || analysis.isTrue || analysis.isFalse || tokenLooksNumeric(token)) return token;
    cursor.markNear(keyIndex);
    fail("Invalid table key");
}

Variable evaluateArrayLiteral(ExpressionCursor& cursor)
{
    cursor.consume();  // "["
    std::vector<Variable> items;
    if (cursor.peekIs("]")) {
        cursor.consume();
        return Variable::makeArray(std::move(items));
    }
    while (true) {
        items.push_back(evaluateElement(cursor));
        if (cursor.peekIs(",")) {
            cursor.consume();
        } else if (cursor.peekIs("]")) {
            cursor.consume();
            return Variable::makeArray(std::move(items));
        } else {
            cursor.failAtCurrent("Expected ',' or ']' in array literal", "]");
        }
    }
}

Variable evaluateBraceLiteral(ExpressionCursor& cursor)
{
    cursor.consume();  // "{"
    if (cursor.peekIs("}")) {
        cursor.consume();
        return Variable::makeTable();
    }
    BraceBuilder builder;
    while (true) {
        requireMoreTokens(cursor);
        const size_t at = cursor.position;
        if (cursor.peek() == "[") {
            readComputedKeyEntry(cursor, builder);
        } else if (at + 1 < cursor.tokens.size() && isKeySeparator(cursor.tokens[at + 1])) {
            readNamedKeyEntry(cursor, builder);
        } else {
            builder.addPositional(evaluateElement(cursor));
        }
        requireMoreTokens(cursor);
        if (cursor.peek() == ",") {
            cursor.consume();
        } else if (cursor.peek() == "}") {
            cursor.consume();
            return builder.finish();
        } else {
            cursor.failAtCurrent("Expected ',' or '}' in table literal", "}");
        }
    }
}

Variable evaluateLiteralToken(ExpressionCursor& cursor)
{
    const size_t index = cursor.position;
    const Token& token = cursor.consume();
    if (isQuotedToken(token)) return Variable(decodeStringToken(token));

    const TokenAnalysis* stored = cursor.storedAnalysis(index);
    const TokenAnalysis computed = stored ? TokenAnalysis{} : analyseToken(token);
    const TokenAnalysis& analysis = stored ? *stored : computed;
    if (analysis.isTrue) return Variable(true);
    if (analysis.isFalse) return Variable(false);
    if (!token.empty() && token.front() == '$') {
        void* address = nullptr;
        if (parsePointerLiteral(token, address)) return Variable(address);
    }
    if (analysis.isIdentifier) {
        Variable value;
        if (!cursor.engine.resolveVariableFast(token, stored, value)) return Variable();
        return value;
    }
    if (analysis.isNumeric) {
        if (!analysis.hasFloatMarker && analysis.isInteger) return Variable(analysis.intValue);
        float number = 0.0f;
        if (!parseFloatStrict(token, number)) fail("Invalid numeric format");
        return Variable(number);
    }
    fail("Unknown token: " + token);
}

} // namespace cobalt
