// The nesting measure of one statement, over its tokens (see nesting_limit.h).

#include "engine/parser/nesting_limit.h"

#include <cctype>
#include <vector>

namespace cobalt {

namespace {

bool isOpening(const Token& token) { return token == "(" || token == "[" || token == "{"; }
bool isClosing(const Token& token) { return token == ")" || token == "]" || token == "}"; }
bool isRightAssociative(const Token& token) { return token == "^" || token == "<-" || token == "->"; }
bool isPrefixOperator(const Token& token)
{
    return token == "-" || token == "+" || token == "!" || token == "#" || token == "not";
}

// A value (name, number, string, closing bracket) ends an operand: an operator after it
// is binary. Word operators are no values.
bool endsOperand(const Token& token)
{
    if (token.empty()) return false;
    if (isClosing(token)) return true;
    if (token == "not" || token == "and" || token == "or") return false;
    const auto first = static_cast<unsigned char>(token.front());
    return std::isalnum(first) || first == '_' || first == '"' || first == '\'' || first == '$' || first >= 0x80;
}

} // namespace

size_t findExcessiveNesting(const TokenList& tokens, size_t limit)
{
    std::vector<size_t> openedAt;  // the level at each open bracket
    size_t bracketLevel = 0;       // levels of the open brackets
    size_t level = 0;              // plus the operators still waiting for their operand
    bool afterOperand = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (isOpening(token)) {
            openedAt.push_back(level);
            bracketLevel = ++level;
            afterOperand = false;
        } else if (isClosing(token)) {
            if (!openedAt.empty()) {
                level = openedAt.back();
                openedAt.pop_back();
                // Back in the enclosing bracket, whose operands start one above its opening.
                bracketLevel = openedAt.empty() ? 0 : openedAt.back() + 1;
            }
            afterOperand = true;
        } else if (afterOperand && isRightAssociative(token)) {
            ++level;
            afterOperand = false;
        } else if (!afterOperand && isPrefixOperator(token)) {
            ++level;
        } else if (endsOperand(token)) {
            afterOperand = true;
        } else {
            // A binary operator, a comma or an assignment: every operand before it is done.
            level = bracketLevel;
            afterOperand = false;
        }
        if (level > limit) return i;
    }
    return tokens.size();
}

} // namespace cobalt
