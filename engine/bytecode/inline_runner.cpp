// The inline runner: runs a block body inside the activation that reached it, without a
// nested activation, an active-chunk record or a scope of its own. It serves chunks whose
// records say they are plain blocks (both flags clear) and that hold nothing but lines,
// breaks and the simple block statements. It must behave exactly like the nested
// activation it replaces, so it resolves pending jumps and unwinds soft errors at the same
// instruction boundaries.

#include <string>

#include "engine/bytecode/interpreter_internal.h"
#include "engine/error/script_error.h"

namespace cobalt::interp {
namespace {

bool rangeValid(const BytecodeProgram& program, const BytecodeChunk& record)
{
    return uint64_t{record.firstInstruction} + record.instructionCount <= program.instructions.size();
}

/// Body chunks of the block statements the inline runner accepts. A side-list index out of
/// range names no body: the runner reports it with its own message when it gets there.
bool bodiesEligible(CobaltScript& engine, BytecodeProgram& program, const Instruction& instruction)
{
    const uint32_t operand = instruction.operand;
    switch (instruction.opcode) {
    case Opcode::Line:
    case Opcode::InlineAssignment:
    case Opcode::Break: return true;
    case Opcode::If:
        if (operand >= program.ifGroups.size()) return true;
        for (size_t i = 0; i < program.ifGroups[operand].branches.size(); ++i) {
            if (!isInlineEligible(engine, program, program.ifGroups[operand].branches[i].chunk)) return false;
        }
        return true;
    case Opcode::While:
        return operand >= program.whileLoops.size() ||
               isInlineEligible(engine, program, program.whileLoops[operand].chunk);
    case Opcode::Repeat:
        return operand >= program.repeatLoops.size() ||
               isInlineEligible(engine, program, program.repeatLoops[operand].chunk);
    case Opcode::NumericFor:
        return operand >= program.numericForLoops.size() ||
               isInlineEligible(engine, program, program.numericForLoops[operand].chunk);
    default: return false;
    }
}

bool computeEligibility(CobaltScript& engine, BytecodeProgram& program, uint32_t chunk)
{
    engine.checkNativeStack();
    const BytecodeChunk record = program.chunks[chunk];
    if (record.declaresLocals != 0 || record.functionBody != 0 || !rangeValid(program, record)) return false;
    if (bodyNeedsOwnScope(engine, program, chunk)) return false;
    const uint32_t end = record.firstInstruction + record.instructionCount;
    for (uint32_t at = record.firstInstruction; at < end; ++at) {
        if (!bodiesEligible(engine, program, program.instructions[at])) return false;
    }
    return true;
}

/// Lines whose own statement may write a block-scope variable: the name#3 form writes the
/// innermost block scope, which must then be the body's own.
bool namesBlockScopeVariable(CobaltScript& engine, const ParsedScriptLine& line)
{
    std::string_view base;
    int scope = 0;
    for (const Token& token : line.tokens) {
        if (token.find('#') != Token::npos && engine.parseScopedVariableToken(token, base, scope) && scope == 3) {
            return true;
        }
    }
    return false;
}

bool computeOwnScopeNeed(CobaltScript& engine, const BytecodeProgram& program, uint32_t chunk)
{
    const BytecodeChunk record = program.chunks[chunk];
    if (record.declaresLocals != 0) return true;
    if (!rangeValid(program, record)) return false;
    const uint32_t end = record.firstInstruction + record.instructionCount;
    for (uint32_t at = record.firstInstruction; at < end; ++at) {
        const Instruction& instruction = program.instructions[at];
        uint32_t line = 0;
        if (instruction.opcode == Opcode::Line || instruction.opcode == Opcode::InlineAssignment) {
            line = instruction.operand;
        } else if (instruction.opcode == Opcode::FunctionDeclaration &&
                   instruction.operand < program.functionDecls.size()) {
            line = program.functionDecls[instruction.operand].line;
        } else {
            continue;
        }
        if (line < program.lines.size() && namesBlockScopeVariable(engine, program.lines[line])) return true;
    }
    return false;
}

/// Jump resolution for the inline runner. The nested activation it stands in for would find
/// no label in its own chunk (eligible chunks hold no nest blocks) and would search every
/// other active chunk, which here are all of them.
bool resolveJumpInline(CobaltScript& engine, BlockSignal& signal)
{
    while (engine.loader.jumpPending) {
        const std::string label = engine.loader.pendingJumpLabel;
        if (activeChunksHoldLabel(engine, label, 0)) {
            signal = BlockSignal::Jump;
            return false;
        }
        engine.loader.jumpPending = false;
        engine.loader.pendingJumpLabel.clear();
        if (!engine.executeRegisteredJumpTarget(label)) fail("jumpTo target not found: " + label);
    }
    return true;
}

Variable executeInlineInstruction(CobaltScript& engine, const ProgramRef& program, const Instruction& instruction,
                                  BlockSignal& signal)
{
    const uint32_t operand = instruction.operand;
    switch (instruction.opcode) {
    case Opcode::Line: executeLineInstruction(engine, programLine(*program, operand)); return Variable();
    case Opcode::InlineAssignment:
        executeInlineAssignment(engine, programLine(*program, operand));
        return Variable();
    case Opcode::If: return executeIfInstruction(engine, program, operand, signal, RunMode::Inline);
    case Opcode::While: return executeWhileInstruction(engine, program, operand, signal, RunMode::Inline);
    case Opcode::Repeat: return executeRepeatInstruction(engine, program, operand, signal, RunMode::Inline);
    case Opcode::NumericFor: return executeNumericForInstruction(engine, program, operand, signal, RunMode::Inline);
    case Opcode::Break:
        if (operand < program->lines.size()) engine.setPositionContext(program->lines[operand]);
        signal = BlockSignal::Break;
        return Variable();
    default: fail("Unexpected non-inline opcode");
    }
}

} // namespace

bool learnInlineEligibility(CobaltScript& engine, BytecodeProgram& program, uint32_t chunk)
{
    if (chunk >= program.chunks.size()) return false;
    if (program.inlineEligibility.size() < program.chunks.size()) {
        program.inlineEligibility.resize(program.chunks.size(), kChunkFactUnknown);
    }
    if (program.inlineEligibility[chunk] != kChunkFactUnknown) return program.inlineEligibility[chunk] == kChunkFactYes;
    // Marked "no" while its bodies are examined, so a malformed program whose chunks refer
    // to each other in a cycle ends the walk instead of recursing for ever.
    program.inlineEligibility[chunk] = kChunkFactNo;
    const bool eligible = computeEligibility(engine, program, chunk);
    program.inlineEligibility[chunk] = eligible ? kChunkFactYes : kChunkFactNo;
    return eligible;
}

bool learnOwnScopeNeed(CobaltScript& engine, BytecodeProgram& program, uint32_t chunk)
{
    if (chunk >= program.chunks.size()) return false;
    if (program.ownScopeNeeds.size() < program.chunks.size()) {
        program.ownScopeNeeds.resize(program.chunks.size(), kChunkFactUnknown);
    }
    if (program.ownScopeNeeds[chunk] == kChunkFactUnknown) {
        program.ownScopeNeeds[chunk] = computeOwnScopeNeed(engine, program, chunk) ? kChunkFactYes : kChunkFactNo;
    }
    return program.ownScopeNeeds[chunk] == kChunkFactYes;
}

Variable runInlineChunk(CobaltScript& engine, const ProgramRef& program, uint32_t chunk, BlockSignal& signal)
{
    engine.checkNativeStack();
    signal = BlockSignal::None;
    if (chunk >= program->chunks.size()) fail("Invalid bytecode chunk index");
    const BytecodeChunk record = program->chunks[chunk];
    if (!rangeValid(*program, record)) fail("Bytecode chunk range is out of bounds");
    const uint32_t end = record.firstInstruction + record.instructionCount;

    for (uint32_t pc = record.firstInstruction;; ++pc) {
        if (engine.loader.jumpPending && !resolveJumpInline(engine, signal)) return Variable();
        if (pc >= end) break;
        // Coroutine scheduling as in the activation loop.
        if (engine.coroutines.pendingFailure) engine.rethrowPendingCoroutineException();
        if (engine.softErrorUnwinding()) return Variable();
        engine.checkStopBoundary();
        const Instruction instruction = program->instructions[pc];
        Variable value = executeInlineInstruction(engine, program, instruction, signal);
        if (engine.coroutines.scheduled && engine.coroutines.inTurn == 0) {
            engine.serviceScheduledCoroutineTurnNoThrow();
        }
        if (signal != BlockSignal::None) return signal == BlockSignal::Return ? value : Variable();
    }
    return Variable();
}

} // namespace cobalt::interp
