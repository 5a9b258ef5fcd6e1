// The loop statements: while, repeat ... until, numeric for and generic for. The tree-walker
// and the bytecode interpreter both run their loops through these, handing in the body as a
// callback, so both follow the same rules for clauses, loop scopes, signals and soft errors.

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
#include "engine/exec/scope_stack_guard.h"

namespace cobalt {
namespace {

enum class IterationOutcome { Continue, Stop, Leave };

/// Interprets how one iteration ended: continue looping, stop (break consumed or soft error
/// unwinding) or leave with the body's signal (return or jump). Every iteration passes here,
/// so a loop whose body is empty still notices a stop that is past its grace period.
IterationOutcome afterIteration(CobaltScript& engine, BlockSignal iterationSignal, BlockSignal& signal)
{
    engine.checkStopBoundary();
    if (engine.softErrorUnwinding()) {
        signal = BlockSignal::None;
        return IterationOutcome::Stop;
    }
    switch (iterationSignal) {
    case BlockSignal::None: return IterationOutcome::Continue;
    case BlockSignal::Break: signal = BlockSignal::None; return IterationOutcome::Stop;
    case BlockSignal::Return:
    case BlockSignal::Jump: signal = iterationSignal; return IterationOutcome::Leave;
    }
    return IterationOutcome::Continue;
}

/// Pushes a loop scope holding `names` (all absent) and returns its position in the stack.
size_t pushLoopVariables(CobaltScript& engine, const std::vector<std::string>& names)
{
    engine.pushLoopScope();
    ScopeList& scope = engine.scopes.loops.back();
    for (const std::string& name : names) scope.add(name, Variable());
    return engine.scopes.loops.size() - 1;
}

/// Sets loop variable `slot` of the loop scope at `depth`. Looked up afresh every time: the
/// body may have pushed and popped scopes, moving the stack's storage.
void setLoopVariable(CobaltScript& engine, size_t depth, size_t slot, const Variable& value)
{
    auto& entries = engine.scopes.loops[depth].entries;
    if (slot < entries.size()) copyValueInto(value, entries[slot].second);
}

/// Sets a numeric for loop's counter: in place while the variable still holds an int.
[[gnu::always_inline]] inline void setLoopCounter(CobaltScript& engine, size_t depth, int32_t counter)
{
    auto& entries = engine.scopes.loops[depth].entries;
    if (entries.empty()) return;
    Variable& target = entries[0].second;
    if (auto* held = std::get_if<int32_t>(&target.value)) {
        *held = counter;
    } else {
        target.value.emplace<int32_t>(counter);
    }
    target.type = VarType::Int;
}

/// Binds the key and value of one pass of a pairs or ipairs walk (one look-up of the scope
/// for both; binding runs no script code, so the first binding cannot move the second slot).
void assignIterationValues(CobaltScript& engine, size_t depth, size_t count, const Variable& first,
                           const Variable& second)
{
    auto& entries = engine.scopes.loops[depth].entries;
    if (entries.empty()) return;
    copyValueInto(first, entries[0].second);
    if (count > 1 && entries.size() > 1) copyValueInto(second, entries[1].second);
}

// ----- numeric for -----

struct NumericClause {
    int32_t start = 0;
    int32_t stop = 0;
    int32_t step = 1;
};

// for name = start, stop [, step]
NumericClause evaluateNumericClause(CobaltScript& engine, const ParsedScriptLine& line)
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

