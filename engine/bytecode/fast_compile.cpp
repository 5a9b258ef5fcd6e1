// The fast-expression compiler: a precedence-climbing parser over one token range of a line
// that builds a FastExpression tree instead of evaluating. It follows the grammar of the
// token evaluator exactly (the same operator table, the same bare-`not` boundaries, the same
// order of literal checks); whatever it cannot express, or any doubt about where the token
// evaluator would stop, leaves the range without a fast form so the token evaluator decides.
//
// The compiler has no engine, so it cannot measure the native stack: nesting is bounded by a
// fixed limit instead, which also bounds the recursion of the tree evaluators.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/bytecode/fast_expression.h"
#include "engine/eval/operator_table.h"
#include "engine/lexer/token_analysis.h"
#include "engine/parser/parsed_script_line.h"

namespace cobalt {

namespace {

// Deepest tree (and parser recursion) a fast form may have; deeper ranges are left to the
// token evaluator, which guards its own recursion.
constexpr int kMaxFastTreeHeight = 160;

FastExprNodeKind binaryNodeKind(BinaryOperator op)
{
    switch (op) {
    case BinaryOperator::Or: return FastExprNodeKind::Or;
    case BinaryOperator::And: return FastExprNodeKind::And;
    case BinaryOperator::Equal: return FastExprNodeKind::Equal;
    case BinaryOperator::NotEqual: return FastExprNodeKind::NotEqual;
    case BinaryOperator::Less: return FastExprNodeKind::Less;
    case BinaryOperator::Greater: return FastExprNodeKind::Greater;
    case BinaryOperator::LessEqual: return FastExprNodeKind::LessEqual;
    case BinaryOperator::GreaterEqual: return FastExprNodeKind::GreaterEqual;
    case BinaryOperator::Add: return FastExprNodeKind::Add;
    case BinaryOperator::Subtract: return FastExprNodeKind::Subtract;
    case BinaryOperator::Multiply: return FastExprNodeKind::Multiply;
    case BinaryOperator::Divide: return FastExprNodeKind::Divide;
    case BinaryOperator::IntDivide: return FastExprNodeKind::IntDivide;
    case BinaryOperator::Modulo: return FastExprNodeKind::Modulo;
    case BinaryOperator::Power: return FastExprNodeKind::Power;
    case BinaryOperator::Tetration: return FastExprNodeKind::Tetration;
    case BinaryOperator::Pentation: return FastExprNodeKind::Pentation;
    case BinaryOperator::None: break;
    }
    return FastExprNodeKind::Invalid;
}

// Whether a binary node may yield a float (selects whether the int-only path is worth trying).
bool binaryMayBeFloat(FastExprNodeKind kind, bool left, bool right)
{
    switch (kind) {
    case FastExprNodeKind::Divide:
    case FastExprNodeKind::Power:
    case FastExprNodeKind::Tetration:
    case FastExprNodeKind::Pentation:
        return true;
    case FastExprNodeKind::IntDivide:
        return false;
    default:
        return left || right;
    }
}

class FastCompiler {
public:
    FastCompiler(const TokenList& tokens, const AnalysisList& analyses, uint32_t begin, uint32_t end,
                 FastExpression& out)
        : m_tokens(tokens), m_analyses(analyses), m_pos(begin), m_end(end), m_out(out)
    {
    }

    // Parses the whole range; the root index, or -1.
    int32_t run()
    {
        const int32_t root = parseExpression(kLowestLevel, 0);
        if (root < 0 || m_pos != m_end) return -1;
        // The token evaluator does not know the range: it would read on over an operator or a
        // postfix bracket right after it, so such a range is not the expression it evaluates.
        if (m_end < m_tokens.size()) {
            const Token& next = m_tokens[m_end];
            if (next == "(" || next == "[" || findBinaryOperator(next) != nullptr) return -1;
        }
        return root;
    }

private:
    bool atEnd() const { return m_pos >= m_end; }
    const Token& current() const { return m_tokens[m_pos]; }
    bool currentIs(std::string_view text) const { return !atEnd() && current() == text; }
    uint32_t lastConsumed() const { return m_pos - 1; }

    int height(int32_t node) const { return node < 0 ? 0 : m_heights[static_cast<size_t>(node)]; }

