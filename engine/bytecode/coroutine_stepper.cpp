// The coroutine stepper: runs a coroutine's compiled body up to and including its next
// simple statement. Block statements open frames and are stepped through within the same
// turn; loops keep their progress in their frames, so a loop can span many turns. Statements,
// conditions and loop clauses go through the same routines as the interpreter's, so a body
// behaves the same as a coroutine as it does as an ordinary call.

#include <exception>
#include <limits>
#include <string>
#include <utility>
#include <variant>

#include "engine/bytecode/interpreter_internal.h"
#include "engine/error/script_error.h"

namespace cobalt {
namespace {

using Kind = CoroutineFrame::Kind;

/// Frames a coroutine may stack. Compiled source nests far less deeply; a malformed program
/// whose chunk names itself as its own body would otherwise stack frames without end.
constexpr size_t kMaxCoroutineFrames = 10000;

const ParsedScriptLine& coroutineLine(const BytecodeProgram& program, uint32_t index)
{
    if (index >= program.lines.size()) fail("Coroutine line index out of range");
    return program.lines[index];
}

template <typename Record>
const Record& sideRecord(const std::vector<Record>& records, uint32_t index, const char* message)
{
    if (index >= records.size()) fail(message);
    return records[index];
}

class Stepper {
public:
    Stepper(CobaltScript& engine, CoroutineState& state)
        : m_engine(engine), m_state(state), m_program(*state.program), m_frames(state.frames)
    {
    }

    /// True once the coroutine has finished.
    bool turn()
    {
        while (true) {
            if (m_frames.empty()) return true;
            CoroutineFrame& frame = m_frames.back();
            if (frame.pc >= frame.end) {
                endOfChunk();
                continue;
            }
            const Instruction instruction = m_program.instructions[frame.pc];
            ++frame.pc;
            if (step(instruction)) return afterStatement();
            if (m_frames.empty()) return true;
        }
    }

private:
    /// Runs one instruction; true when it was a simple statement, which ends the turn.
    bool step(const Instruction& instruction)
    {
        const uint32_t operand = instruction.operand;
        switch (instruction.opcode) {
        case Opcode::Line: interp::executeLineInstruction(m_engine, coroutineLine(m_program, operand)); return true;
        case Opcode::InlineAssignment:
            interp::executeInlineAssignment(m_engine, coroutineLine(m_program, operand));
            return true;
        case Opcode::FunctionDeclaration:
            // A declaration assigns its function like an assignment statement does.
            interp::executeFunctionDeclaration(m_engine, m_state.program, operand);
            return true;
        case Opcode::If: enterIf(operand); return false;
        case Opcode::While: enterWhile(operand); return false;
        case Opcode::Repeat: {
            const BytecodeLoop& loop =
                sideRecord(m_program.repeatLoops, operand, "Bytecode repeat-loop index out of range");
            coroutineLine(m_program, loop.line);
            pushCoroutineBlockFrame(Kind::Repeat, loop.chunk, loop.line);
            return false;
        }
        case Opcode::NumericFor: enterNumericFor(operand); return false;
        case Opcode::GenericFor: enterGenericFor(operand); return false;
        case Opcode::Return: {
            const ParsedScriptLine& line = coroutineLine(m_program, operand);
            m_engine.setPositionContext(line);
            try {
                m_engine.evaluateReturnValues(line);
            } catch (const std::exception&) {
                m_engine.rethrowPositioned(line);
            }
            m_frames.clear();
            return false;
        }
        case Opcode::Break:
            if (operand < m_program.lines.size()) m_engine.setPositionContext(m_program.lines[operand]);
            breakLoop();
            return false;
        case Opcode::Nest: {
            const BytecodeNestBlock& nest =
                sideRecord(m_program.nestBlocks, operand, "Bytecode nest-block index out of range");
            pushCoroutineBlockFrame(Kind::Block, nest.chunk, nest.line);
            return false;
        }
        }
        fail("Invalid bytecode opcode " + std::to_string(static_cast<unsigned>(instruction.opcode)));
    }

    /// After a simple statement: a soft error left pending ends the coroutine, and a jumpTo
    /// it asked for is resolved among its own frames. True when the coroutine has finished.
    bool afterStatement()
    {
        if (m_engine.softErrorUnwinding()) {
            m_frames.clear();
            return true;
        }
        if (m_engine.loader.jumpPending) resolveJump();
        return m_frames.empty();
    }

    // ----- frames -----