    NumericClause clause{toInt(start), toInt(stop), toInt(step)};
    if (clause.step == 0) fail("for loop step must not be 0");
    return clause;
}

// ----- generic for -----

struct GenericClause {
    std::vector<std::string> names;
    size_t iteratorStart = 0;
};

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

/// The pairs/ipairs form: walks the container itself instead of a built list of pairs. It
/// holds the container and a snapshot of the table's keys, so a body that changes the
/// container cannot pull storage away under the loop; arrays stop at their current length.
Variable runContainerLoop(CobaltScript& engine, const ParsedScriptLine& line, const Variable& container,
                          bool sequenceOnly, const std::vector<std::string>& names, BlockSignal& signal,
                          const CobaltScript::LoopBody& body)
{
    const char* expects =
        sequenceOnly ? "ipairs(container) expects an array or table" : "pairs(container) expects an array or table";
    if (container.type != VarType::Array && container.type != VarType::Table) fail(expects);

    const size_t depth = pushLoopVariables(engine, names);
    // The body's value only matters to a return or jump out of the loop: it is moved out then
    // and otherwise dropped where it was made.
    Variable leaving;
    auto iterate = [&](const Variable& key, const Variable& value) {
        assignIterationValues(engine, depth, names.size(), key, value);
        BlockSignal iterationSignal = BlockSignal::None;
        Variable result = body(iterationSignal);
        const IterationOutcome outcome = afterIteration(engine, iterationSignal, signal);
        if (outcome == IterationOutcome::Leave) leaving = std::move(result);
        return outcome;
    };

    if (container.type == VarType::Array) {
        const ArrayRef array = container.asArray();
        for (size_t i = 0; i < array->items.size(); ++i) {
            if (i >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) break;
            // Bound straight from the container (one copy): binding the loop variables runs no
            // script code, and the loop holds the container.
            const IterationOutcome outcome = iterate(Variable(static_cast<int32_t>(i + 1)), array->items[i]);
            if (outcome == IterationOutcome::Leave) return leaving;
            if (outcome == IterationOutcome::Stop) break;
        }
        return Variable();
    }

    const TableRef table = container.asTable();
    if (sequenceOnly) {
        const int32_t length = engine.numericTableLength(table);
        for (int32_t i = 1; i <= length; ++i) {
            auto found = table->map.find(std::to_string(i));
            if (found == table->map.end()) failKeyRemoved(engine, line);
            Variable element = found->second;
            const IterationOutcome outcome = iterate(Variable(i), element);
            if (outcome == IterationOutcome::Leave) return leaving;
            if (outcome == IterationOutcome::Stop) break;
        }
        return Variable();
    }
    // The body may change the table; the loop walks the keys it started with.
    const std::shared_ptr<const TableIterationKeys> iteration = engine.sharedIterationKeys(table);
    const std::vector<std::string>& keys = iteration->keys;
    const std::vector<Variable>& keyValues = iteration->keyValues;
    Variable textKey;
    for (size_t i = 0; i < keys.size(); ++i) {
        const Variable* value = iteration->valueIfCurrent(*table, i);
        if (value == nullptr) {
            auto found = table->map.find(keys[i]);
            if (found == table->map.end()) failKeyRemoved(engine, line);
            value = &found->second;
        }
        const Variable& key = i < keyValues.size() ? keyValues[i] : (textKey = Variable(keys[i]));
        const IterationOutcome outcome = iterate(key, *value);
        if (outcome == IterationOutcome::Leave) return leaving;
        if (outcome == IterationOutcome::Stop) break;
    }
    return Variable();
}

/// The general form: the iterator must be an array; its elements as they are when the loop
/// starts are bound in turn (an array element spreads over several loop variables).
Variable runArrayIterator(CobaltScript& engine, const Variable& iterator, const std::vector<std::string>& names,
                          BlockSignal& signal, const CobaltScript::LoopBody& body)
{
    if (iterator.type != VarType::Array) fail("generic for loops expect an array iterator");
    const std::vector<Variable> elements = iterator.asArray()->items;
    const size_t depth = pushLoopVariables(engine, names);
    for (const Variable& element : elements) {
        if (names.size() == 1) {
            setLoopVariable(engine, depth, 0, element);
        } else if (element.type == VarType::Array) {
            const std::vector<Variable>& parts = element.asArray()->items;
            for (size_t slot = 0; slot < names.size(); ++slot) {
                setLoopVariable(engine, depth, slot, slot < parts.size() ? parts[slot] : Variable());
            }
        } else {
            setLoopVariable(engine, depth, 0, element);
            for (size_t slot = 1; slot < names.size(); ++slot) setLoopVariable(engine, depth, slot, Variable());
        }
        BlockSignal iterationSignal = BlockSignal::None;
        Variable result = body(iterationSignal);
        IterationOutcome outcome = afterIteration(engine, iterationSignal, signal);
        if (outcome == IterationOutcome::Leave) return result;
        if (outcome == IterationOutcome::Stop) break;
    }
    return Variable();
}

} // namespace