    int32_t addNode(FastExprNode record)
    {
        record.tokenIndex = lastConsumed();
        record.spanEnd = record.tokenIndex;
        int childHeight = std::max(height(record.left), height(record.right));
        if (record.left >= 0) record.hasCall = record.hasCall || node(record.left).hasCall;
        if (record.right >= 0) record.hasCall = record.hasCall || node(record.right).hasCall;
        if (record.kind == FastExprNodeKind::Call) {
            const FastCallExpression& call = m_out.calls[static_cast<size_t>(record.intValue)];
            for (int32_t argument : call.arguments) childHeight = std::max(childHeight, height(argument));
        }
        if (record.kind == FastExprNodeKind::ArrayLiteral || record.kind == FastExprNodeKind::TableLiteral) {
            for (int32_t value : m_out.literals[static_cast<size_t>(record.intValue)].values) {
                childHeight = std::max(childHeight, height(value));
                record.hasCall = record.hasCall || node(value).hasCall;
            }
        }
        if (childHeight + 1 > kMaxFastTreeHeight) return -1;
        m_out.nodes.push_back(record);
        m_heights.push_back(childHeight + 1);
        return static_cast<int32_t>(m_out.nodes.size() - 1);
    }

    FastExprNode& node(int32_t index) { return m_out.nodes[static_cast<size_t>(index)]; }

    // expression -> operand { binary-operator expression }
    int32_t parseExpression(int minLevel, int depth)
    {
        if (depth > kMaxFastTreeHeight) return -1;
        int32_t left = parseOperand(depth + 1);
        while (left >= 0 && !atEnd()) {
            const BinaryOperatorInfo* info = findBinaryOperator(current());
            if (info == nullptr || info->level < minLevel) break;
            ++m_pos;
            const int32_t right = parseExpression(rightOperandLevel(*info), depth + 1);
            if (right < 0) return -1;
            FastExprNode binary;
            binary.kind = binaryNodeKind(info->op);
            binary.left = left;
            binary.right = right;
            binary.mayBeFloat = binaryMayBeFloat(binary.kind, node(left).mayBeFloat, node(right).mayBeFloat);
            left = addNode(binary);
        }
        return left;
    }

    // operand -> prefix-operator expression(7) | "not" | primary { postfix }
    int32_t parseOperand(int depth)
    {
        if (atEnd()) return -1;
        const Token& token = current();
        if (token == "+") {
            ++m_pos;
            return parseExpression(kUnaryOperandLevel, depth);
        }
        if (token == "-") return parsePrefix(FastExprNodeKind::Negate, depth);
        if (token == "!") return parsePrefix(FastExprNodeKind::LogicalNot, depth);
        if (token == "#") return parsePrefix(FastExprNodeKind::Length, depth);
        if (token == "not") return parseNot(depth);
        const int32_t primary = parsePrimary(depth);
        return primary < 0 ? -1 : parsePostfix(primary, depth);
    }

    int32_t parsePrefix(FastExprNodeKind kind, int depth)
    {
        ++m_pos;
        const int32_t operand = parseExpression(kUnaryOperandLevel, depth);
        if (operand < 0) return -1;
        FastExprNode prefix;
        prefix.kind = kind;
        prefix.left = operand;
        prefix.mayBeFloat = kind == FastExprNodeKind::Negate && node(operand).mayBeFloat;
        return addNode(prefix);
    }

    // A bare `not` is the absent value; `not` before an operand negates it. Where the range
    // ends, the token evaluator looks at the token after it, so the compiler does too.
    int32_t parseNot(int depth)
    {
        ++m_pos;
        bool bare = false;
        if (atEnd()) {
            if (m_pos < m_tokens.size() && !endsBareNot(m_tokens[m_pos])) return -1;
            bare = true;
        } else {
            bare = endsBareNot(current());
        }
        if (bare) {
            FastExprNode empty;
            empty.kind = FastExprNodeKind::EmptyLiteral;
            return addNode(empty);
        }
        return parseNotOperand(depth);
    }

    int32_t parseNotOperand(int depth)
    {
        const int32_t operand = parseExpression(kUnaryOperandLevel, depth);
        if (operand < 0) return -1;
        FastExprNode negation;
        negation.kind = FastExprNodeKind::LogicalNot;
        negation.left = operand;
        return addNode(negation);
    }