    /// Opens a frame over `chunk`; the parent's program counter has already moved past the
    /// statement that opened it.
    void pushCoroutineBlockFrame(Kind kind, uint32_t chunk, uint32_t line)
    {
        if (m_frames.size() >= kMaxCoroutineFrames) fail(kRecursionTooDeep);
        if (chunk >= m_program.chunks.size()) fail("Invalid bytecode chunk index");
        const BytecodeChunk record = m_program.chunks[chunk];
        const uint64_t end = uint64_t{record.firstInstruction} + record.instructionCount;
        if (end > m_program.instructions.size()) fail("Bytecode chunk range is out of bounds");
        CoroutineFrame frame;
        frame.kind = kind;
        frame.chunk = chunk;
        frame.pc = record.firstInstruction;
        frame.end = static_cast<uint32_t>(end);
        frame.line = line;
        frame.blocksAtEntry = m_engine.scopes.blocks.size();
        frame.loopsAtEntry = m_engine.scopes.loops.size();
        m_engine.activeChunks.push_back(ActiveChunk{m_state.program, chunk});
        m_frames.push_back(std::move(frame));
        openBodyScope();
    }

    /// A body gets a block scope of its own when its lines need one, afresh for each pass,
    /// as an activation of the chunk would.
    void openBodyScope()
    {
        const CoroutineFrame& frame = m_frames.back();
        if (interp::bodyNeedsOwnScope(m_engine, *m_state.program, frame.chunk)) m_engine.pushBlockScope();
    }

    /// Closes the scopes of the innermost frame's current pass, keeping a loop's variable.
    void closeBodyScope()
    {
        const size_t keep = m_frames.back().blocksAtEntry;
        while (m_engine.scopes.blocks.size() > keep) m_engine.popBlockScope();
    }

    void popCoroutineBlockFrame()
    {
        const CoroutineFrame& frame = m_frames.back();
        while (m_engine.scopes.blocks.size() > frame.blocksAtEntry) m_engine.popBlockScope();
        while (m_engine.scopes.loops.size() > frame.loopsAtEntry) m_engine.popLoopScope();
        if (!m_engine.activeChunks.empty()) m_engine.activeChunks.pop_back();
        m_frames.pop_back();
    }

    /// Ends the innermost loop together with every frame inside it.
    void popCoroutineLoopFrame()
    {
        while (!m_frames.empty()) {
            const bool loop = m_frames.back().isLoop();
            popCoroutineBlockFrame();
            if (loop) return;
        }
    }

    void breakLoop()
    {
        for (const CoroutineFrame& frame : m_frames) {
            if (frame.isLoop()) {
                popCoroutineLoopFrame();
                return;
            }
        }
        fail("break used outside a loop");
    }

    /// Starts the next pass over the innermost frame's body.
    void restartBody()
    {
        closeBodyScope();
        CoroutineFrame& frame = m_frames.back();
        frame.pc = m_program.chunks[frame.chunk].firstInstruction;
        openBodyScope();
    }

    /// The innermost frame has run its chunk to the end: a plain frame is done, a loop
    /// decides whether its body runs again.
    void endOfChunk()
    {
        CoroutineFrame& frame = m_frames.back();
        switch (frame.kind) {
        case Kind::Body:
        case Kind::Block: popCoroutineBlockFrame(); return;
        case Kind::While: {
            closeBodyScope();
            const bool again = m_engine.evaluateCondition(coroutineLine(m_program, frame.line),
                                                          "Unexpected token after while condition");
            again ? restartBody() : popCoroutineBlockFrame();
            return;
        }
        case Kind::Repeat: {
            closeBodyScope();
            const ParsedScriptLine& untilLine = coroutineLine(m_program, frame.line);
            if (untilLine.tokens.size() < 2) {
                m_engine.setPositionContext(untilLine);
                m_engine.throwError("Missing until condition", "until");
            }
            const bool done = m_engine.evaluateCondition(untilLine, "Unexpected token after until condition");
            done ? popCoroutineBlockFrame() : restartBody();
            return;
        }
        case Kind::NumericFor: {
            // The counter is a 32-bit int: a step that would carry it out of range ends the loop.
            const int64_t next = int64_t{frame.counter} + frame.step;
            const bool inRange = next <= std::numeric_limits<int32_t>::max() &&
                                 next >= std::numeric_limits<int32_t>::min() &&
                                 (frame.step > 0 ? next <= frame.stop : next >= frame.stop);
            if (!inRange) {
                popCoroutineBlockFrame();
                return;
            }
            frame.counter = static_cast<int32_t>(next);
            closeBodyScope();
            setNumericForVariable(frame);
            restartBody();
            return;
        }
        case Kind::GenericFor: {
            closeBodyScope();
            const ParsedScriptLine& line = coroutineLine(m_program, frame.line);
            if (advanceGenericForCursor(m_engine, line, *frame.cursor, frame.loopsAtEntry)) {
                restartBody();
            } else {
                popCoroutineBlockFrame();
            }
            return;
        }
        }
    }

    // ----- block statements -----

    void enterIf(uint32_t group)
    {
        const BytecodeIfGroup& record = sideRecord(m_program.ifGroups, group, "Bytecode if-group index out of range");
        for (size_t i = 0; i < record.branches.size(); ++i) {
            const BytecodeIfBranch branch = m_program.ifGroups[group].branches[i];
            if (!branch.isElse && !m_engine.evaluateCondition(coroutineLine(m_program, branch.line),
                                                              "Unexpected token after if condition")) {
                continue;
            }
            pushCoroutineBlockFrame(Kind::Block, branch.chunk, branch.line);
            return;
        }
    }