Variable CobaltScript::runWhileLoop(const ParsedScriptLine& line, BlockSignal& signal, const LoopBody& body)
{
    signal = BlockSignal::None;
    while (evaluateCondition(line, "Unexpected token after while condition")) {
        BlockSignal iterationSignal = BlockSignal::None;
        Variable result = body(iterationSignal);
        IterationOutcome outcome = afterIteration(*this, iterationSignal, signal);
        if (outcome == IterationOutcome::Leave) return result;
        if (outcome == IterationOutcome::Stop) break;
    }
    return Variable();
}

Variable CobaltScript::runRepeatLoop(const ParsedScriptLine& untilLine, BlockSignal& signal, const LoopBody& body)
{
    signal = BlockSignal::None;
    while (true) {
        BlockSignal iterationSignal = BlockSignal::None;
        Variable result = body(iterationSignal);
        IterationOutcome outcome = afterIteration(*this, iterationSignal, signal);
        if (outcome == IterationOutcome::Leave) return result;
        if (outcome == IterationOutcome::Stop) break;
        if (untilLine.tokens.size() < 2) {
            setPositionContext(untilLine);
            throwError("Missing until condition", "until");
        }
        if (evaluateCondition(untilLine, "Unexpected token after until condition")) break;
    }
    return Variable();
}

Variable CobaltScript::runNumericFor(const ParsedScriptLine& line, BlockSignal& signal, const LoopBody& body)
{
    signal = BlockSignal::None;
    setPositionContext(line);
    NumericClause clause;
    try {
        clause = evaluateNumericClause(*this, line);
    } catch (const std::exception&) {
        rethrowPositioned(line);
    }

    ScopeStackGuard guard(*this);
    const size_t depth = pushLoopVariables(*this, {line.tokens[1]});
    int32_t counter = clause.start;
    while (clause.step > 0 ? counter <= clause.stop : counter >= clause.stop) {
        setLoopCounter(*this, depth, counter);
        BlockSignal iterationSignal = BlockSignal::None;
        Variable result = body(iterationSignal);
        IterationOutcome outcome = afterIteration(*this, iterationSignal, signal);
        if (outcome == IterationOutcome::Leave) return result;
        if (outcome == IterationOutcome::Stop) break;
        // The counter is a 32-bit int: a step that would carry it out of range ends the
        // loop instead of wrapping around into an endless one.
        const int64_t next = int64_t{counter} + clause.step;
        if (next > std::numeric_limits<int32_t>::max() || next < std::numeric_limits<int32_t>::min()) break;
        counter = static_cast<int32_t>(next);
    }
    return Variable();
}

Variable CobaltScript::runGenericFor(const ParsedScriptLine& line, BlockSignal& signal, const LoopBody& body)
{
    signal = BlockSignal::None;
    setPositionContext(line);
    ScopeStackGuard guard(*this);
    try {
        const GenericClause clause = parseGenericClause(*this, line);
        const TokenList& tokens = line.tokens;
        const size_t start = clause.iteratorStart;

        // pairs(x) / ipairs(x) walk the container directly, but only while the name is the
        // engine's own builtin: a script's replacement is called like any other function.
        if (isSingleCallForm(line, start)) {
            Variable callee;
            resolveVariableFast(tokens[start], analysisAt(line, start), callee);
            const bool isPairs = isNativeBuiltin(callee, BuiltinId::Pairs);
            if (isPairs || isNativeBuiltin(callee, BuiltinId::Ipairs)) {
                size_t position = start + 2;
                Variable container = evaluateExpression(tokens, position, analysesOf(line));
                if (position != tokens.size() - 1) {
                    throwError("Expected ',' or ')' after function argument", tokens[position]);
                }
                return runContainerLoop(*this, line, container, !isPairs, clause.names, signal, body);
            }
        }
        size_t position = start;
        Variable iterator = evaluateExpression(tokens, position, analysesOf(line));
        if (position < tokens.size()) throwError("Unexpected token after for iterator", tokens[position]);
        return runArrayIterator(*this, iterator, clause.names, signal, body);
    } catch (const std::exception&) {
        // Failures of the body arrive positioned and pass unchanged; the clause's own are
        // positioned at this line.
        rethrowPositioned(line);
    }
}

} // namespace cobalt

