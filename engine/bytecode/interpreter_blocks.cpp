// The statements of the bytecode interpreter that are more than one line: inline
// assignments, if-groups and the loops. Conditions, loop clauses, loop scopes and signals
// go through the statement executor's own routines, so a compiled script behaves exactly
// as the tree-walker does; only the way a body runs (a chunk) differs.

#include <exception>

#include "engine/bytecode/interpreter_internal.h"
#include "engine/error/script_error.h"
#include "engine/exec/line_access.h"
#include "engine/exec/loop_statements.h"
#include "engine/scope/cached_resolution.h"
#include "engine/scope/local_assignment.h"

namespace cobalt::interp {
namespace {

/// The shape opcode 1 stands for. Checked again at run time because a program read back
/// from elsewhere may carry the opcode on any line; such a line runs as opcode 0.
/// Line preparation has already found the operator "=" at a valid index (AssignmentForm::Plain,
/// which every prepared line carries that the compiler gives this opcode).
bool isInlineAssignmentShape(const ParsedScriptLine& line)
{
    if (line.assignmentForm != AssignmentForm::Plain || line.assignmentTargets.size() != 1 ||
        line.exprRanges.size() != 1 || line.exprFast.empty() || !line.exprFast[0].valid()) {
        return false;
    }
    const ParsedAssignmentTarget& target = line.assignmentTargets[0];
    return target.indexRanges.empty() && target.nameIndex < line.tokens.size();
}

const char* indexMessage(RunMode mode, const char* activation, const char* inlined)
{
    return mode == RunMode::Inline ? inlined : activation;
}

const BytecodeLoop& loopRecord(const std::vector<BytecodeLoop>& loops, uint32_t index, const char* message)
{
    if (index >= loops.size()) fail(message);
    return loops[index];
}

/// A loop's body, run once per iteration: runBlockBody's choice of runner, with what it asks
/// about the body worked out on the first iteration that needs it (facts about a chunk never
/// change once known) and kept as the body's route. A body that needs a block scope of its
/// own gets one scope for the whole loop, opened on its first iteration and emptied after
/// each (runChunkInHeldScope), instead of a push and a pop per iteration; it closes with the
/// loop, or earlier with the loop statement's own scope guard.
class LoopBodyRunner {
public:
    /// `between`: the line whose condition the loop tests between iterations (while, until).
    LoopBodyRunner(CobaltScript& engine, const ProgramRef& program, uint32_t chunk, RunMode mode,
                   const ParsedScriptLine* between = nullptr)
        : m_engine(engine), m_program(program), m_mode(mode), m_between(between)
    {
        m_body.chunk = chunk;
    }
    ~LoopBodyRunner()
    {
        if (m_route != Route::Held) return;
        while (m_engine.scopes.blocks.size() > m_heldAt) m_engine.popBlockScope();
    }
    LoopBodyRunner(const LoopBodyRunner&) = delete;
    LoopBodyRunner& operator=(const LoopBodyRunner&) = delete;

    /// One iteration; the value of a `return` goes to `value` (see loops::runIteration).
    [[gnu::always_inline]] void operator()(BlockSignal& signal, Variable& value)
    {
        const ScopeState& scopes = m_engine.scopes;
        switch (m_route) {
        case Route::InPlace:
            // Only an inline-eligible body with no block scope open could take another road.
            if (m_inlineFact == kChunkFactNo || scopes.blocks.size() > scopes.blockBase) {
                runInPlace(signal, value);
                return;
            }
            break;
        case Route::Held:
            // Between iterations the held scope is on top of the stack, empty: whatever ran in
            // between (the loop's clause, a condition's calls) has closed what it opened.
            if (scopes.blocks.size() == m_heldAt + 1) {
                runHeld(signal, value);
                return;
            }
            break;
        case Route::Undecided: break;
        }
        chooseRoute(signal, value);
    }

private:
    enum class Route : uint8_t { Undecided, InPlace, Held };

