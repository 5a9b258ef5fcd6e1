// The loop statements' parts that do not depend on the body (clauses, loop scopes, binding
// the loop variables), the tree-walker's entries into the loop templates of
// loop_statements.h, and the loops a coroutine takes one iteration at a time.

#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/exec/line_access.h"
#include "engine/exec/loop_cursor.h"
#include "engine/exec/loop_statements.h"

namespace cobalt {

namespace loops {

size_t pushLoopVariables(CobaltScript& engine, const std::vector<std::string>& names)
{
    engine.pushLoopScope();
    ScopeList& scope = engine.scopes.loops.back();
    for (const std::string& name : names) scope.add(name, Variable());
    return engine.scopes.loops.size() - 1;
}

size_t pushLoopVariable(CobaltScript& engine, std::string_view name)
{
    engine.pushLoopScope();
    engine.scopes.loops.back().add(name, Variable());
    return engine.scopes.loops.size() - 1;
}

namespace {

/// Sets loop variable `slot` of the loop scope at `depth`. Looked up afresh every time: the
/// body may have pushed and popped scopes, moving the stack's storage.
void setLoopVariable(CobaltScript& engine, size_t depth, size_t slot, const Variable& value)
{
    auto& entries = engine.scopes.loops[depth].entries;
    if (slot < entries.size()) copyValueInto(value, entries[slot].second);
}

// for name = start, stop [, step]
NumericForRange evaluateNumericClause(CobaltScript& engine, const ParsedScriptLine& line)
{
    const TokenList& tokens = line.tokens;
    const AnalysisList* analyses = analysesOf(line);
    size_t position = 3;
    Variable start = engine.evaluateExpression(tokens, position, analyses);
    if (position >= tokens.size() || tokens[position] != ",") {
        engine.throwError("Expected ',' after for start value", position < tokens.size() ? tokens[position] : ",");
    }
    ++position;
    Variable stop = engine.evaluateExpression(tokens, position, analyses);
    Variable step(int32_t{1});
    if (position < tokens.size() && tokens[position] == ",") {
        ++position;
        step = engine.evaluateExpression(tokens, position, analyses);
    }
    if (position < tokens.size()) engine.throwError("Unexpected token after for clause", tokens[position]);

    NumericForRange range{toInt(start), toInt(stop), toInt(step)};
    if (range.step == 0) fail("for loop step must not be 0");
    return range;
}

/// True when tokens [start, end) are exactly name ( expression ): the parenthesis after the
/// name closes at the last token and holds one non-empty argument (no top-level comma).
bool isSingleCallForm(const ParsedScriptLine& line, size_t start)
{
    const TokenList& tokens = line.tokens;
    // name ( at-least-one-token ) needs four tokens.
    if (start + 4 > tokens.size()) return false;
    if (!tokenIsIdentifier(line, start) || tokens[start + 1] != "(" || tokens.back() != ")") return false;
    int depth = 0;
    for (size_t i = start + 1; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        if (token == "(" || token == "[" || token == "{") {
            ++depth;
        } else if (token == ")" || token == "]" || token == "}") {
            --depth;
            if (depth == 0) return i == tokens.size() - 1;
        } else if (token == "," && depth == 1) {
            return false;
        }
    }
    return false;
}

[[noreturn]] void failKeyRemoved(CobaltScript& engine, const ParsedScriptLine& line)
{
    engine.setPositionContext(line);
    fail("unordered_map::at: key not found");
}

} // namespace

// for a [, b ...] in expression
GenericClause parseGenericClause(CobaltScript& engine, const ParsedScriptLine& line)
{
    const TokenList& tokens = line.tokens;
    GenericClause clause;
    size_t position = 1;
    while (true) {
        if (!tokenIsIdentifier(line, position)) {
            engine.throwError("Expected loop variable name", position < tokens.size() ? tokens[position] : "EOF");
        }
        clause.names.push_back(tokens[position++]);
        if (position < tokens.size() && tokens[position] == ",") {
            ++position;
            continue;
        }
        break;
    }
    if (position >= tokens.size() || tokens[position] != "in") {
        engine.throwError("Expected 'in' in generic for loop", position < tokens.size() ? tokens[position] : "in");
    }
    clause.iteratorStart = position + 1;
    return clause;
}

GenericForSource evaluateGenericForSource(CobaltScript& engine, const ParsedScriptLine& line, size_t start)
{
    const TokenList& tokens = line.tokens;
    GenericForSource source;
    // pairs(x) / ipairs(x) walk the container directly, but only while the name is the
    // engine's own builtin: a script's replacement is called like any other function.
    if (isSingleCallForm(line, start)) {
        Variable callee;
        engine.resolveVariableFast(tokens[start], analysisAt(line, start), callee);
        const bool isPairs = engine.isNativeBuiltin(callee, BuiltinId::Pairs);
        if (isPairs || engine.isNativeBuiltin(callee, BuiltinId::Ipairs)) {
            size_t position = start + 2;
            source.value = engine.evaluateExpression(tokens, position, analysesOf(line));
            if (position != tokens.size() - 1) {
                engine.throwError("Expected ',' or ')' after function argument", tokens[position]);
            }
            source.container = true;
            source.sequenceOnly = !isPairs;
            return source;
        }
    }
    size_t position = start;
    source.value = engine.evaluateExpression(tokens, position, analysesOf(line));
    if (position < tokens.size()) engine.throwError("Unexpected token after for iterator", tokens[position]);
    return source;
}

void assignIterationValues(CobaltScript& engine, size_t depth, size_t count, const Variable& first,
                           const Variable& second)
{
    // One look-up of the scope for both: binding runs no script code, so the first binding
    // cannot move the second slot.
    auto& entries = engine.scopes.loops[depth].entries;
    if (entries.empty()) return;
    copyValueInto(first, entries[0].second);
    if (count > 1 && entries.size() > 1) copyValueInto(second, entries[1].second);
}

void bindIteratorElement(CobaltScript& engine, size_t depth, size_t count, const Variable& element)
{
    if (count == 1) {
        setLoopVariable(engine, depth, 0, element);
    } else if (element.type == VarType::Array) {
        const std::vector<Variable>& parts = element.asArray()->items;
        for (size_t slot = 0; slot < count; ++slot) {
            setLoopVariable(engine, depth, slot, slot < parts.size() ? parts[slot] : Variable());
        }
    } else {
        setLoopVariable(engine, depth, 0, element);
        for (size_t slot = 1; slot < count; ++slot) setLoopVariable(engine, depth, slot, Variable());
    }
}

const Variable& sequenceElement(CobaltScript& engine, const ParsedScriptLine& line, const ScriptTable& table,
                                int32_t i)
{
    auto found = table.map.find(std::to_string(i));
    if (found == table.map.end()) failKeyRemoved(engine, line);
    return found->second;
}

const Variable& keyedElement(CobaltScript& engine, const ParsedScriptLine& line, const ScriptTable& table,
                             const TableIterationKeys& keys, size_t i)
{
    if (const Variable* value = keys.valueIfCurrent(table, i)) return *value;
    auto found = table.map.find(keys.keys[i]);
    if (found == table.map.end()) failKeyRemoved(engine, line);
    return found->second;
}

} // namespace loops

Variable CobaltScript::runWhileLoop(const ParsedScriptLine& line, BlockSignal& signal, const LoopBody& body)
{
    return loops::runWhile(*this, line, signal, loops::returningBody(body));
}

Variable CobaltScript::runRepeatLoop(const ParsedScriptLine& untilLine, BlockSignal& signal, const LoopBody& body)
{
    return loops::runRepeat(*this, untilLine, signal, loops::returningBody(body));
}

Variable CobaltScript::runNumericFor(const ParsedScriptLine& line, BlockSignal& signal, const LoopBody& body)
{
    return loops::runNumericFor(*this, line, signal, loops::returningBody(body));
}

Variable CobaltScript::runGenericFor(const ParsedScriptLine& line, BlockSignal& signal, const LoopBody& body)
{
    return loops::runGenericFor(*this, line, signal, loops::returningBody(body));
}

} // namespace cobalt