    void enterWhile(uint32_t index)
    {
        const BytecodeLoop loop = sideRecord(m_program.whileLoops, index, "Bytecode while-loop index out of range");
        const ParsedScriptLine& line = coroutineLine(m_program, loop.line);
        if (!m_engine.evaluateCondition(line, "Unexpected token after while condition")) return;
        pushCoroutineBlockFrame(Kind::While, loop.chunk, loop.line);
    }

    /// The loop variable lives in a loop scope under the body's scopes, which the frame
    /// removes when the loop ends.
    void pushLoopScope(const std::vector<std::string>& names)
    {
        m_engine.pushLoopScope();
        ScopeList& scope = m_engine.scopes.loops.back();
        for (const std::string& name : names) scope.add(name, Variable());
    }

    void setNumericForVariable(const CoroutineFrame& frame)
    {
        auto& entries = m_engine.scopes.loops[frame.loopsAtEntry].entries;
        if (entries.empty()) return;
        // In place rather than by assigning a temporary: the loop variable is rebound on every
        // iteration, and GCC's optimiser misreads the temporary's variant move at -O3.
        Variable& slot = entries[0].second;
        // Still the int of the last pass unless the body assigned the variable: then only
        // the number changes, without the payload's reset.
        if (auto* held = std::get_if<int32_t>(&slot.value)) {
            *held = frame.counter;
        } else {
            slot.value.emplace<int32_t>(frame.counter);
        }
        slot.type = VarType::Int;
    }

    void enterNumericFor(uint32_t index)
    {
        const BytecodeLoop loop =
            sideRecord(m_program.numericForLoops, index, "Bytecode numeric-for index out of range");
        const ParsedScriptLine& line = coroutineLine(m_program, loop.line);
        const NumericForRange range = evaluateNumericForRange(m_engine, line);
        if (range.step > 0 ? range.start > range.stop : range.start < range.stop) return;
        const size_t blocks = m_engine.scopes.blocks.size();
        const size_t loops = m_engine.scopes.loops.size();
        pushLoopScope({line.tokens[1]});
        pushCoroutineBlockFrame(Kind::NumericFor, loop.chunk, loop.line);
        CoroutineFrame& frame = m_frames.back();
        frame.blocksAtEntry = blocks;
        frame.loopsAtEntry = loops;
        frame.counter = range.start;
        frame.stop = range.stop;
        frame.step = range.step;
        setNumericForVariable(frame);
    }

    void enterGenericFor(uint32_t index)
    {
        const BytecodeLoop loop =
            sideRecord(m_program.genericForLoops, index, "Bytecode generic-for index out of range");
        const ParsedScriptLine& line = coroutineLine(m_program, loop.line);
        auto cursor = std::make_unique<GenericForCursor>();
        openGenericForCursor(m_engine, line, *cursor);
        const size_t blocks = m_engine.scopes.blocks.size();
        const size_t loops = m_engine.scopes.loops.size();
        pushLoopScope(cursor->names);
        if (!advanceGenericForCursor(m_engine, line, *cursor, loops)) {
            m_engine.popLoopScope();
            return;
        }
        pushCoroutineBlockFrame(Kind::GenericFor, loop.chunk, loop.line);
        CoroutineFrame& frame = m_frames.back();
        frame.blocksAtEntry = blocks;
        frame.loopsAtEntry = loops;
        frame.cursor = std::move(cursor);
    }

    // ----- jumpTo -----

    /// A label in one of the coroutine's own chunks continues there (the frames inside it
    /// are left); any other label runs its registered target, after which the coroutine goes
    /// on where it stood.
    void resolveJump()
    {
        while (m_engine.loader.jumpPending) {
            const std::string label = m_engine.loader.pendingJumpLabel;
            m_engine.loader.jumpPending = false;
            m_engine.loader.pendingJumpLabel.clear();
            for (size_t depth = m_frames.size(); depth-- > 0;) {
                uint32_t instruction = 0;
                uint32_t nest = 0;
                if (!m_engine.findNestLabelInBytecodeChunk(m_program, m_frames[depth].chunk, label, instruction,
                                                           nest)) {
                    continue;
                }
                while (m_frames.size() > depth + 1) popCoroutineBlockFrame();
                m_frames.back().pc = instruction;
                return;
            }
            if (!m_engine.executeRegisteredJumpTarget(label)) fail("jumpTo target not found: " + label);
        }
    }

    CobaltScript& m_engine;
    CoroutineState& m_state;
    BytecodeProgram& m_program;
    std::vector<CoroutineFrame>& m_frames;
};

} // namespace

bool CobaltScript::executeCoroutineTurn(CoroutineState& state)
{
    checkNativeStack();
    if (!state.program) return true;
    // The stepper reads the program through a reference: the state, alive for the whole turn,
    // holds it, and it is fixed when the coroutine starts.
    return Stepper(*this, state).turn();
}

} // namespace cobalt