    /// runBlockBody's choice, which also settles the route of a body that runs in place. Out
    /// of line: most loops take it once.
    [[gnu::noinline]] void chooseRoute(BlockSignal& signal, Variable& value)
    {
        const uint32_t chunk = m_body.chunk;
        ScopeState& scopes = m_engine.scopes;
        if (m_mode == RunMode::Inline || (scopes.blocks.size() <= scopes.blockBase && inlineEligible())) {
            keepReturned(runInlineChunk(m_engine, m_program, chunk, signal), signal, value);
            return;
        }
        if (!runsInPlace(*m_program, chunk)) {
            keepReturned(m_engine.executeBytecodeChunkInternal(m_program, chunk, signal, false), signal, value);
            return;
        }
        if (m_route == Route::Undecided) {
            const BytecodeChunk record = m_program->chunks[chunk];
            m_body.first = record.firstInstruction;
            m_body.end = uint64_t{record.firstInstruction} + record.instructionCount;
            const bool held = bodyNeedsOwnScope(m_engine, *m_program, chunk);
            // The inline runner's bodies keep the interpreter's own path.
            if (m_mode == RunMode::Activation) {
                m_kernel.attach(loopKernelFor(m_engine, *m_program, chunk, held, m_between));
            }
            // The first iteration takes the road the others will take, kernel included.
            if (held) {
                m_route = Route::Held;
                m_heldAt = scopes.blocks.size();
                m_engine.pushBlockScope();
                runHeld(signal, value);
                return;
            }
            m_route = Route::InPlace;
            runInPlace(signal, value);
            return;
        }
        keepReturned(runChunkInPlace(m_engine, m_program, chunk, signal), signal, value);
    }

    /// Takes the signal by reference: it is read once the body (an argument of the call)
    /// has set it.
    static void keepReturned(Variable&& result, const BlockSignal& signal, Variable& value)
    {
        if (signal == BlockSignal::Return) value = std::move(result);
    }

public:
    /// A while loop's condition, decided by the kernel when it can (loops::runWhile).
    bool decideCondition(bool& truth) { return m_kernel.ready(m_engine) && m_kernel.decideCondition(m_engine, truth); }

private:
    /// One iteration of a body that runs in place, in its kernel while it can.
    [[gnu::always_inline]] void runInPlace(BlockSignal& signal, Variable& value)
    {
        KernelHandover* handover = nullptr;
        if (startInKernel(0, signal, handover)) return;
        runLoopBodyInPlace(m_engine, m_program, m_body, signal, value, handover);
    }

    /// One iteration of a body in the scope its loop holds (empty, on top of the stack).
    [[gnu::always_inline]] void runHeld(BlockSignal& signal, Variable& value)
    {
        KernelHandover* handover = nullptr;
        if (startInKernel(m_heldAt, signal, handover)) {
            emptyHeldScope(m_engine.scopes, m_heldAt);
            return;
        }
        runChunkInHeldScope(m_engine, m_program, m_body, signal, m_heldAt, value, handover);
    }

    /// Runs the iteration in the kernel when it is ready: true when it ran all of it; false with
    /// `handover` set when the instruction loop must go on from there, or left null when the
    /// whole iteration is the instruction loop's.
    [[gnu::always_inline]] bool startInKernel(size_t heldAt, BlockSignal& signal, KernelHandover*& handover)
    {
        if (!m_kernel.ready(m_engine)) {
            m_kernel.invalidate();
            return false;
        }
        if (m_kernel.run(m_engine, m_program, heldAt, signal)) return true;
        handover = &m_kernel.handover();
        return false;
    }

    bool inlineEligible()
    {
        if (m_inlineFact == kChunkFactUnknown) {
            m_inlineFact = isInlineEligible(m_engine, *m_program, m_body.chunk) ? kChunkFactYes : kChunkFactNo;
        }
        return m_inlineFact == kChunkFactYes;
    }

