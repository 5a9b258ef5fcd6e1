#pragma once
// The loop statements (while, repeat ... until, numeric for, generic for) as templates over
// the body. The tree-walker reaches them through CobaltScript's loop members, which hand in
// a std::function; the bytecode interpreter instantiates them with its own body runner, so
// the call of the body, once per iteration, is a direct one that the compiler can inline.
// Both follow the same rules for clauses, loop scopes, signals and soft errors.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/exec/loop_cursor.h"
#include "engine/exec/scope_stack_guard.h"

namespace cobalt::loops {

enum class IterationOutcome : uint8_t { Continue, Stop, Leave };

/// Interprets how one iteration ended: continue looping, stop (break consumed or soft error
/// unwinding) or leave with the body's signal (return or jump). Every iteration passes here,
/// so a loop whose body is empty still notices a stop that is past its grace period.
[[gnu::always_inline]] inline IterationOutcome afterIteration(CobaltScript& engine, BlockSignal iterationSignal,
                                                              BlockSignal& signal)
{
    engine.checkStopBoundary();
    if (engine.softErrorUnwinding()) [[unlikely]] {
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
size_t pushLoopVariables(CobaltScript& engine, const std::vector<std::string>& names);
/// The same for the single variable of a numeric for.
size_t pushLoopVariable(CobaltScript& engine, std::string_view name);

/// Sets a numeric for loop's counter: in place while the variable still holds an int. The
/// scope is looked up afresh every time: the body may have pushed and popped loop scopes,
/// moving the stack's storage.
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

/// Runs the body once and interprets its end; false when the loop is over. The body is
/// called as body(signal, value): it sets the signal that ended it and stores the value of a
/// `return` in `value`, which it leaves alone otherwise, so an ordinary iteration makes no
/// value at all. `value` then holds what the loop gives back when it leaves.
template <typename Body>
[[gnu::always_inline]] inline bool runIteration(CobaltScript& engine, BlockSignal& signal, Body& body, Variable& value)
{
    BlockSignal iterationSignal = BlockSignal::None;
    body(iterationSignal, value);
    const IterationOutcome outcome = afterIteration(engine, iterationSignal, signal);
    if (outcome == IterationOutcome::Continue) [[likely]] return true;
    // A return that meets an unwinding soft error gives nothing back.
    if (outcome == IterationOutcome::Stop) value = Variable();
    return false;
}

/// Adapts a body that returns its value (the tree-walker's) to the calling convention above.
template <typename Body>
auto returningBody(const Body& body)
{
    return [&body](BlockSignal& signal, Variable& value) {
        Variable result = body(signal);
        if (signal == BlockSignal::Return || signal == BlockSignal::Jump) value = std::move(result);
    };
}

/// A while loop's condition: decided by the body's runner where it can (a runner with a
/// decideCondition member answers when it decided), else by the statement executor.
template <typename Body>
bool whileCondition(CobaltScript& engine, const ParsedScriptLine& line, Body& body)
{
    if constexpr (requires(bool& truth) { body.decideCondition(truth); }) {
        if (bool truth = false; body.decideCondition(truth)) return truth;
    }
    return engine.evaluateCondition(line, "Unexpected token after while condition");
}

template <typename Body>
Variable runWhile(CobaltScript& engine, const ParsedScriptLine& line, BlockSignal& signal, Body&& body)
{
    signal = BlockSignal::None;
    Variable leaving;
    while (whileCondition(engine, line, body)) {
        if (!runIteration(engine, signal, body, leaving)) break;
    }
    return leaving;
}

/// `untilLine` is the loop's "until" line, which holds the condition.
template <typename Body>
Variable runRepeat(CobaltScript& engine, const ParsedScriptLine& untilLine, BlockSignal& signal, Body&& body)
{
    signal = BlockSignal::None;
    Variable leaving;
    while (runIteration(engine, signal, body, leaving)) {
        if (untilLine.tokens.size() < 2) {
            engine.setPositionContext(untilLine);
            engine.throwError("Missing until condition", "until");
        }
        if (engine.evaluateCondition(untilLine, "Unexpected token after until condition")) break;
    }
    return leaving;
}

/// for name = start, stop [, step]: pushes the loop scope holding the variable.
template <typename Body>
Variable runNumericFor(CobaltScript& engine, const ParsedScriptLine& line, BlockSignal& signal, Body&& body)
{
    signal = BlockSignal::None;
    const NumericForRange range = evaluateNumericForRange(engine, line);

    ScopeStackGuard guard(engine);
    const size_t depth = pushLoopVariable(engine, line.tokens[1]);
    Variable leaving;
    int32_t counter = range.start;
    while (range.step > 0 ? counter <= range.stop : counter >= range.stop) {
        setLoopCounter(engine, depth, counter);
        if (!runIteration(engine, signal, body, leaving)) break;
        // The counter is a 32-bit int: a step that would carry it out of range ends the
        // loop instead of wrapping around into an endless one.
        const int64_t next = int64_t{counter} + range.step;
        if (next > std::numeric_limits<int32_t>::max() || next < std::numeric_limits<int32_t>::min()) break;
        counter = static_cast<int32_t>(next);
    }
    return leaving;
}

// ----- generic for -----

struct GenericClause {
    std::vector<std::string> names;
    size_t iteratorStart = 0;
};

/// for a [, b ...] in expression: the names and where the iterator expression starts.
GenericClause parseGenericClause(CobaltScript& engine, const ParsedScriptLine& line);

/// What a generic for walks, once its clause is evaluated: the container of the pairs/ipairs
/// form (while the name is the engine's own builtin), otherwise the iterator's value.
struct GenericForSource {
    Variable value;
    bool container = false;     // the pairs/ipairs form
    bool sequenceOnly = false;  // ipairs
};
GenericForSource evaluateGenericForSource(CobaltScript& engine, const ParsedScriptLine& line, size_t start);

/// Binds the key and value of one pass of a pairs or ipairs walk.
void assignIterationValues(CobaltScript& engine, size_t depth, size_t count, const Variable& first,
                           const Variable& second);
/// Binds one element of the general form (an array element spreads over several variables).
void bindIteratorElement(CobaltScript& engine, size_t depth, size_t count, const Variable& element);

/// The value of table key `i` for an ipairs walk over a table, failing when the body removed it.
const Variable& sequenceElement(CobaltScript& engine, const ParsedScriptLine& line, const ScriptTable& table,
                                int32_t i);
/// The value at key `i` of a pairs walk's key list, failing when the body removed the key.
const Variable& keyedElement(CobaltScript& engine, const ParsedScriptLine& line, const ScriptTable& table,
                             const TableIterationKeys& keys, size_t i);

/// The pairs/ipairs form: walks the container itself instead of a built list of pairs. It
/// holds the container and a snapshot of the table's keys, so a body that changes the
/// container cannot pull storage away under the loop; arrays stop at their current length.
template <typename Body>
Variable runContainerLoop(CobaltScript& engine, const ParsedScriptLine& line, const Variable& container,
                          bool sequenceOnly, const std::vector<std::string>& names, BlockSignal& signal, Body& body)
{
    if (container.type != VarType::Array && container.type != VarType::Table) {
        fail(sequenceOnly ? "ipairs(container) expects an array or table"
                          : "pairs(container) expects an array or table");
    }
    const size_t depth = pushLoopVariables(engine, names);
    const size_t count = names.size();
    Variable leaving;
    if (container.type == VarType::Array) {
        const ArrayRef array = container.asArray();
        for (size_t i = 0; i < array->items.size(); ++i) {
            if (i >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) break;
            // Bound straight from the container (one copy): binding the loop variables runs no
            // script code, and the loop holds the container.
            assignIterationValues(engine, depth, count, Variable(static_cast<int32_t>(i + 1)), array->items[i]);
            if (!runIteration(engine, signal, body, leaving)) break;
        }
        return leaving;
    }

    const TableRef table = container.asTable();
    if (sequenceOnly) {
        const int32_t length = engine.numericTableLength(table);
        for (int32_t i = 1; i <= length; ++i) {
            Variable element = sequenceElement(engine, line, *table, i);
            assignIterationValues(engine, depth, count, Variable(i), element);
            if (!runIteration(engine, signal, body, leaving)) break;
        }
        return leaving;
    }
    // The body may change the table; the loop walks the keys it started with.
    const std::shared_ptr<const TableIterationKeys> iteration = engine.sharedIterationKeys(table);
    const std::vector<std::string>& keys = iteration->keys;
    const std::vector<Variable>& keyValues = iteration->keyValues;
    Variable textKey;
    for (size_t i = 0; i < keys.size(); ++i) {
        const Variable& value = keyedElement(engine, line, *table, *iteration, i);
        const Variable& key = i < keyValues.size() ? keyValues[i] : (textKey = Variable(keys[i]));
        assignIterationValues(engine, depth, count, key, value);
        if (!runIteration(engine, signal, body, leaving)) break;
    }
    return leaving;
}

/// for a [, b ...] in expression, including the pairs/ipairs form that walks the container
/// directly while the name is still the native builtin.
template <typename Body>
Variable runGenericFor(CobaltScript& engine, const ParsedScriptLine& line, BlockSignal& signal, Body&& body)
{
    signal = BlockSignal::None;
    engine.setPositionContext(line);
    ScopeStackGuard guard(engine);
    try {
        const GenericClause clause = parseGenericClause(engine, line);
        const GenericForSource source = evaluateGenericForSource(engine, line, clause.iteratorStart);
        if (source.container) {
            return runContainerLoop(engine, line, source.value, source.sequenceOnly, clause.names, signal, body);
        }
        // The general form: the iterator must be an array; its elements as they are when the
        // loop starts are bound in turn.
        if (source.value.type != VarType::Array) fail("generic for loops expect an array iterator");
        const std::vector<Variable> elements = source.value.asArray()->items;
        const size_t depth = pushLoopVariables(engine, clause.names);
        Variable leaving;
        for (const Variable& element : elements) {
            bindIteratorElement(engine, depth, clause.names.size(), element);
            if (!runIteration(engine, signal, body, leaving)) break;
        }
        return leaving;
    } catch (const std::exception&) {
        // Failures of the body arrive positioned and pass unchanged; the clause's own are
        // positioned at this line.
        engine.rethrowPositioned(line);
    }
}

} // namespace cobalt::loops