    // primary -> "(" expression ")" | string | true | false | name | number
    int32_t parsePrimary(int depth)
    {
        const Token& token = current();
        if (token.empty()) return -1;
        if (token == "(") {
            ++m_pos;
            const int32_t inner = parseExpression(kLowestLevel, depth + 1);
            if (inner < 0 || !currentIs(")")) return -1;
            ++m_pos;
            node(inner).spanEnd = lastConsumed();
            return inner;
        }
        if (isQuotedToken(token)) return addStringLiteral(token);
        if (token == "[") return parseArrayLiteral(depth);
        if (token == "{") return parseBraceLiteral(depth);
        return parseWord(m_analyses[m_pos]);
    }

    // The entries of a literal up to its `closing` bracket, the opening one consumed: none, or
    // `entry` { "," entry }. False wherever the token evaluator might read it otherwise.
    template <class Entry>
    bool parseEntries(std::string_view closing, Entry&& entry)
    {
        if (currentIs(closing)) {
            ++m_pos;
            return true;
        }
        while (true) {
            if (!entry() || atEnd()) return false;
            if (current() == closing) {
                ++m_pos;
                return true;
            }
            if (current() != ",") return false;
            ++m_pos;
        }
    }

    // "[" [ expression { "," expression } ] "]"
    int32_t parseArrayLiteral(int depth)
    {
        ++m_pos;
        FastLiteralExpression literal;
        const bool parsed = parseEntries("]", [&] {
            const int32_t element = parseExpression(kLowestLevel, depth + 1);
            literal.values.push_back(element);
            return element >= 0;
        });
        return parsed ? addLiteral(FastExprNodeKind::ArrayLiteral, std::move(literal)) : -1;
    }

    // "{" "}" | "{" entry { "," entry } "}" where the entries are either all positional or
    // all keyed by a single token (name ":" value, or with "="). A computed key ("[" ...) or
    // a mix of both kinds of entry is left to the token evaluator, as is any failure.
    int32_t parseBraceLiteral(int depth)
    {
        ++m_pos;
        FastLiteralExpression literal;
        bool keyed = false;
        const bool parsed = parseEntries("}", [&] {
            if (atEnd() || current() == "[") return false;
            const bool named = m_pos + 1 < m_tokens.size() && isBraceKeySeparator(m_tokens[m_pos + 1]);
            if (literal.values.empty()) keyed = named;
            if (named != keyed) return false;
            if (named) {
                std::string key;
                if (!braceKeyText(key)) return false;
                literal.keys.push_back(std::move(key));
                m_pos += 2;
            }
            const int32_t value = parseExpression(kLowestLevel, depth + 1);
            literal.values.push_back(value);
            return value >= 0;
        });
        if (!parsed) return -1;
        // {} is a table; entries without keys make an array.
        const bool table = keyed || literal.values.empty();
        return addLiteral(table ? FastExprNodeKind::TableLiteral : FastExprNodeKind::ArrayLiteral, std::move(literal));
    }

    static bool isBraceKeySeparator(const Token& token) { return token == ":" || token == "="; }

    // The key the token at the position gives an entry, spelled as the token evaluator spells
    // it; false for a token that is no valid key (the token evaluator reports it).
    bool braceKeyText(std::string& out) const
    {
        const Token& token = current();
        if (isQuotedToken(token)) {
            out = decodeStringToken(token);
            return true;
        }
        const TokenAnalysis& analysis = m_analyses[m_pos];
        if (!analysis.isIdentifier && !analysis.isTrue && !analysis.isFalse && !tokenLooksNumeric(token)) return false;
        out = token;
        return true;
    }

    int32_t addLiteral(FastExprNodeKind kind, FastLiteralExpression literal)
    {
        m_out.literals.push_back(std::move(literal));
        m_out.hasContainerLiteral = true;
        FastExprNode record;
        record.kind = kind;
        record.intValue = static_cast<int32_t>(m_out.literals.size() - 1);
        return addNode(record);
    }

    int32_t addStringLiteral(const Token& token)
    {
        m_out.strings.push_back(decodeStringToken(token));
        ++m_pos;
        FastExprNode literal;
        literal.kind = FastExprNodeKind::StringLiteral;
        literal.intValue = static_cast<int32_t>(m_out.strings.size() - 1);
        return addNode(literal);
    }