    CobaltScript& m_engine;
    const ProgramRef& m_program;
    RunMode m_mode;
    const ParsedScriptLine* m_between;
    Route m_route = Route::Undecided;
    uint8_t m_inlineFact = kChunkFactUnknown;
    LoopBodyChunk m_body;
    size_t m_heldAt = 0;
    LoopKernelRun m_kernel;
};

} // namespace

void executeInlineAssignment(CobaltScript& engine, const ParsedScriptLine& line)
{
    if (!isInlineAssignmentShape(line)) {
        executeLineInstruction(engine, line);
        return;
    }
    engine.setPositionContext(line);
    try {
        // The right side is computed before the target is looked up: it may call functions
        // that define globals or open scopes, which would move a target found earlier.
        Variable value = engine.evaluateFastExpression(line.exprFast[0], line);
        const uint32_t nameIndex = line.assignmentTargets[0].nameIndex;
        const TokenAnalysis* analysis = analysisAt(line, nameIndex);
        // A name that already holds a value where its token last found it (a loop's counter
        // or total) is stored into there, as assignVariableFast would after the same look-up.
        if (line.scopeModifier == ScopeModifier::None && analysis && analysis->noScopeMark) {
            if (Variable* existing = resolution::cachedHit<true>(engine.scopes, line.tokens[nameIndex], *analysis)) {
                storeValueInto(std::move(value), *existing);
                return;
            }
        }
        const Token& name = line.tokens[nameIndex];
        if (line.scopeModifier == ScopeModifier::Local && isPlainTargetName(name, analysis)) {
            assignLocalFast(engine, name, *analysis, std::move(value));
            return;
        }
        engine.assignVariableFast(name, analysis, std::move(value), scopeTargetOf(line.scopeModifier));
    } catch (const std::exception&) {
        engine.rethrowPositioned(line);
    }
}

Variable executeIfInstruction(CobaltScript& engine, const ProgramRef& program, uint32_t group, BlockSignal& signal,
                              RunMode mode)
{
    signal = BlockSignal::None;
    const BytecodeProgram& code = *program;
    if (group >= code.ifGroups.size()) {
        fail(indexMessage(mode, "Bytecode if-group index out of range", "Inline bytecode if-group index out of range"));
    }
    // A program's side lists stay as compiled while it runs, so the branch list is read once.
    const std::vector<BytecodeIfBranch>& branches = code.ifGroups[group].branches;
    for (const BytecodeIfBranch branch : branches) {
        if (!branch.isElse) {
            const ParsedScriptLine& line =
                branch.line < code.lines.size() ? code.lines[branch.line] : programLine(code, branch.line);
            if (!engine.evaluateCondition(line, "Unexpected token after if condition")) continue;
        }
        return runBlockBody(engine, program, branch.chunk, signal, mode);
    }
    return Variable();
}

Variable executeWhileInstruction(CobaltScript& engine, const ProgramRef& program, uint32_t loop, BlockSignal& signal,
                                 RunMode mode)
{
    const BytecodeLoop record = loopRecord(
        program->whileLoops, loop,
        indexMessage(mode, "Bytecode while-loop index out of range", "Inline bytecode while-loop index out of range"));
    const ParsedScriptLine& line = programLine(*program, record.line);
    return loops::runWhile(engine, line, signal, LoopBodyRunner(engine, program, record.chunk, mode, &line));
}

Variable executeRepeatInstruction(CobaltScript& engine, const ProgramRef& program, uint32_t loop,
                                  BlockSignal& signal, RunMode mode)
{
    const BytecodeLoop record =
        loopRecord(program->repeatLoops, loop,
                   indexMessage(mode, "Bytecode repeat-loop index out of range",
                                "Inline bytecode repeat-loop index out of range"));
    const ParsedScriptLine& line = programLine(*program, record.line);
    return loops::runRepeat(engine, line, signal, LoopBodyRunner(engine, program, record.chunk, mode, &line));
}

Variable executeNumericForInstruction(CobaltScript& engine, const ProgramRef& program, uint32_t loop,
                                      BlockSignal& signal, RunMode mode)
{
    const BytecodeLoop record =
        loopRecord(program->numericForLoops, loop,
                   indexMessage(mode, "Bytecode numeric-for index out of range",
                                "Inline bytecode numeric-for index out of range"));
    return loops::runNumericFor(engine, programLine(*program, record.line), signal,
                                LoopBodyRunner(engine, program, record.chunk, mode));
}

Variable executeGenericForInstruction(CobaltScript& engine, const ProgramRef& program, uint32_t loop,
                                      BlockSignal& signal)
{
    const BytecodeLoop record =
        loopRecord(program->genericForLoops, loop, "Bytecode generic-for index out of range");
    return loops::runGenericFor(engine, programLine(*program, record.line), signal,
                                LoopBodyRunner(engine, program, record.chunk, RunMode::Activation));
}

} // namespace cobalt::interp
