// Evaluation of fast expression trees. Three cheap paths come first (string appends, scalars,
// ints; fast_scalar.cpp); the value path mirrors the token evaluator node by node and is the one that reports
// failures. The rules that keep every path equal to the token evaluator:
// - the cheap paths are pure: they read variables and call only builtins without effects,
//   and they give up (return false) instead of failing, so the value path can start over
//   and raise the error at the same place with the same message;
// - arithmetic goes through the same kernels as performOperation (engine/eval/arithmetic.h);
// - a failure names the token the token evaluator would have read last (the node's
//   tokenIndex), and a completed evaluation leaves the near-token where it would leave it;
// - a value read in place is used before anything that could run script code.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/bytecode/fast_body.h"
#include "engine/bytecode/fast_evaluator.h"
#include "engine/bytecode/int_function.h"
#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/eval/arithmetic.h"
#include "engine/scope/cached_resolution.h"

namespace cobalt {

namespace {

const Variable kAbsent;

// How many tree levels the value path descends between two native-stack checks.
constexpr int kStackCheckInterval = 16;

// After the flat form gave up (a string or a container where it wants a scalar), this many
// evaluations of the expression go straight to the tree paths.
constexpr uint8_t kFlatRetryInterval = 64;

/// The flat form's answer, unless it has none or gave up lately; false sends the caller on
/// to the tree paths, which decide the same cases (and more).
bool tryFlatForm(FastEvaluator& evaluator, const FastExpression& expression, FastScalarValue& out)
{
    if (expression.flat.empty()) return false;
    if (expression.flatSkips != 0) {
        --expression.flatSkips;
        return false;
    }
    if (evaluator.flatScalar(out)) return true;
    expression.flatSkips = kFlatRetryInterval;
    return false;
}

/// The whole expression by its flat form, with the native-stack check and the near-token of
/// evaluateByCheapestPath: the common case, kept apart (evaluateByCheapestPath is not inlined
/// into its callers) so that it sets up nothing else.
/// False (with no effect) sends the caller to evaluateByCheapestPath.
bool decideByFlatForm(CobaltScript& engine, const FastExpression& expression, const ParsedScriptLine& line,
                      FastScalarValue& out)
{
    if (expression.flat.empty()) return false;  // also every invalid expression
    if (expression.flatSkips != 0) {
        --expression.flatSkips;
        return false;
    }
    engine.checkNativeStack();
    FastEvaluator evaluator(engine, expression, line);
    if (!evaluator.flatScalar(out)) {
        expression.flatSkips = kFlatRetryInterval;
        return false;
    }
    evaluator.markNear(expression.nodes[static_cast<size_t>(expression.root)].spanEnd);
    return true;
}

Variable scalarVariable(const FastScalarValue& scalar)
{
    switch (scalar.kind) {
    case FastScalarValue::Int: return Variable(scalar.intValue);
    case FastScalarValue::Float: return Variable(static_cast<float>(scalar.floatValue));
    case FastScalarValue::Bool: return Variable(scalar.boolValue);
    default: return Variable();
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// FastEvaluator: the value path
// ---------------------------------------------------------------------------------------

void FastEvaluator::invalidNode()
{
    fail("Invalid fast expression node");
}

void FastEvaluator::markNear(uint32_t tokenIndex) const
{
    if (tokenIndex < m_line.tokens.size()) m_engine.markNearToken(m_line, tokenIndex);
}

const Variable* FastEvaluator::lookUpUncached(const FastExprNode& variable) const
{
    const uint32_t index = variable.tokenIndex;
    if (index >= m_tokenCount) fail("Invalid fast expression node");
    const TokenAnalysis* analysis = index < m_analysisCount ? &m_line.analyses[index] : nullptr;
    return m_engine.resolveVariableFastPtr(m_line.tokens[index], analysis);
}

const Variable& FastEvaluator::operand(int32_t index, Variable& scratch, int depth)
{
    const FastExprNode& operandNode = node(index);
    if (operandNode.kind == FastExprNodeKind::Variable) {
        const Variable* found = lookUp(operandNode);
        return found ? *found : kAbsent;
    }
    scratch = value(index, depth);
    return scratch;
}

Variable FastEvaluator::value(int32_t index, int depth)
{
    if (depth % kStackCheckInterval == kStackCheckInterval - 1) m_engine.checkNativeStack();
    const FastExprNode& n = node(index);
    switch (n.kind) {
    case FastExprNodeKind::IntLiteral: return Variable(n.intValue);
    case FastExprNodeKind::FloatLiteral: return Variable(n.floatValue);
    case FastExprNodeKind::StringLiteral: return Variable(stringLiteral(n));
    case FastExprNodeKind::BoolLiteral: return Variable(n.boolValue);
    case FastExprNodeKind::EmptyLiteral: return Variable();
    case FastExprNodeKind::Variable: {
        const Variable* found = lookUp(n);
        return found ? *found : Variable();
    }
    case FastExprNodeKind::Index: return indexValue(n, depth + 1);
    case FastExprNodeKind::Call: return callValue(n, depth + 1);
    case FastExprNodeKind::Negate: return negateValue(n, depth + 1);
    case FastExprNodeKind::LogicalNot: return Variable(!value(n.left, depth + 1).truthy());
    case FastExprNodeKind::Length: return lengthValue(n, depth + 1);
    case FastExprNodeKind::And:
    case FastExprNodeKind::Or: return logicalValue(n, depth + 1);
    case FastExprNodeKind::ArrayLiteral:
    case FastExprNodeKind::TableLiteral: return literalValue(n, depth + 1);
    default: return binaryValue(n, depth + 1);
    }
}

const std::string& FastEvaluator::stringLiteral(const FastExprNode& literal) const
{
    if (literal.intValue < 0 || static_cast<size_t>(literal.intValue) >= m_expression.strings.size()) {
        fail("Invalid fast expression node");
    }
    return m_expression.strings[static_cast<size_t>(literal.intValue)];
}

bool FastEvaluator::literalField(const Variable& container, const FastExprNode& key, const Variable*& field) const
{
    if (key.kind != FastExprNodeKind::StringLiteral || container.type != VarType::Table || key.intValue < 0 ||
        static_cast<size_t>(key.intValue) >= m_expression.strings.size()) {
        return false;
    }
    const auto& map = container.asTable()->map;
    const auto found = map.find(m_expression.strings[static_cast<size_t>(key.intValue)]);
    field = found == map.end() ? nullptr : &found->second;
    return true;
}

Variable FastEvaluator::indexValue(const FastExprNode& n, int depth)
{
    // The container is read in place only when the key cannot run code that changes it.
    Variable containerCopy;
    Variable keyScratch;
    const Variable& container =
        node(n.right).hasCall ? (containerCopy = value(n.left, depth), containerCopy) : operand(n.left, containerCopy, depth);
    const FastExprNode& keyNode = node(n.right);
    if (const Variable* field = nullptr; literalField(container, keyNode, field)) {
        return field ? *field : Variable();
    }
    // A computed key over plain values (a[(i * 7 + r) % n + 1]) through the scalar path, as
    // argumentValue computes such an argument: the same key without a value per node.
    FastScalarValue scalarKey;
    const bool scalar = !keyNode.hasCall && keyNode.kind >= FastExprNodeKind::Negate &&
                        keyNode.kind != FastExprNodeKind::Length && scalarNode(n.right, scalarKey);
    if (scalar) assignFastScalarToVariable(scalarKey, keyScratch);
    const Variable& key = scalar ? keyScratch : operand(n.right, keyScratch, depth);
    try {
        return m_engine.getIndexedValue(container, key);
    } catch (...) {
        markNear(n.tokenIndex);
        throw;
    }
}

// The entries are evaluated in order and stored as they come, as the token evaluator does: a
// table gains its keys in the same order, so a pairs walk over it goes the same way.
Variable FastEvaluator::literalValue(const FastExprNode& n, int depth)
{
    if (n.intValue < 0 || static_cast<size_t>(n.intValue) >= m_expression.literals.size()) invalidNode();
    const FastLiteralExpression& literal = m_expression.literals[static_cast<size_t>(n.intValue)];
    if (n.kind == FastExprNodeKind::ArrayLiteral) {
        std::vector<Variable> items;
        items.reserve(literal.values.size());
        for (const int32_t element : literal.values) items.push_back(value(element, depth));
        return Variable::makeArray(std::move(items));
    }
    if (literal.keys.size() != literal.values.size()) invalidNode();
    auto table = makeTableRef();
    for (size_t i = 0; i < literal.values.size(); ++i) {
        Variable element = value(literal.values[i], depth);
        if (table->map.insert_or_assign(literal.keys[i], std::move(element)).second) {
            CobaltScript::bumpTableVersion(*table);
        }
    }
    return Variable(std::move(table));
}

Variable FastEvaluator::callValue(const FastExprNode& n, int depth)
{
    if (n.intValue < 0 || static_cast<size_t>(n.intValue) >= m_expression.calls.size()) {
        fail("Invalid fast call argument range");
    }
    const FastCallExpression& call = m_expression.calls[static_cast<size_t>(n.intValue)];
    if (Variable result; intFunctionCall(n, call, result)) return result;
    const size_t count = call.arguments.size();
    ArgumentSlots arguments(count);
    const Variable* const args = count == 0 ? &kAbsent : arguments.data();
    // A function named by a plain name with arguments that call nothing (f(n - 1)) is read in
    // place once the arguments are computed: nothing in between can rebind or move it, and
    // the call path holds the function itself while it runs.
    bool argumentsCall = false;
    for (const int32_t argument : call.arguments) argumentsCall = argumentsCall || node(argument).hasCall;
    if (node(call.callee).kind == FastExprNodeKind::Variable && !argumentsCall) {
        for (size_t i = 0; i < count; ++i) argumentValue(call.arguments[i], arguments[i], depth);
        const Variable* found = lookUp(node(call.callee));
        return invoke(n, found ? *found : kAbsent, args, count);
    }
    // Copied: the arguments may rebind the name that held the function.
    const Variable callee = value(call.callee, depth);
    for (size_t i = 0; i < count; ++i) argumentValue(call.arguments[i], arguments[i], depth);
    return invoke(n, callee, args, count);
}

bool FastEvaluator::intFunctionCall(const FastExprNode& n, const FastCallExpression& call, Variable& out)
{
    const size_t count = call.arguments.size();
    if (count > kMaxIntArguments || m_engine.calls.callDepth >= kFastCallDepthLimit) return false;
    // The callee: a name (f(x)) or a field (object["method"](object, x)), read in place.
    const FastExprNode& calleeNode = node(call.callee);
    const Variable* callee = nullptr;
    // The object a method is read from, which is nearly always its first argument too.
    const FastExprNode* object = nullptr;
    const Variable* objectValue = nullptr;
    if (calleeNode.kind == FastExprNodeKind::Variable) {
        callee = lookUp(calleeNode);
    } else if (calleeNode.kind == FastExprNodeKind::Index && node(calleeNode.left).kind == FastExprNodeKind::Variable) {
        object = &node(calleeNode.left);
        objectValue = lookUp(*object);
        if (objectValue == nullptr || !literalField(*objectValue, node(calleeNode.right), callee)) return false;
    }
    if (callee == nullptr || callee->type != VarType::Function) return false;
    const ScriptCallable* function = callee->asCallable().get();
    if (function == nullptr || function->intCodeState != IntCodeState::Ready) return false;
    // The arguments: names holding ints or tables, int literals, int arithmetic.
    IntSlot slots[kMaxIntArguments];
    for (size_t i = 0; i < count; ++i) {
        const FastExprNode& argument = node(call.arguments[i]);
        if (argument.hasCall) return false;
        if (argument.kind == FastExprNodeKind::Variable) {
            // The same name as the object's is the same variable: nothing ran in between.
            const bool isObject = object != nullptr && i == 0 && argument.tokenIndex < m_tokenCount &&
                                  object->tokenIndex < m_tokenCount &&
                                  m_line.tokens[argument.tokenIndex] == m_line.tokens[object->tokenIndex];
            const Variable* found = isObject ? objectValue : lookUp(argument);
            if (found == nullptr || !intSlotOf(*found, slots[i])) return false;
            continue;
        }
        FastScalarValue scalar;
        if (!scalarNode(call.arguments[i], scalar) || scalar.kind != FastScalarValue::Int) return false;
        slots[i] = IntSlot{scalar.intValue, false, nullptr};
    }
    // What the call path does before it runs an int function: the near-token, the depth of
    // the call, the native stack and the stop boundary.
    markNear(n.tokenIndex);
    const CallDepthGuard depth(m_engine.calls);
    m_engine.checkNativeStack();
    m_engine.checkStopBoundary();
    return tryRunIntFunction(m_engine, *function, slots, count, true, out);
}

namespace {

/// A leaf that holds an int right now: an int literal, or a name whose variable holds one.
inline bool intLeaf(const FastExprNode& leaf, const Variable* found, int32_t& out)
{
    if (leaf.kind == FastExprNodeKind::IntLiteral) {
        out = leaf.intValue;
        return true;
    }
    if (found == nullptr || found->type != VarType::Int) return false;
    out = *std::get_if<int32_t>(&found->value);
    return true;
}

/// Stores an int into an argument slot (a fresh one holds the absent value's int payload).
inline void storeInt(int32_t whole, Variable& out)
{
    if (int32_t* payload = std::get_if<int32_t>(&out.value)) {
        out.type = VarType::Int;
        *payload = whole;
        return;
    }
    out = Variable(whole);
}

} // namespace

void FastEvaluator::argumentValue(int32_t index, Variable& out, int depth)
{
    const FastExprNode& argument = node(index);
    // The commonest arguments, a name (g(x)) and an int operator over names and int literals
    // (f(n - 1), h(i % 7)), are read straight into the slot: what the value path and the
    // int path give for them, without a walk or a value in between.
    if (argument.kind == FastExprNodeKind::Variable) {
        if (depth % kStackCheckInterval == kStackCheckInterval - 1) m_engine.checkNativeStack();
        const Variable* found = lookUp(argument);
        copyValueInto(found ? *found : kAbsent, out);
        return;
    }
    if (argument.kind >= FastExprNodeKind::Add && argument.kind <= FastExprNodeKind::Modulo) {
        const FastExprNode& left = node(argument.left);
        const FastExprNode& right = node(argument.right);
        const bool leftIsLeaf = left.kind == FastExprNodeKind::Variable || left.kind == FastExprNodeKind::IntLiteral;
        const bool rightIsLeaf = right.kind == FastExprNodeKind::Variable || right.kind == FastExprNodeKind::IntLiteral;
        int32_t a = 0;
        int32_t b = 0;
        int32_t whole = 0;
        bool isBool = false;
        // "+", "-" and "*" by the inline kernel, "\" and "%" by the int path's (a zero divisor
        // is left to the paths that fail on it).
        if (leftIsLeaf && rightIsLeaf &&
            intLeaf(left, left.kind == FastExprNodeKind::Variable ? lookUp(left) : nullptr, a) &&
            intLeaf(right, right.kind == FastExprNodeKind::Variable ? lookUp(right) : nullptr, b) &&
            (argument.kind <= FastExprNodeKind::Multiply ? combineInts(argument.kind, a, b, whole, isBool)
                                                         : intArithmetic(argument.kind, a, b, whole))) {
            storeInt(whole, out);
            return;
        }
    }
    // Any other operator over plain values (g(a * 2 + b), f(x / 2)) goes through the scalar
    // path: the same value without building and combining an operand value per node. Calls,
    // whose scalar attempt would mostly repeat the value path's work, go there.
    if (!argument.hasCall && argument.kind >= FastExprNodeKind::Negate && argument.kind != FastExprNodeKind::Length) {
        FastScalarValue scalar;
        if (scalarNode(index, scalar)) {
            assignFastScalarToVariable(scalar, out);
            return;
        }
    }
    out = value(index, depth);
}

Variable FastEvaluator::invoke(const FastExprNode& n, const Variable& callee, const Variable* args, size_t count)
{
    // The token evaluator has read the closing ")" when it calls.
    markNear(n.tokenIndex);
    return m_engine.invokeCallableFast(callee, args, count);
}

Variable FastEvaluator::negateValue(const FastExprNode& n, int depth)
{
    const Variable operandValue = value(n.left, depth);
    switch (operandValue.type) {
    case VarType::Int: return Variable(wrappingNegate(operandValue.asInt()));
    case VarType::Float: return Variable(-operandValue.asFloat());
    case VarType::Bool: return Variable(static_cast<int32_t>(operandValue.asBool() ? -1 : 0));
    default:
        markNear(n.tokenIndex);
        fail("Unary '-' requires a numeric value");
    }
}

Variable FastEvaluator::lengthValue(const FastExprNode& n, int depth)
{
    Variable scratch;
    const Variable& operandValue = operand(n.left, scratch, depth);
    try {
        return Variable(m_engine.arrayLength(operandValue));
    } catch (...) {
        markNear(n.tokenIndex);
        throw;
    }
}

Variable FastEvaluator::logicalValue(const FastExprNode& n, int depth)
{
    Variable left = value(n.left, depth);
    const bool decided = n.kind == FastExprNodeKind::Or ? left.truthy() : !left.truthy();
    if (decided) return left;
    return value(n.right, depth);
}

Variable FastEvaluator::binaryValue(const FastExprNode& n, int depth)
{
    const bool comparison = n.kind == FastExprNodeKind::Equal || n.kind == FastExprNodeKind::NotEqual ||
                            isComparison(n.kind);
    const char op = arithmeticOperator(n.kind);
    if (!comparison && op == 0 && n.kind != FastExprNodeKind::Tetration && n.kind != FastExprNodeKind::Pentation) {
        fail("Invalid fast expression node");
    }
    if (n.kind == FastExprNodeKind::Add && node(n.left).kind == FastExprNodeKind::StringLiteral) {
        // "key" + i: the text starts as the literal's, and the right operand's is appended
        // (the literal itself has no effect to keep in order).
        Variable rightOperand;
        const Variable& right = operand(n.right, rightOperand, depth);
        Variable joined(stringLiteral(node(n.left)));
        right.appendTo(joined.asString());
        return joined;
    }
    // The left operand is read in place only when the right one cannot run code that changes it.
    Variable leftScratch;
    Variable rightScratch;
    // A left value that is an int (a call's result in fib(n - 1) + fib(n - 2)) is stored
    // into the fresh scratch without a general assignment.
    const Variable& left = node(n.right).hasCall ? (storeValueInto(value(n.left, depth), leftScratch), leftScratch)
                                                 : operand(n.left, leftScratch, depth);
    const Variable& right = operand(n.right, rightScratch, depth);
    if (left.type == VarType::Int && right.type == VarType::Int) {
        // The kernels of performOperation and compareVariables without their dispatch.
        int32_t result = 0;
        bool isBool = false;
        if (combineInts(n.kind, left.asInt(), right.asInt(), result, isBool)) {
            return isBool ? Variable(result != 0) : Variable(result);
        }
    }
    // A string the left operand built (s + a + b is (s + a) + b) is extended in place: a chain
    // copies the text it started from once, not once per operator.
    if (n.kind == FastExprNodeKind::Add && &left == &leftScratch && leftScratch.type == VarType::String) {
        right.appendTo(leftScratch.asString());
        return leftScratch;
    }
    try {
        switch (n.kind) {
        case FastExprNodeKind::Equal: return Variable(m_engine.variablesEqual(left, right));
        case FastExprNodeKind::NotEqual: return Variable(!m_engine.variablesEqual(left, right));
        case FastExprNodeKind::Tetration: return m_engine.performOperation(left, std::string_view("<-"), right);
        case FastExprNodeKind::Pentation: return m_engine.performOperation(left, std::string_view("->"), right);
        default: break;
        }
        if (comparison) return Variable(comparisonHolds(n.kind, m_engine.compareVariables(left, right)));
        return m_engine.performOperation(left, op, right);
    } catch (...) {
        markNear(n.tokenIndex);
        throw;
    }
}

// ---------------------------------------------------------------------------------------
// Engine entry points
// ---------------------------------------------------------------------------------------

namespace {

/// Whether the scalar path would give up on `root` at once: an operator whose left operand
/// is a call resting after its callee had no scalar form (fib(n - 1) + fib(n - 2)). The
/// attempt is skipped, and the call node counted down as the attempt would count it, so
/// that the callee is looked at again as often as before.
bool scalarAttemptRests(const FastEvaluator& evaluator, const FastExprNode& root)
{
    if (root.kind < FastExprNodeKind::Add || root.kind > FastExprNodeKind::GreaterEqual) return false;
    const FastExprNode& left = evaluator.node(root.left);
    if (left.kind != FastExprNodeKind::Call || left.pureCallSkips == 0) return false;
    --left.pureCallSkips;
    return true;
}

/// Evaluates a fast expression by the cheapest path that decides it: a string-append chain,
/// then the scalar paths, then the general value path. Each outcome is handed to its own
/// converter, so a caller that only needs the truth of a condition never builds a value.
template <class Result, class FromText, class FromScalar, class FromValue>
[[gnu::noinline]] Result evaluateByCheapestPath(CobaltScript& engine, const FastExpression& expression, const ParsedScriptLine& line,
                              FromText fromText, FromScalar fromScalar, FromValue fromValue)
{
    if (!expression.valid()) fail("Invalid fast expression node");
    engine.checkNativeStack();
    FastEvaluator evaluator(engine, expression, line);
    const int32_t root = expression.root;
    const FastExprNode& rootNode = evaluator.node(root);
    if (rootNode.kind == FastExprNodeKind::Add && expression.mayBeStringChain && evaluator.concatEligible(root)) {
        std::string text;
        if (evaluator.appendConcat(root, text)) {
            // Where the token evaluator leaves the near-token after reading the whole range.
            evaluator.markNear(rootNode.spanEnd);
            return fromText(std::move(text));
        }
    }
    // While the flat form is resting after it gave up, the tree's scalar path would give up
    // at the same node (the flat form decides what it decides): an expression around a call
    // of a plain script function (fib(n - 1) + fib(n - 2)) goes straight to the value path.
    const bool flatGaveUp = !expression.flat.empty() && expression.flatSkips != 0;
    if (rootNode.kind != FastExprNodeKind::StringLiteral && !flatGaveUp && !scalarAttemptRests(evaluator, rootNode)) {
        FastScalarValue scalar;
        if (evaluator.scalarNode(root, scalar)) {
            evaluator.markNear(rootNode.spanEnd);
            return fromScalar(scalar);
        }
    }
    Result result = fromValue(evaluator.value(root, 0));
    evaluator.markNear(rootNode.spanEnd);
    return result;
}

/// The result of evaluateByCheapestPath as a value.
Variable valueByCheapestPath(CobaltScript& engine, const FastExpression& expression, const ParsedScriptLine& line)
{
    return evaluateByCheapestPath<Variable>(
        engine, expression, line, [](std::string&& text) { return Variable(std::move(text)); },
        [](const FastScalarValue& scalar) {
            Variable value;
            assignFastScalarToVariable(scalar, value);
            return value;
        },
        [](Variable&& value) -> Variable { return std::move(value); });
}

} // namespace

// Both entry points try the flat form first (a tree with one is no string chain: the
// flattener leaves those out), then the tree paths.
Variable CobaltScript::evaluateFastExpression(const FastExpression& expression, const ParsedScriptLine& line)
{
    if (FastScalarValue scalar; decideByFlatForm(*this, expression, line, scalar)) return scalarVariable(scalar);
    return valueByCheapestPath(*this, expression, line);
}

bool CobaltScript::evaluateFastScalarOrValue(const FastExpression& expression, const ParsedScriptLine& line,
                                             FastScalarValue& scalar, Variable& value)
{
    if (decideByFlatForm(*this, expression, line, scalar)) return true;
    value = valueByCheapestPath(*this, expression, line);
    return false;
}

bool CobaltScript::evaluateFastTruth(const FastExpression& expression, const ParsedScriptLine& line)
{
    if (FastScalarValue scalar; decideByFlatForm(*this, expression, line, scalar)) return scalarTruthy(scalar);
    return evaluateByCheapestPath<bool>(
        *this, expression, line, [](const std::string&) { return true; },  // any string is true
        [](const FastScalarValue& scalar) { return scalarTruthy(scalar); },
        [](const Variable& value) { return value.truthy(); });
}

Variable evaluateFastBodyReturn(CobaltScript& engine, const FastExpression& expression, const ParsedScriptLine& line)
{
    // A flat form or a possible string chain: the general entry tries those first.
    if (!expression.flat.empty() || expression.mayBeStringChain || !expression.valid()) {
        return engine.evaluateFastExpression(expression, line);
    }
    // evaluateByCheapestPath for a tree that is no string chain, written out here: through
    // the shared entry every recursive call of a fib-like body costs about 1% more.
    engine.checkNativeStack();
    FastEvaluator evaluator(engine, expression, line);
    const int32_t root = expression.root;
    const FastExprNode& rootNode = evaluator.node(root);
    if (rootNode.kind != FastExprNodeKind::StringLiteral && !scalarAttemptRests(evaluator, rootNode)) {
        FastScalarValue scalar;
        if (evaluator.scalarNode(root, scalar)) {
            evaluator.markNear(rootNode.spanEnd);
            Variable value;
            assignFastScalarToVariable(scalar, value);
            return value;
        }
    }
    Variable value = evaluator.value(root, 0);
    evaluator.markNear(rootNode.spanEnd);
    return value;
}

Variable CobaltScript::evaluateFastExpressionNode(const FastExpression& expression, const ParsedScriptLine& line,
                                                  int32_t node)
{
    FastEvaluator evaluator(*this, expression, line);
    return evaluator.value(node, 0);
}

bool CobaltScript::tryEvaluateFastExpressionIntNode(const FastExpression& expression, const ParsedScriptLine& line,
                                                    int32_t node, int32_t& out)
{
    FastEvaluator evaluator(*this, expression, line);
    return evaluator.intNode(node, out, false);
}

bool CobaltScript::tryEvaluateFastExpressionScalarNode(const FastExpression& expression,
                                                       const ParsedScriptLine& line, int32_t node,
                                                       FastScalarValue& out)
{
    FastEvaluator evaluator(*this, expression, line);
    if (node == expression.root && tryFlatForm(evaluator, expression, out)) return true;
    return evaluator.scalarNode(node, out);
}

bool CobaltScript::tryEvaluateFastExpressionBoolNode(const FastExpression& expression, const ParsedScriptLine& line,
                                                     int32_t node, bool& out)
{
    FastScalarValue scalar;
    if (!tryEvaluateFastExpressionScalarNode(expression, line, node, scalar)) return false;
    out = scalarTruthy(scalar);
    return true;
}

bool CobaltScript::appendFastStringConcatNode(const FastExpression& expression, const ParsedScriptLine& line,
                                              int32_t node, std::string& out)
{
    FastEvaluator evaluator(*this, expression, line);
    if (!evaluator.concatEligible(node)) return false;
    std::string text;
    if (!evaluator.appendConcat(node, text)) return false;
    out += text;
    return true;
}

} // namespace cobalt