    // A single-token literal or name, checked in the token evaluator's order.
    int32_t parseWord(const TokenAnalysis& analysis)
    {
        const Token& token = current();
        FastExprNode word;
        if (analysis.isTrue || analysis.isFalse) {
            word.kind = FastExprNodeKind::BoolLiteral;
            word.boolValue = analysis.isTrue;
        } else if (void* pointer = nullptr; token.front() == '$' && parsePointerLiteral(token, pointer)) {
            return -1;  // pointer literals have no fast form
        } else if (analysis.isIdentifier) {
            word.kind = FastExprNodeKind::Variable;
        } else if (analysis.isNumeric) {
            if (!analysis.hasFloatMarker && analysis.isInteger) {
                word.kind = FastExprNodeKind::IntLiteral;
                word.intValue = analysis.intValue;
            } else {
                float number = 0.0f;
                if (!parseFloatStrict(token, number)) return -1;  // "Invalid numeric format" is the evaluator's
                word.kind = FastExprNodeKind::FloatLiteral;
                word.floatValue = number;
                word.mayBeFloat = true;
            }
        } else {
            return -1;  // "[", "{", "...", and unknown tokens
        }
        ++m_pos;
        return addNode(word);
    }

    // postfix -> "[" expression "]" | "(" [ expression { "," expression } ] ")"
    int32_t parsePostfix(int32_t operand, int depth)
    {
        while (operand >= 0 && !atEnd()) {
            if (current() == "[") {
                operand = parseIndex(operand, depth);
            } else if (current() == "(") {
                operand = parseCall(operand, depth);
            } else {
                break;
            }
        }
        return operand;
    }

    int32_t parseIndex(int32_t container, int depth)
    {
        ++m_pos;
        const int32_t key = parseExpression(kLowestLevel, depth + 1);
        if (key < 0 || !currentIs("]")) return -1;
        ++m_pos;
        FastExprNode index;
        index.kind = FastExprNodeKind::Index;
        index.left = container;
        index.right = key;
        return addNode(index);
    }

    int32_t parseCall(int32_t callee, int depth)
    {
        ++m_pos;
        FastCallExpression call;
        call.callee = callee;
        if (currentIs(")")) {
            ++m_pos;
        } else {
            while (true) {
                const int32_t argument = parseExpression(kLowestLevel, depth + 1);
                if (argument < 0 || atEnd()) return -1;
                call.arguments.push_back(argument);
                if (current() == ")") {
                    ++m_pos;
                    break;
                }
                if (current() != ",") return -1;
                ++m_pos;
            }
        }
        m_out.calls.push_back(std::move(call));
        FastExprNode callNode;
        callNode.kind = FastExprNodeKind::Call;
        callNode.left = callee;
        callNode.intValue = static_cast<int32_t>(m_out.calls.size() - 1);
        callNode.hasCall = true;
        return addNode(callNode);
    }

