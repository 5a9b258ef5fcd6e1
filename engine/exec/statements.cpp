// Simple statements: assignments (plain, multi-target, compound, indexed), expression
// statements, return values and conditions. The loop statements and the block walker build
// on these, and the bytecode interpreter runs its line instructions through them.

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "engine/bytecode/fast_expression.h"
#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/eval/arithmetic.h"
#include "engine/exec/line_access.h"
#include "engine/scope/cached_resolution.h"
#include "engine/value/array_growth.h"

namespace cobalt {

Variable evaluateTokenRange(CobaltScript& engine, const ParsedScriptLine& line, const TokenRange& range,
                            const FastExpression* fast, const char* leftoverMessage, std::string_view leftoverToken)
{
    if (fast && fast->valid()) return engine.evaluateFastExpression(*fast, line);
    size_t position = range.begin;
    Variable value = engine.evaluateExpression(line.tokens, position, analysesOf(line));
    if (position < range.end && position < line.tokens.size()) {
        engine.throwError(leftoverMessage, leftoverToken.empty() ? std::string_view(line.tokens[position])
                                                                 : leftoverToken);
    }
    return value;
}

Variable evaluateLineExpression(CobaltScript& engine, const ParsedScriptLine& line, size_t rangeIndex, size_t start,
                                const char* leftoverMessage)
{
    if (rangeIndex < line.exprRanges.size()) return engine.evaluateRange(line, rangeIndex, leftoverMessage);
    TokenRange rest{static_cast<uint32_t>(start), static_cast<uint32_t>(line.tokens.size())};
    return evaluateTokenRange(engine, line, rest, nullptr, leftoverMessage, {});
}

void storeIndexed(CobaltScript& engine, std::string_view name, const TokenAnalysis* analysis, const Variable* keys,
                  size_t count, Variable value, ScopeTarget target)
{
    auto containerFor = [&engine](const Variable& key) {
        return engine.prefersArrayStorage(key) ? Variable::makeArray() : Variable::makeTable();
    };
    // A new base container is shared by reference, so writing through the local copy writes
    // into the one just stored (the first key fits it, so it is never promoted away).
    Variable created;
    Variable* current = engine.resolveExistingVariableFastMutable(name, analysis, false);
    if (!current) {
        created = containerFor(keys[0]);
        engine.assignVariableFast(name, analysis, created, target);
        current = &created;
    }
    for (size_t i = 0; i + 1 < count; ++i) {
        Variable& next = engine.getIndexedValueMutable(*current, keys[i], true);
        if (next.isNot()) next = containerFor(keys[i + 1]);
        current = &next;
    }
    engine.setIndexedValue(*current, keys[count - 1], std::move(value), true);
}

namespace {

/// The variable an assignment target's name token `index` stands for, as storeIndexed finds it.
/// Inlined into each store: a call would cost as much as the cached look-up saves.
[[gnu::always_inline]] inline Variable* lookUpTarget(CobaltScript& engine, const ParsedScriptLine& line, uint32_t index)
{
    const TokenAnalysis* analysis = analysisAt(line, index);
    if (analysis && analysis->noScopeMark) {
        if (Variable* hit = resolution::cachedHit<true>(engine.scopes, line.tokens[index], *analysis)) return hit;
    }
    return engine.resolveExistingVariableFastMutable(line.tokens[index], analysis, false);
}

bool isCompoundOperator(std::string_view op)
{
    return op.size() == 2 && op[1] == '=' &&
           (op[0] == '+' || op[0] == '-' || op[0] == '*' || op[0] == '/' || op[0] == '\\' || op[0] == '%' ||
            op[0] == '^');
}

void applyCompound(CobaltScript& engine, Variable& target, char op, const Variable& right)
{
    if (!engine.performOperationInPlace(target, op, right)) target = engine.performOperation(target, op, right);
}

/// The target's key in brackets number `i`.
Variable evaluateKey(CobaltScript& engine, const ParsedScriptLine& line, const ParsedAssignmentTarget& target, size_t i)
{
    const FastExpression* fast = i < target.indexFast.size() ? &target.indexFast[i] : nullptr;
    return evaluateTokenRange(engine, line, target.indexRanges[i], fast, "Expected closing bracket", "]");
}

std::vector<Variable> evaluateKeys(CobaltScript& engine, const ParsedScriptLine& line,
                                   const ParsedAssignmentTarget& target)
{
    std::vector<Variable> keys;
    keys.reserve(target.indexRanges.size());
    for (size_t i = 0; i < target.indexRanges.size(); ++i) keys.push_back(evaluateKey(engine, line, target, i));
    return keys;
}

std::vector<Variable> evaluateRightSide(CobaltScript& engine, const ParsedScriptLine& line)
{
    if (line.exprRanges.empty()) engine.throwError("Unexpected end of expression", "EOF");
    std::vector<Variable> values;
    values.reserve(line.exprRanges.size());
    for (size_t i = 0; i < line.exprRanges.size(); ++i) {
        values.push_back(engine.evaluateRange(line, i, "Unexpected token in assignment expression"));
    }
    return values;
}

bool hasIndexedTarget(const ParsedScriptLine& line)
{
    for (const auto& target : line.assignmentTargets) {
        if (!target.indexRanges.empty()) return true;
    }
    return false;
}

/// names = one expression: the common shapes (x = e, local a, b = f()) without the lists of
/// values and keys the general form builds. Same order: the value, then the stores in turn.
void assignOneValueToNames(CobaltScript& engine, const ParsedScriptLine& line)
{
    Variable value = engine.evaluateRange(line, 0, "Unexpected token in assignment expression");
    const auto& targets = line.assignmentTargets;
    const ScopeTarget scope = scopeTargetOf(line.scopeModifier);
    auto store = [&](size_t i, Variable stored) {
        const uint32_t nameIndex = targets[i].nameIndex;
        engine.assignVariableFast(line.tokens[nameIndex], analysisAt(line, nameIndex), std::move(stored), scope);
    };
    if (targets.size() >= 2 && value.type == VarType::Multi) {
        const MultiRef multi = value.asMulti();
        const size_t available = multi ? multi->values.size() : 0;
        for (size_t i = 0; i < targets.size(); ++i) store(i, i < available ? multi->values[i] : Variable());
        return;
    }
    store(0, std::move(value));
    for (size_t i = 1; i < targets.size(); ++i) store(i, Variable());
}

/// name[k1]...[kn] = one expression with a few keys, the keys kept on the native stack.
constexpr size_t kInlineKeys = 4;

void assignOneValueToElement(CobaltScript& engine, const ParsedScriptLine& line)
{
    Variable value = engine.evaluateRange(line, 0, "Unexpected token in assignment expression");
    const ParsedAssignmentTarget& target = line.assignmentTargets.front();
    const size_t count = target.indexRanges.size();
    std::array<Variable, kInlineKeys> keys;
    for (size_t i = 0; i < count; ++i) keys[i] = evaluateKey(engine, line, target, i);
    storeIndexed(engine, line.tokens[target.nameIndex], analysisAt(line, target.nameIndex), keys.data(), count,
                 std::move(value), scopeTargetOf(line.scopeModifier));
}

/// The variable the line's name token `index` reads, as the expression walker finds it: the
/// token's cached place when it still holds, else the full search.
Variable* lookUpName(CobaltScript& engine, const ParsedScriptLine& line, uint32_t index)
{
    const TokenAnalysis* analysis = index < line.analyses.size() ? &line.analyses[index] : nullptr;
    if (analysis && analysis->noScopeMark) {
        if (Variable* hit = resolution::cachedHit<true>(engine.scopes, line.tokens[index], *analysis)) return hit;
    }
    return engine.resolveVariableFastPtr(line.tokens[index], analysis);
}

void markNear(CobaltScript& engine, const ParsedScriptLine& line, uint32_t index)
{
    if (index < line.tokens.size()) engine.markNearToken(line, index);
}

/// The one key of name[k] = e, with the result, the failures and the near-token of
/// evaluateKey. True when the key is an int, in `intKey`; a key that is a name holding an int
/// builds no value at all. Any other key's value is left in `key` (an int key may be there too).
bool evaluateOneKey(CobaltScript& engine, const ParsedScriptLine& line, const ParsedAssignmentTarget& target,
                    int32_t& intKey, std::optional<Variable>& key)
{
    const FastExpression* fast = target.indexFast.empty() ? nullptr : &target.indexFast.front();
    if (fast && fast->valid()) {
        const FastExprNode& root = fast->nodes[static_cast<size_t>(fast->root)];
        if (root.kind == FastExprNodeKind::Variable && root.tokenIndex < line.tokens.size()) {
            engine.checkNativeStack();
            const Variable* found = lookUpName(engine, line, root.tokenIndex);
            markNear(engine, line, root.spanEnd);
            if (found && found->type == VarType::Int) {
                intKey = found->asInt();
                return true;
            }
            // A copy: storing may create the container in the scope that holds this name.
            key.emplace(found ? *found : Variable());
            return false;
        }
    }
    key.emplace(fast && fast->valid() ? engine.evaluateFastExpression(*fast, line)
                                      : evaluateKey(engine, line, target, 0));
    if (key->type != VarType::Int) return false;
    intKey = key->asInt();
    return true;
}

/// name["field"] = value where name holds a table that has the field (a record's field set
/// again): the entry is found by the literal itself and overwritten, with the key's stack
/// check and near-token, and without a key value or the general store. False, with nothing
/// stored, for every other case.
bool storeLiteralField(CobaltScript& engine, const ParsedScriptLine& line, const ParsedAssignmentTarget& target,
                       Variable& value)
{
    if (target.indexFast.empty() || !target.indexFast.front().valid()) return false;
    const FastExpression& fast = target.indexFast.front();
    const FastExprNode& root = fast.nodes[static_cast<size_t>(fast.root)];
    if (root.kind != FastExprNodeKind::StringLiteral || root.intValue < 0 ||
        static_cast<size_t>(root.intValue) >= fast.strings.size()) {
        return false;
    }
    engine.checkNativeStack();
    markNear(engine, line, root.spanEnd);
    Variable* container = lookUpTarget(engine, line, target.nameIndex);
    if (!container || container->type != VarType::Table) return false;
    TableMap& map = container->asTable()->map;
    const auto found = map.find(fast.strings[static_cast<size_t>(root.intValue)]);
    if (found == map.end()) return false;
    found->second = std::move(value);
    return true;
}

} // namespace

/// x op= value and x[k1]...[kn] op= value: the variable and the element must exist.
void executeCompoundAssignment(CobaltScript& engine, const ParsedScriptLine& line, char op)
{
    if (line.assignmentTargets.size() != 1) {
        engine.throwError("Compound assignment takes exactly one target", line.tokens[line.assignOperatorIndex]);
    }
    const ParsedAssignmentTarget& target = line.assignmentTargets.front();
    const std::string& name = line.tokens[target.nameIndex];
    if (target.indexRanges.empty() && line.exprRanges.size() == 1 && !line.exprFast.empty() &&
        line.exprFast.front().valid()) {
        // x op= e with e decided as a scalar (a counter's step): an int target takes the int
        // kernel in place, without a Variable for the right side.
        FastScalarValue scalar;
        Variable right;
        const bool isScalar = engine.evaluateFastScalarOrValue(line.exprFast.front(), line, scalar, right);
        Variable* current = lookUpTarget(engine, line, target.nameIndex);
        if (!current) fail("Variable not found: " + name);
        if (isScalar) {
            if (scalar.kind == FastScalarValue::Int && applyIntCompound(*current, op, scalar.intValue)) return;
            assignFastScalarToVariable(scalar, right);
        }
        applyCompound(engine, *current, op, right);
        return;
    }
    const Variable right = line.exprRanges.size() == 1
                               ? engine.evaluateRange(line, 0, "Unexpected token in assignment expression")
                               : evaluateRightSide(engine, line).front();
    if (target.indexRanges.empty()) {
        // x += e, the counter of a loop: no key list to build.
        Variable* current = lookUpTarget(engine, line, target.nameIndex);
        if (!current) fail("Variable not found: " + name);
        applyCompound(engine, *current, op, right);
        return;
    }
    const std::vector<Variable> keys = evaluateKeys(engine, line, target);

    // Resolved only now: the right side and the keys may have called functions that
    // defined globals or grew scopes, which would leave an earlier reference dangling.
    Variable* current = engine.resolveExistingVariableFastMutable(name, analysisAt(line, target.nameIndex), false);
    if (!current) fail("Variable not found: " + name);
    for (size_t i = 0; i + 1 < keys.size(); ++i) current = &engine.getIndexedValueMutable(*current, keys[i], false);
    if (current->type == VarType::String) {
        Variable element = engine.getIndexedValue(*current, keys.back());
        applyCompound(engine, element, op, right);
        engine.setIndexedValue(*current, keys.back(), std::move(element), false);
        return;
    }
    applyCompound(engine, engine.getIndexedValueMutable(*current, keys.back(), false), op, right);
}

/// name[k] = e, the statement of every array loop. Same order as the general form: the right
/// side, then the key, then the container is looked up. An int key that lands inside an
/// existing array or just past its end is stored in place; everything else (a new container,
/// a table, a string, growth by more than one, a promotion) goes to storeIndexed.
void executeOneElementAssignment(CobaltScript& engine, const ParsedScriptLine& line)
{
    Variable value = !line.exprFast.empty() && line.exprFast.front().valid()
                         ? engine.evaluateFastExpression(line.exprFast.front(), line)
                         : engine.evaluateRange(line, 0, "Unexpected token in assignment expression");
    const ParsedAssignmentTarget& target = line.assignmentTargets.front();
    const uint32_t nameIndex = target.nameIndex;
    if (storeLiteralField(engine, line, target, value)) return;
    int32_t intKey = 0;
    std::optional<Variable> key;
    if (evaluateOneKey(engine, line, target, intKey, key)) {
        Variable* container = lookUpTarget(engine, line, nameIndex);
        if (container && container->type == VarType::Array && intKey >= 1) {
            std::vector<Variable>& items = container->asArray()->items;
            const auto position = static_cast<size_t>(intKey) - 1;
            if (position < items.size()) {
                storeValueInto(std::move(value), items[position]);
                return;
            }
            if (position == items.size()) {
                makeRoomForOneMore(items);
                items.push_back(std::move(value));
                return;
            }
        }
        if (!key) key.emplace(intKey);
    }
    storeIndexed(engine, line.tokens[nameIndex], analysisAt(line, nameIndex), &*key, 1, std::move(value),
                 scopeTargetOf(line.scopeModifier));
}

namespace {

void executePlainAssignment(CobaltScript& engine, const ParsedScriptLine& line)
{
    if (line.exprRanges.size() == 1 && !hasIndexedTarget(line)) {
        assignOneValueToNames(engine, line);
        return;
    }
    if (line.exprRanges.size() == 1 && line.assignmentTargets.size() == 1 &&
        line.assignmentTargets.front().indexRanges.size() <= kInlineKeys) {
        assignOneValueToElement(engine, line);
        return;
    }
    std::vector<Variable> values = evaluateRightSide(engine, line);
    const auto& targets = line.assignmentTargets;
    if (values.size() == 1 && values.front().type == VarType::Multi && targets.size() >= 2) {
        const MultiRef multi = values.front().asMulti();
        values = multi ? multi->values : std::vector<Variable>{};
    }
    std::vector<std::vector<Variable>> keys;
    keys.reserve(targets.size());
    for (const auto& target : targets) keys.push_back(evaluateKeys(engine, line, target));

    const ScopeTarget scope = scopeTargetOf(line.scopeModifier);
    for (size_t i = 0; i < targets.size(); ++i) {
        Variable value = i < values.size() ? std::move(values[i]) : Variable();
        const std::string& name = line.tokens[targets[i].nameIndex];
        const TokenAnalysis* analysis = analysisAt(line, targets[i].nameIndex);
        if (keys[i].empty()) {
            engine.assignVariableFast(name, analysis, std::move(value), scope);
        } else {
            storeIndexed(engine, name, analysis, keys[i].data(), keys[i].size(), std::move(value), scope);
        }
    }
}

} // namespace

bool CobaltScript::executeAssignment(const ParsedScriptLine& line, Variable& /*lastValue*/)
{
    // Prepared lines carry their form, so that no statement compares its operator text again.
    switch (line.assignmentForm) {
    case AssignmentForm::OneElement: executeOneElementAssignment(*this, line); return true;
    case AssignmentForm::Plain: executePlainAssignment(*this, line); return true;
    case AssignmentForm::Compound:
        executeCompoundAssignment(*this, line, line.tokens[line.assignOperatorIndex][0]);
        return true;
    case AssignmentForm::Undecided: break;
    }
    if (!line.isAssignment || line.assignmentTargets.empty() || line.assignOperatorIndex >= line.tokens.size()) {
        return false;
    }
    const std::string& op = line.tokens[line.assignOperatorIndex];
    if (isCompoundOperator(op)) {
        executeCompoundAssignment(*this, line, op[0]);
    } else {
        executePlainAssignment(*this, line);
    }
    return true;
}

// Failures leave unpositioned: every caller already positions them at the line it runs, and
// a second catch on the way out would only slow down unwinding from deep recursion.
void CobaltScript::executeSimpleStatement(const ParsedScriptLine& line, Variable& lastValue)
{
    if (executeAssignment(line, lastValue)) return;
    lastValue = evaluateLineExpression(*this, line, 0, 0, "Unexpected trailing token");
}

Variable CobaltScript::evaluateReturnValues(const ParsedScriptLine& line)
{
    if (line.tokens.size() <= 1) return Variable();
    if (line.exprRanges.size() == 1) return evaluateRange(line, 0, "Unexpected token after return value");
    std::vector<Variable> values;
    values.reserve(line.exprRanges.size());
    if (!line.exprRanges.empty()) {
        for (size_t i = 0; i < line.exprRanges.size(); ++i) {
            values.push_back(evaluateRange(line, i, "Unexpected token after return value"));
        }
    } else {
        size_t position = 1;
        while (true) {
            values.push_back(evaluateExpression(line.tokens, position, analysesOf(line)));
            if (position >= line.tokens.size()) break;
            if (line.tokens[position] != ",") throwError("Unexpected token after return value", line.tokens[position]);
            ++position;
        }
    }
    if (values.size() == 1) return std::move(values.front());
    return Variable::makeMulti(std::move(values));
}

bool CobaltScript::evaluateCondition(const ParsedScriptLine& line, const char* leftoverMessage)
{
    setPositionContext(line);
    try {
        // The common case, a condition with a fast form, is decided without building its value.
        if (!line.exprRanges.empty() && !line.exprFast.empty() && line.exprFast[0].valid()) {
            return evaluateFastTruth(line.exprFast[0], line);
        }
        return evaluateLineExpression(*this, line, 0, 1, leftoverMessage).truthy();
    } catch (const std::exception&) {
        rethrowPositioned(line);
    }
}

} // namespace cobalt
