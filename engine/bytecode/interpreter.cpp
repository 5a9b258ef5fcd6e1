// The bytecode interpreter's activation: one call of executeBytecodeChunkInternal runs one
// chunk from its first (or a given) instruction to its end, resolving pending jumps at every
// instruction boundary and unwinding early for soft errors. Lines run through the statement
// executor; block statements run their bodies as nested activations or in the inline runner.

#include <exception>
#include <string>
#include <utility>

#include "engine/bytecode/interpreter_internal.h"
#include "engine/error/script_error.h"
#include "engine/exec/line_access.h"

namespace cobalt {

namespace interp {

const ParsedScriptLine& programLine(const BytecodeProgram& program, uint32_t index)
{
    if (index >= program.lines.size()) fail("Bytecode line index out of range");
    return program.lines[index];
}

void executeLineInstruction(CobaltScript& engine, const ParsedScriptLine& line)
{
    engine.setPositionContext(line);
    try {
        // The commonest statements of loops (an array element's store, a counter's step) go
        // straight to their executors, as executeAssignment would send them.
        switch (line.assignmentForm) {
        case AssignmentForm::OneElement: executeOneElementAssignment(engine, line); return;
        case AssignmentForm::Compound:
            executeCompoundAssignment(engine, line, line.tokens[line.assignOperatorIndex][0]);
            return;
        case AssignmentForm::Plain:
        case AssignmentForm::Undecided: break;
        }
        Variable lastValue;
        engine.executeSimpleStatement(line, lastValue);
    } catch (const std::exception&) {
        engine.rethrowPositioned(line);
    }
}

Variable runBlockBody(CobaltScript& engine, const ProgramRef& program, uint32_t chunk, BlockSignal& signal,
                      RunMode mode)
{
    // The inline runner keeps no scope of its own, so it only serves bodies of a call that
    // has no block scope open: there every name a body sees is the same either way.
    if (mode == RunMode::Inline ||
        (engine.scopes.blocks.size() <= engine.scopes.blockBase && isInlineEligible(engine, *program, chunk))) {
        return runInlineChunk(engine, program, chunk, signal);
    }
    if (runsInPlace(*program, chunk)) return runChunkInPlace(engine, program, chunk, signal);
    return engine.executeBytecodeChunkInternal(program, chunk, signal, false);
}

bool activeChunksHoldLabel(const CobaltScript& engine, const std::string& label, size_t skip)
{
    const auto& active = engine.activeChunks;
    uint32_t instruction = 0;
    uint32_t nest = 0;
    for (size_t i = active.size(); i > skip; --i) {
        const ActiveChunk& record = active[i - 1 - skip];
        if (record.program && engine.findNestLabelInBytecodeChunk(*record.program, record.chunk, label,
                                                                  instruction, nest)) {
            return true;
        }
    }
    return false;
}

Variable executeFunctionDeclaration(CobaltScript& engine, const ProgramRef& program, uint32_t index)
{
    if (index >= program->functionDecls.size()) fail("Bytecode function-declaration index out of range");
    const BytecodeFunctionDecl decl = program->functionDecls[index];
    const ParsedScriptLine& line = programLine(*program, decl.line);
    engine.setPositionContext(line);
    try {
        engine.declareFunction(line, [&](ScriptCallable& function) {
            function.program = program;
            function.chunkIndex = decl.chunk;
            function.sourceDirectory = decl.directory;
            function.sourcePath = decl.path;
        });
    } catch (const std::exception&) {
        engine.rethrowPositioned(line);
    }
    return Variable();
}

} // namespace interp

namespace {

using interp::RunMode;

/// Pops the activation's record from the active-chunk stack on every exit.
class ActiveChunkGuard {
public:
    ActiveChunkGuard(CobaltScript& engine, const ProgramRef& program, uint32_t chunk) : m_engine(engine)
    {
        engine.activeChunks.push_back(ActiveChunk{program, chunk});
    }
    ~ActiveChunkGuard() { m_engine.activeChunks.pop_back(); }
    ActiveChunkGuard(const ActiveChunkGuard&) = delete;
    ActiveChunkGuard& operator=(const ActiveChunkGuard&) = delete;

private:
    CobaltScript& m_engine;
};

/// The block scope an activation opens for its own locals, closed again on every exit along
/// with any scope its statements left open. The block base belongs to whoever bound the
/// call's parameters (the call path, a jump target's frame): it is only put back here.
class LocalScopeGuard {
public:
    LocalScopeGuard(CobaltScript& engine, bool pushScope)
        : m_engine(engine), m_savedBlocks(engine.scopes.blocks.size()), m_savedBase(engine.scopes.blockBase)
    {
        if (pushScope) engine.pushBlockScope();
    }
    ~LocalScopeGuard()
    {
        while (m_engine.scopes.blocks.size() > m_savedBlocks) m_engine.popBlockScope();
        m_engine.scopes.blockBase = m_savedBase;
    }
    LocalScopeGuard(const LocalScopeGuard&) = delete;
    LocalScopeGuard& operator=(const LocalScopeGuard&) = delete;

private:
    CobaltScript& m_engine;
    size_t m_savedBlocks;
    size_t m_savedBase;
};

/// Ends one run of a body in a block scope that its loop holds open (runChunkInHeldScope), on
/// every exit: closes any scope the body's statements left open and empties the held one, as
/// popping it would have, so the next iteration starts without this one's locals. The
/// emptied scope gets a new identity, so no resolution cache trusts an entry of the old
/// locals; its entry list keeps its room.
class HeldScopeReset {
public:
    HeldScopeReset(CobaltScript& engine, size_t heldAt)
        : m_engine(engine), m_heldAt(heldAt), m_savedBase(engine.scopes.blockBase)
    {
    }
    ~HeldScopeReset()
    {
        ScopeState& scopes = m_engine.scopes;
        while (scopes.blocks.size() > m_heldAt + 1) m_engine.popBlockScope();
        if (scopes.blocks.size() == m_heldAt + 1) interp::emptyHeldScope(scopes, m_heldAt);
        scopes.blockBase = m_savedBase;
    }
    HeldScopeReset(const HeldScopeReset&) = delete;
    HeldScopeReset& operator=(const HeldScopeReset&) = delete;

private:
    CobaltScript& m_engine;
    size_t m_heldAt;
    size_t m_savedBase;
};

enum class JumpResolution : uint8_t { Continue, LeaveChunk };

/// Resolves a pending jumpTo at an instruction boundary of an activation. A label in this
/// chunk moves the program counter to its nest instruction; a label held by an enclosing
/// activation makes this one leave with the jump signal (the flag stays set for it); any
/// other label runs its registered target, after which execution goes on where it stood.
JumpResolution resolvePendingJump(CobaltScript& engine, const BytecodeProgram& program, uint32_t chunk,
                                  uint32_t& pc, size_t ownRecords)
{
    while (engine.loader.jumpPending) {
        const std::string label = engine.loader.pendingJumpLabel;
        uint32_t instruction = 0;
        uint32_t nest = 0;
        if (engine.findNestLabelInBytecodeChunk(program, chunk, label, instruction, nest)) {
            engine.loader.jumpPending = false;
            engine.loader.pendingJumpLabel.clear();
            pc = instruction;
            return JumpResolution::Continue;
        }
        if (interp::activeChunksHoldLabel(engine, label, ownRecords)) return JumpResolution::LeaveChunk;
        engine.loader.jumpPending = false;
        engine.loader.pendingJumpLabel.clear();
        if (!engine.executeRegisteredJumpTarget(label)) fail("jumpTo target not found: " + label);
    }
    return JumpResolution::Continue;
}

/// True when the jump that ended an instruction targets a nest block of this chunk, which
/// the next boundary resolves.
bool jumpLandsHere(CobaltScript& engine, const BytecodeProgram& program, uint32_t chunk)
{
    uint32_t instruction = 0;
    uint32_t nest = 0;
    return engine.loader.jumpPending &&
           engine.findNestLabelInBytecodeChunk(program, chunk, engine.loader.pendingJumpLabel, instruction, nest);
}

Variable executeReturn(CobaltScript& engine, const BytecodeProgram& program, uint32_t index, BlockSignal& signal)
{
    const ParsedScriptLine& line = interp::programLine(program, index);
    engine.setPositionContext(line);
    Variable result;
    try {
        result = engine.evaluateReturnValues(line);
    } catch (const std::exception&) {
        engine.rethrowPositioned(line);
    }
    signal = BlockSignal::Return;
    return result;
}

Variable executeNest(CobaltScript& engine, const ProgramRef& program, uint32_t index, BlockSignal& signal)
{
    if (index >= program->nestBlocks.size()) fail("Bytecode nest-block index out of range");
    return interp::runBlockBody(engine, program, program->nestBlocks[index].chunk, signal, RunMode::Activation);
}

Variable executeInstruction(CobaltScript& engine, const ProgramRef& program, const Instruction& instruction,
                            BlockSignal& signal)
{
    const uint32_t operand = instruction.operand;
    switch (instruction.opcode) {
    case Opcode::Line:
        interp::executeLineInstruction(engine, interp::programLine(*program, operand));
        return Variable();
    case Opcode::InlineAssignment:
        interp::executeInlineAssignment(engine, interp::programLine(*program, operand));
        return Variable();
    case Opcode::If: return interp::executeIfInstruction(engine, program, operand, signal, RunMode::Activation);
    case Opcode::While: return interp::executeWhileInstruction(engine, program, operand, signal, RunMode::Activation);
    case Opcode::Repeat:
        return interp::executeRepeatInstruction(engine, program, operand, signal, RunMode::Activation);
    case Opcode::NumericFor:
        return interp::executeNumericForInstruction(engine, program, operand, signal, RunMode::Activation);
    case Opcode::GenericFor: return interp::executeGenericForInstruction(engine, program, operand, signal);
    case Opcode::FunctionDeclaration: return interp::executeFunctionDeclaration(engine, program, operand);
    case Opcode::Return: return executeReturn(engine, *program, operand, signal);
    case Opcode::Break:
        // A break that leaves its function is reported at the boundary; when that boundary is
        // the script itself, the break line is the only place worth naming.
        if (operand < program->lines.size()) engine.setPositionContext(program->lines[operand]);
        signal = BlockSignal::Break;
        return Variable();
    case Opcode::Nest: return executeNest(engine, program, operand, signal);
    }
    fail("Invalid bytecode opcode " + std::to_string(static_cast<unsigned>(instruction.opcode)));
}

/// What the instruction loop does after a block instruction completed with `signal` and
/// `value`: the scheduled coroutine's turn, then the signal. False when the chunk ends here.
[[gnu::always_inline]] inline bool finishInstruction(CobaltScript& engine, const BytecodeProgram& program,
                                                     uint32_t chunk, BlockSignal& signal, Variable& value,
                                                     Variable& result)
{
    // Every instruction that completes outside a turn gives the scheduled coroutine one.
    if (engine.coroutines.scheduled && engine.coroutines.inTurn == 0) engine.serviceScheduledCoroutineTurnNoThrow();
    if (signal == BlockSignal::None) return true;
    if (signal == BlockSignal::Jump && jumpLandsHere(engine, program, chunk)) {
        signal = BlockSignal::None;
        return true;
    }
    if (signal == BlockSignal::Return) result = std::move(value);
    return false;
}

/// The instruction loop of a chunk, from `pc` to `end`. `ownRecords` is the number of
/// active-chunk records the chunk itself has pushed (1 for an activation, 0 for a body run in
/// place), which a pending jump's search of the enclosing chunks skips. The value of a
/// `return` goes to `result`, which is left alone otherwise: a loop body that ends without
/// one makes and destroys no value. Inlined into each of its few callers: a loop body runs it
/// once per iteration.
[[gnu::always_inline]] inline void runInstructions(CobaltScript& engine, const ProgramRef& program, uint32_t chunk,
                                                   uint32_t pc, uint64_t end, BlockSignal& signal, size_t ownRecords,
                                                   Variable& result)
{
    while (true) {
        if (engine.loader.jumpPending &&
            resolvePendingJump(engine, *program, chunk, pc, ownRecords) == JumpResolution::LeaveChunk) {
            signal = BlockSignal::Jump;
            return;
        }
        if (pc >= end) return;
        // A coroutine's failure surfaces here, at the main code's next instruction.
        if (engine.coroutines.pendingFailure) engine.rethrowPendingCoroutineException();
        if (engine.softErrorUnwinding()) return;
        engine.checkStopBoundary();

        const Instruction instruction = program->instructions[pc];
        ++pc;
        // Lines, the commonest instructions, make no value and set no signal.
        if (instruction.opcode == Opcode::InlineAssignment || instruction.opcode == Opcode::Line) {
            const ParsedScriptLine& line = interp::programLine(*program, instruction.operand);
            if (instruction.opcode == Opcode::InlineAssignment) {
                interp::executeInlineAssignment(engine, line);
            } else {
                interp::executeLineInstruction(engine, line);
            }
            if (engine.coroutines.scheduled && engine.coroutines.inTurn == 0) {
                engine.serviceScheduledCoroutineTurnNoThrow();
            }
            continue;
        }
        Variable value = executeInstruction(engine, program, instruction, signal);
        if (!finishInstruction(engine, *program, chunk, signal, value, result)) return;
    }
}

/// The instruction loop from where a loop kernel handed a body over: first what the loop
/// does after the instruction that completed there, if one did.
void resumeInstructions(CobaltScript& engine, const ProgramRef& program, uint32_t chunk, uint64_t end,
                        interp::KernelHandover& handover, BlockSignal& signal, Variable& result)
{
    if (handover.completed) {
        signal = handover.signal;
        if (!finishInstruction(engine, *program, chunk, signal, handover.value, result)) return;
    }
    runInstructions(engine, program, chunk, handover.pc, end, signal, 0, result);
}

/// A loop body's instructions: all of them, or the rest that its kernel handed over.
[[gnu::always_inline]] inline void runLoopBody(CobaltScript& engine, const ProgramRef& program,
                                               const interp::LoopBodyChunk& body, BlockSignal& signal,
                                               Variable& result, interp::KernelHandover* handover)
{
    if (handover != nullptr) {
        resumeInstructions(engine, program, body.chunk, body.end, *handover, signal, result);
        return;
    }
    runInstructions(engine, program, body.chunk, body.first, body.end, signal, 0, result);
}

} // namespace

namespace interp {

bool learnInPlaceBody(BytecodeProgram& program, uint32_t chunk)
{
    if (chunk >= program.chunks.size()) return false;
    if (program.inPlaceBodies.size() < program.chunks.size()) {
        program.inPlaceBodies.resize(program.chunks.size(), kChunkFactUnknown);
    }
    uint8_t& known = program.inPlaceBodies[chunk];
    if (known == kChunkFactUnknown) {
        const BytecodeChunk record = program.chunks[chunk];
        const uint64_t end = uint64_t{record.firstInstruction} + record.instructionCount;
        bool eligible = end <= program.instructions.size();
        for (uint64_t at = record.firstInstruction; eligible && at < end; ++at) {
            eligible = program.instructions[at].opcode != Opcode::Nest;
        }
        known = eligible ? kChunkFactYes : kChunkFactNo;
    }
    return known == kChunkFactYes;
}

Variable runChunkInPlace(CobaltScript& engine, const ProgramRef& program, uint32_t chunk, BlockSignal& signal)
{
    engine.checkNativeStack();
    signal = BlockSignal::None;
    const BytecodeChunk record = program->chunks[chunk];
    LocalScopeGuard scopeGuard(engine, bodyNeedsOwnScope(engine, *program, chunk));
    Variable result;
    runInstructions(engine, program, chunk, record.firstInstruction,
                    uint64_t{record.firstInstruction} + record.instructionCount, signal, 0, result);
    return result;
}

void runLoopBodyInPlace(CobaltScript& engine, const ProgramRef& program, const LoopBodyChunk& body,
                        BlockSignal& signal, Variable& result, KernelHandover* handover)
{
    engine.checkNativeStack();
    signal = BlockSignal::None;
    LocalScopeGuard scopeGuard(engine, false);
    runLoopBody(engine, program, body, signal, result, handover);
}

void runChunkInHeldScope(CobaltScript& engine, const ProgramRef& program, const LoopBodyChunk& body,
                         BlockSignal& signal, size_t heldAt, Variable& result, KernelHandover* handover)
{
    engine.checkNativeStack();
    signal = BlockSignal::None;
    HeldScopeReset reset(engine, heldAt);
    runLoopBody(engine, program, body, signal, result, handover);
}

void emptyHeldScope(ScopeState& scopes, size_t heldAt)
{
    // Destroying the locals' values runs no script code, so the list can be emptied where it
    // stands.
    ScopeList& held = scopes.blocks[heldAt];
    held.id = scopes.nextScopeId++;
    held.nameMask = 0;
    held.entries.clear();
}

Variable runBranchRest(CobaltScript& engine, const ProgramRef& program, uint32_t chunk, uint64_t end,
                       KernelHandover& handover, BlockSignal& signal)
{
    // As runChunkInPlace runs the branch: the same checks and the same scope guard.
    engine.checkNativeStack();
    signal = BlockSignal::None;
    LocalScopeGuard scopeGuard(engine, false);
    Variable result;
    resumeInstructions(engine, program, chunk, end, handover, signal, result);
    return result;
}

} // namespace interp

Variable CobaltScript::executeBytecodeChunkInternal(const ProgramRef& program, uint32_t chunk,
                                                    BlockSignal& signal, bool /*functionBody*/,
                                                    uint32_t startInstruction)
{
    // `program` is taken by reference, without a copy of our own: every caller passes one
    // that outlives the chunk (the program of the function its call path holds, the running
    // chunk's own, a local), never a script variable the chunk's statements could replace.
    // The active-chunk record below holds the program as well.
    if (!program || chunk >= program->chunks.size()) fail("Invalid bytecode chunk index");
    // The active-chunk record only serves the search for a jump's nest label, and a chunk
    // without nest blocks holds none: such a chunk (most function bodies) runs in place.
    if (startInstruction == kStartOfChunk && interp::runsInPlace(*program, chunk)) {
        return interp::runChunkInPlace(*this, program, chunk, signal);
    }
    checkNativeStack();
    signal = BlockSignal::None;
    const BytecodeChunk record = program->chunks[chunk];
    const uint64_t end = uint64_t{record.firstInstruction} + record.instructionCount;
    if (end > program->instructions.size()) fail("Bytecode chunk range is out of bounds");
    uint32_t pc = record.firstInstruction;
    if (startInstruction != kStartOfChunk) {
        if (startInstruction < record.firstInstruction || startInstruction >= end) {
            fail("Bytecode jump target is outside the target chunk");
        }
        pc = startInstruction;
    }

    ActiveChunkGuard activeGuard(*this, program, chunk);
    // Function bodies and block bodies are treated alike. Whoever enters a function body has
    // already opened its frame (the parameters' scope and the block base that hides the
    // caller's scopes); either body gets a further scope only when its own lines need one,
    // so that locals declared in a block die with the block, as in the tree-walker.
    LocalScopeGuard scopeGuard(*this, interp::bodyNeedsOwnScope(*this, *program, chunk));
    Variable result;
    runInstructions(*this, program, chunk, pc, end, signal, 1, result);
    return result;
}

} // namespace cobalt