    const TokenList& m_tokens;
    const AnalysisList& m_analyses;
    uint32_t m_pos;
    uint32_t m_end;
    FastExpression& m_out;
    std::vector<int> m_heights;
};

// The step for `kind` with the right operand on the stack (Binary), an int literal (BinaryInt)
// or a name (BinaryName): the operator's own step where it has one.
FastFlatOp operatorStep(FastFlatOp form, FastExprNodeKind kind)
{
    switch (kind) {
#define COBALT_FAST_FLAT_CASE(name)                                                                          \
    case FastExprNodeKind::name:                                                                             \
        return form == FastFlatOp::Binary ? FastFlatOp::name                                                 \
                                          : (form == FastFlatOp::BinaryInt ? FastFlatOp::name##Int : FastFlatOp::name##Name);
        COBALT_FAST_FLAT_OPERATORS(COBALT_FAST_FLAT_CASE)
#undef COBALT_FAST_FLAT_CASE
    default: return form;
    }
}

// Builds the post-order steps of a tree, tracking the operand stack's depth.
class FastFlattener {
public:
    explicit FastFlattener(const FastExpression& expression) : m_expression(expression) {}

    bool run(std::vector<FastFlatStep>& out)
    {
        const int32_t root = m_expression.root;
        if (node(root).kind == FastExprNodeKind::Add && isStringChain(root)) return false;
        if (!emit(root) || m_depth != 1 || m_maxDepth > static_cast<int>(kFastFlatStackLimit)) return false;
        push(FastFlatOp::Return, root, 0);
        out = std::move(m_steps);
        return true;
    }

private:
    const FastExprNode& node(int32_t index) const { return m_expression.nodes[static_cast<size_t>(index)]; }
    bool validIndex(int32_t index) const
    {
        return index >= 0 && static_cast<size_t>(index) < m_expression.nodes.size();
    }

    // "a" + toString(x) + ...: the string path's shape, which evaluation tries first.
    bool isStringChain(int32_t index) const
    {
        const FastExprNode& n = node(index);
        if (n.kind == FastExprNodeKind::Add) return isStringChain(n.left) && isStringChain(n.right);
        return n.kind == FastExprNodeKind::StringLiteral || n.kind == FastExprNodeKind::Call;
    }

    void push(FastFlatOp op, int32_t nodeIndex, int change)
    {
        FastFlatStep step;
        step.op = op;
        step.node = nodeIndex;
        m_steps.push_back(step);
        m_depth += change;
        m_maxDepth = std::max(m_maxDepth, m_depth);
    }

    bool emit(int32_t index)
    {
        if (!validIndex(index)) return false;
        const FastExprNode& n = node(index);
        switch (n.kind) {
        case FastExprNodeKind::IntLiteral:
        case FastExprNodeKind::BoolLiteral:
            push(n.kind == FastExprNodeKind::IntLiteral ? FastFlatOp::Int : FastFlatOp::Bool, index, 1);
            m_steps.back().intValue = n.kind == FastExprNodeKind::IntLiteral ? n.intValue : (n.boolValue ? 1 : 0);
            return true;
        case FastExprNodeKind::FloatLiteral:
            push(FastFlatOp::Float, index, 1);
            m_steps.back().floatValue = n.floatValue;
            return true;
        case FastExprNodeKind::EmptyLiteral: push(FastFlatOp::Empty, index, 1); return true;
        case FastExprNodeKind::Variable: push(FastFlatOp::Variable, index, 1); return true;
        case FastExprNodeKind::Index: return emitIndex(index, n);
        case FastExprNodeKind::Length:
            // Only a name's length: any other operand is built as a value first.
            if (!validIndex(n.left) || node(n.left).kind != FastExprNodeKind::Variable) return false;
            push(FastFlatOp::Length, index, 1);
            return true;
        case FastExprNodeKind::Call:
            if (n.intValue < 0 || static_cast<size_t>(n.intValue) >= m_expression.calls.size()) return false;
            push(FastFlatOp::Call, index, 1);
            return true;
        case FastExprNodeKind::Negate:
        case FastExprNodeKind::LogicalNot:
            if (!emit(n.left)) return false;
            push(n.kind == FastExprNodeKind::Negate ? FastFlatOp::Negate : FastFlatOp::Not, index, 0);
            return true;
        case FastExprNodeKind::And:
        case FastExprNodeKind::Or: {
            if (!emit(n.left)) return false;
            const size_t skip = m_steps.size();
            push(n.kind == FastExprNodeKind::And ? FastFlatOp::AndSkip : FastFlatOp::OrSkip, -1, -1);
            if (!emit(n.right)) return false;
            m_steps[skip].node = static_cast<int32_t>(m_steps.size());
            return true;
        }
        default:
            break;
        }
        if (n.kind < FastExprNodeKind::Add || n.kind > FastExprNodeKind::GreaterEqual ||
            n.kind == FastExprNodeKind::Tetration || n.kind == FastExprNodeKind::Pentation) {
            return false;  // strings and hyper-operations stay with the tree paths
        }
        if (!emit(n.left) || !validIndex(n.right)) return false;
        // A literal or a name on the right is read by the operator's own step.
        const FastExprNode& right = node(n.right);
        if (right.kind == FastExprNodeKind::IntLiteral) {
            push(FastFlatOp::BinaryInt, index, 0);
            m_steps.back().intValue = right.intValue;
        } else if (right.kind == FastExprNodeKind::FloatLiteral) {
            push(FastFlatOp::BinaryFloat, index, 0);
            m_steps.back().floatValue = right.floatValue;
        } else if (right.kind == FastExprNodeKind::Variable) {
            push(FastFlatOp::BinaryName, n.right, 0);
        } else {
            if (!emit(n.right)) return false;
            push(FastFlatOp::Binary, index, -1);
        }
        FastFlatStep& step = m_steps.back();
        step.kind = n.kind;
        if (step.op != FastFlatOp::BinaryFloat) step.op = operatorStep(step.op, n.kind);
        return true;
    }

    // Elements of a container named by a plain name, read in place.
    bool emitIndex(int32_t index, const FastExprNode& n)
    {
        if (!validIndex(n.left) || !validIndex(n.right) || node(n.left).kind != FastExprNodeKind::Variable) return false;
        const FastExprNode& key = node(n.right);
        if (key.kind == FastExprNodeKind::StringLiteral) {
            if (key.intValue < 0 || static_cast<size_t>(key.intValue) >= m_expression.strings.size()) return false;
            push(FastFlatOp::Field, index, 1);
            return true;
        }
        if (key.kind == FastExprNodeKind::Variable) {
            push(FastFlatOp::IndexByName, index, 1);
            return true;
        }
        if (!emit(n.right)) return false;
        push(FastFlatOp::Index, index, 0);
        return true;
    }

    const FastExpression& m_expression;
    std::vector<FastFlatStep> m_steps;
    int m_depth = 0;
    int m_maxDepth = 0;
};

} // namespace

namespace {

// Gives every name the flat form reads more than once a shared slot. Only where no step
// calls anything: between two reads nothing then runs that could rebind the name or move
// its variable, so both reads find the same variable.
void shareNameReads(FastExpression& expression, const TokenList& tokens)
{
    for (const FastFlatStep& step : expression.flat) {
        if (step.op == FastFlatOp::Call) return;
    }
    std::vector<FastExprNode*> names;
    for (FastExprNode& n : expression.nodes) {
        if (n.kind == FastExprNodeKind::Variable && n.tokenIndex < tokens.size()) names.push_back(&n);
    }
    uint8_t slots = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i]->flatNameSlot >= 0) continue;
        const Token& name = tokens[names[i]->tokenIndex];
        for (size_t j = i + 1; j < names.size(); ++j) {
            if (names[j]->flatNameSlot >= 0 || tokens[names[j]->tokenIndex] != name) continue;
            if (slots == kFastFlatNameSlots) {
                expression.flatNameSlots = slots;
                return;
            }
            names[i]->flatNameSlot = static_cast<int8_t>(slots);
            names[j]->flatNameSlot = static_cast<int8_t>(slots);
        }
        if (names[i]->flatNameSlot >= 0) ++slots;
    }
    expression.flatNameSlots = slots;
}