// ----- loops taken one iteration at a time (coroutines) -----

namespace cobalt {

NumericForRange evaluateNumericForRange(CobaltScript& engine, const ParsedScriptLine& line)
{
    engine.setPositionContext(line);
    try {
        const NumericClause clause = evaluateNumericClause(engine, line);
        return NumericForRange{clause.start, clause.stop, clause.step};
    } catch (const std::exception&) {
        engine.rethrowPositioned(line);
    }
}

void openGenericForCursor(CobaltScript& engine, const ParsedScriptLine& line, GenericForCursor& cursor)
{
    engine.setPositionContext(line);
    try {
        GenericClause clause = parseGenericClause(engine, line);
        cursor.names = std::move(clause.names);
        const TokenList& tokens = line.tokens;
        const size_t start = clause.iteratorStart;
        if (isSingleCallForm(line, start)) {
            Variable callee;
            engine.resolveVariableFast(tokens[start], analysisAt(line, start), callee);
            const bool isPairs = engine.isNativeBuiltin(callee, BuiltinId::Pairs);
            if (isPairs || engine.isNativeBuiltin(callee, BuiltinId::Ipairs)) {
                size_t position = start + 2;
                Variable container = engine.evaluateExpression(tokens, position, analysesOf(line));
                if (position != tokens.size() - 1) {
                    engine.throwError("Expected ',' or ')' after function argument", tokens[position]);
                }
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
        }
        size_t position = start;
        Variable iterator = engine.evaluateExpression(tokens, position, analysesOf(line));
        if (position < tokens.size()) engine.throwError("Unexpected token after for iterator", tokens[position]);
        if (iterator.type != VarType::Array) fail("generic for loops expect an array iterator");
        cursor.mode = GenericForCursor::Mode::Elements;
        cursor.elements = iterator.asArray()->items;
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
        assignIterationValues(engine, loopDepth, count, Variable(static_cast<int32_t>(i + 1)), array->items[i]);
        break;
    }
    case GenericForCursor::Mode::TableSequence: {
        if (i >= static_cast<size_t>(std::max(cursor.length, 0))) return false;
        const TableRef table = cursor.container.asTable();
        const int32_t key = static_cast<int32_t>(i + 1);
        auto found = table->map.find(std::to_string(key));
        if (found == table->map.end()) failKeyRemoved(engine, line);
        assignIterationValues(engine, loopDepth, count, Variable(key), found->second);
        break;
    }
    case GenericForCursor::Mode::TableKeys: {
        const TableIterationKeys& keys = *cursor.keys;
        if (i >= keys.keys.size()) return false;
        const ScriptTable& table = *cursor.container.asTable();
        const Variable* value = keys.valueIfCurrent(table, i);
        if (value == nullptr) {
            auto found = table.map.find(keys.keys[i]);
            if (found == table.map.end()) failKeyRemoved(engine, line);
            value = &found->second;
        }
        if (i < keys.keyValues.size()) {
            assignIterationValues(engine, loopDepth, count, keys.keyValues[i], *value);
        } else {
            assignIterationValues(engine, loopDepth, count, Variable(keys.keys[i]), *value);
        }
        break;
    }
    case GenericForCursor::Mode::Elements: {
        if (i >= cursor.elements.size()) return false;
        const Variable& element = cursor.elements[i];
        if (count == 1) {
            setLoopVariable(engine, loopDepth, 0, element);
        } else if (element.type == VarType::Array) {
            const std::vector<Variable>& parts = element.asArray()->items;
            for (size_t slot = 0; slot < count; ++slot) {
                setLoopVariable(engine, loopDepth, slot, slot < parts.size() ? parts[slot] : Variable());
            }
        } else {
            setLoopVariable(engine, loopDepth, 0, element);
            for (size_t slot = 1; slot < count; ++slot) setLoopVariable(engine, loopDepth, slot, Variable());
        }
        break;
    }
    }
    ++cursor.next;
    return true;
}

} // namespace cobalt