// ----- loops taken one iteration at a time (coroutines) -----

namespace cobalt {

NumericForRange evaluateNumericForRange(CobaltScript& engine, const ParsedScriptLine& line)
{
    engine.setPositionContext(line);
    try {
        return loops::evaluateNumericClause(engine, line);
    } catch (const std::exception&) {
        engine.rethrowPositioned(line);
    }
}

void openGenericForCursor(CobaltScript& engine, const ParsedScriptLine& line, GenericForCursor& cursor)
{
    engine.setPositionContext(line);
    try {
        loops::GenericClause clause = loops::parseGenericClause(engine, line);
        cursor.names = std::move(clause.names);
        loops::GenericForSource source = loops::evaluateGenericForSource(engine, line, clause.iteratorStart);
        Variable& container = source.value;
        if (source.container) {
            const bool isPairs = !source.sequenceOnly;
            if (container.type != VarType::Array && container.type != VarType::Table) {
                fail(isPairs ? "pairs(container) expects an array or table"
                             : "ipairs(container) expects an array or table");
            }
            if (container.type == VarType::Array) {
                cursor.mode = GenericForCursor::Mode::ArrayContainer;
            } else if (!isPairs) {
                cursor.mode = GenericForCursor::Mode::TableSequence;
                cursor.length = engine.numericTableLength(container.asTable());
            } else {
                cursor.mode = GenericForCursor::Mode::TableKeys;
                cursor.keys = engine.sharedIterationKeys(container.asTable());
            }
            cursor.container = std::move(container);
            return;
        }
        if (container.type != VarType::Array) fail("generic for loops expect an array iterator");
        cursor.mode = GenericForCursor::Mode::Elements;
        cursor.elements = container.asArray()->items;
    } catch (const std::exception&) {
        engine.rethrowPositioned(line);
    }
}

bool advanceGenericForCursor(CobaltScript& engine, const ParsedScriptLine& line, GenericForCursor& cursor,
                             size_t loopDepth)
{
    const size_t i = cursor.next;
    const size_t count = cursor.names.size();
    switch (cursor.mode) {
    case GenericForCursor::Mode::ArrayContainer: {
        const ArrayRef array = cursor.container.asArray();
        if (i >= array->items.size() || i >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) return false;
        loops::assignIterationValues(engine, loopDepth, count, Variable(static_cast<int32_t>(i + 1)),
                                     array->items[i]);
        break;
    }
    case GenericForCursor::Mode::TableSequence: {
        if (i >= static_cast<size_t>(std::max(cursor.length, 0))) return false;
        const int32_t key = static_cast<int32_t>(i + 1);
        const Variable& element = loops::sequenceElement(engine, line, *cursor.container.asTable(), key);
        loops::assignIterationValues(engine, loopDepth, count, Variable(key), element);
        break;
    }
    case GenericForCursor::Mode::TableKeys: {
        const TableIterationKeys& keys = *cursor.keys;
        if (i >= keys.keys.size()) return false;
        const Variable& value = loops::keyedElement(engine, line, *cursor.container.asTable(), keys, i);
        if (i < keys.keyValues.size()) {
            loops::assignIterationValues(engine, loopDepth, count, keys.keyValues[i], value);
        } else {
            loops::assignIterationValues(engine, loopDepth, count, Variable(keys.keys[i]), value);
        }
        break;
    }
    case GenericForCursor::Mode::Elements: {
        if (i >= cursor.elements.size()) return false;
        loops::bindIteratorElement(engine, loopDepth, count, cursor.elements[i]);
        break;
    }
    }
    ++cursor.next;
    return true;
}

} // namespace cobalt