/// The shape of a string-append chain: string literals and one-argument calls written as
/// toString(x), without a call inside x, joined by +. Whether toString is still the builtin
/// is decided when the chain is evaluated.
bool hasStringChainShape(const FastExpression& expression, const TokenList& tokens, int32_t index, int depth)
{
    if (index < 0 || static_cast<size_t>(index) >= expression.nodes.size() || depth > kMaxFastTreeHeight) return false;
    const FastExprNode& n = expression.nodes[static_cast<size_t>(index)];
    switch (n.kind) {
    case FastExprNodeKind::Add:
        return hasStringChainShape(expression, tokens, n.left, depth + 1) &&
               hasStringChainShape(expression, tokens, n.right, depth + 1);
    case FastExprNodeKind::StringLiteral: return true;
    case FastExprNodeKind::Call: {
        if (n.intValue < 0 || static_cast<size_t>(n.intValue) >= expression.calls.size()) return false;
        const FastCallExpression& call = expression.calls[static_cast<size_t>(n.intValue)];
        if (call.arguments.size() != 1 || call.callee < 0 ||
            static_cast<size_t>(call.callee) >= expression.nodes.size()) {
            return false;
        }
        const FastExprNode& callee = expression.nodes[static_cast<size_t>(call.callee)];
        return callee.kind == FastExprNodeKind::Variable && callee.tokenIndex < tokens.size() &&
               tokens[callee.tokenIndex] == "toString";
    }
    default: return false;
    }
}

} // namespace

void flattenFastExpression(FastExpression& expression, const TokenList& tokens)
{
    expression.flat.clear();
    expression.flatNameSlots = 0;
    for (FastExprNode& n : expression.nodes) n.flatNameSlot = -1;
    if (!expression.valid() || static_cast<size_t>(expression.root) >= expression.nodes.size()) return;
    expression.mayBeStringChain = hasStringChainShape(expression, tokens, expression.root, 0);
    FastFlattener flattener(expression);
    if (!flattener.run(expression.flat)) {
        expression.flat.clear();
        return;
    }
    shareNameReads(expression, tokens);
}

FastExpression compileFastExpressionRange(const TokenList& tokens, const AnalysisList& analyses,
                                          const TokenRange& range)
{
    FastExpression expression;
    if (range.empty() || range.end > tokens.size() || analyses.size() != tokens.size()) return expression;
    FastCompiler compiler(tokens, analyses, range.begin, range.end, expression);
    const int32_t root = compiler.run();
    if (root < 0) return FastExpression{};
    expression.root = root;
    flattenFastExpression(expression, tokens);
    return expression;
}

} // namespace cobalt
