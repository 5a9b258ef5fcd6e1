// The nest-label registry behind jumpTo: which labels a script function's program carries,
// where a label sits in a chunk, and running a registered label's chunk from its nest block.

#include <memory>
#include <string>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {

namespace {

/// A chunk whose record and instruction range are usable; empty chunks count as unusable.
const BytecodeChunk* usableChunk(const BytecodeProgram& program, uint32_t chunk)
{
    if (chunk >= program.chunks.size()) return nullptr;
    const BytecodeChunk& record = program.chunks[chunk];
    const uint64_t end = uint64_t{record.firstInstruction} + record.instructionCount;
    if (end > program.instructions.size() || record.instructionCount == 0) return nullptr;
    return &record;
}

/// Everything a registered jump target pushes to run like a call of its function, undone on
/// every exit.
class JumpTargetFrame {
public:
    JumpTargetFrame(CobaltScript& engine, const ScriptCallable& function)
        : m_engine(engine),
          m_savedFrame(engine.scopes.currentFrame),
          m_savedBlockBase(engine.scopes.blockBase),
          m_savedBlocks(engine.scopes.blocks.size()),
          m_savedVarargs(engine.calls.varargs.size()),
          m_savedDirectories(engine.loader.directoryStack.size()),
          m_savedPaths(engine.loader.pathStack.size())
    {
        engine.scopes.currentFrame = function.capturedScope;
        engine.scopes.blockBase = engine.scopes.blocks.size();
        engine.pushBlockScope();
        for (const std::string& parameter : function.parameters) {
            CobaltScript::setInScope(engine.scopes.blocks.back(), parameter, Variable());
        }
        if (function.isVariadic) engine.calls.varargs.push_back(std::make_shared<std::vector<Variable>>());
        if (!function.sourceDirectory.empty()) engine.loader.directoryStack.push_back(function.sourceDirectory);
        if (!function.sourcePath.empty()) engine.loader.pathStack.push_back(function.sourcePath);
    }
    ~JumpTargetFrame()
    {
        m_engine.loader.pathStack.resize(m_savedPaths);
        m_engine.loader.directoryStack.resize(m_savedDirectories);
        m_engine.calls.varargs.resize(m_savedVarargs);
        while (m_engine.scopes.blocks.size() > m_savedBlocks) m_engine.popBlockScope();
        m_engine.scopes.blockBase = m_savedBlockBase;
        m_engine.scopes.currentFrame = m_savedFrame;
    }
    JumpTargetFrame(const JumpTargetFrame&) = delete;
    JumpTargetFrame& operator=(const JumpTargetFrame&) = delete;

private:
    CobaltScript& m_engine;
    uint64_t m_savedFrame;
    size_t m_savedBlockBase;
    size_t m_savedBlocks;
    size_t m_savedVarargs;
    size_t m_savedDirectories;
    size_t m_savedPaths;
};

} // namespace

Variable CobaltScript::jumpToFunction(NativeArgs args)
{
    if (args.size() != 1 || args[0].type != VarType::String) {
        fail("jumpTo(label) expects exactly one string argument");
    }
    if (args[0].asString().empty()) fail("jumpTo(label) expects a non-empty label");
    loader.pendingJumpLabel = args[0].asString();
    loader.jumpPending = true;
    return Variable();
}

// Labels inside function bodies are left out: they are registered when that function is
// first called, so that the registry points at the running function. The body chunks are
// walked with a work list and each is visited once: a malformed program (one read from a
// snapshot) may name a chunk as its own body or share bodies between statements, which must
// neither recurse for ever nor multiply the work.
void CobaltScript::registerCallableNestLabelsRecursive(const CallableRef& function, uint32_t chunk)
{
    if (!function || !function->program) return;
    const BytecodeProgram& program = *function->program;
    // Depth first in instruction order, as a recursive walk would go, so that of two nest
    // blocks with one label the later one wins.
    struct Walk {
        uint32_t at;
        uint32_t end;
        size_t branch;  // next if-branch to enter at `at`
    };
    std::vector<bool> seen(program.chunks.size(), false);
    std::vector<Walk> stack;
    auto enter = [&](uint32_t body) {
        if (body >= seen.size() || seen[body]) return;
        seen[body] = true;
        if (const BytecodeChunk* record = usableChunk(program, body)) {
            stack.push_back(Walk{record->firstInstruction, record->firstInstruction + record->instructionCount, 0});
        }
    };
    enter(chunk);
    while (!stack.empty()) {
        Walk& walk = stack.back();
        if (walk.at >= walk.end) {
            stack.pop_back();
            continue;
        }
        const Instruction& instruction = program.instructions[walk.at];
        const uint32_t operand = instruction.operand;
        if (instruction.opcode == Opcode::If && operand < program.ifGroups.size() &&
            walk.branch < program.ifGroups[operand].branches.size()) {
            const uint32_t body = program.ifGroups[operand].branches[walk.branch++].chunk;
            enter(body);  // may invalidate `walk`
            continue;
        }
        ++walk.at;
        walk.branch = 0;
        switch (instruction.opcode) {
        case Opcode::While:
            if (operand < program.whileLoops.size()) enter(program.whileLoops[operand].chunk);
            break;
        case Opcode::Repeat:
            if (operand < program.repeatLoops.size()) enter(program.repeatLoops[operand].chunk);
            break;
        case Opcode::NumericFor:
            if (operand < program.numericForLoops.size()) enter(program.numericForLoops[operand].chunk);
            break;
        case Opcode::GenericFor:
            if (operand < program.genericForLoops.size()) enter(program.genericForLoops[operand].chunk);
            break;
        case Opcode::Nest:
            if (operand < program.nestBlocks.size()) {
                const BytecodeNestBlock& nest = program.nestBlocks[operand];
                if (!nest.label.empty()) {
                    loader.jumpTargets[nest.label] = JumpTarget{function, function->program, nest.parentChunk, operand};
                }
                enter(nest.chunk);
            }
            break;
        default:
            break;
        }
    }
}

// The instruction index is the position in the program's whole instruction list (inside
// the chunk's range), as executeBytecodeChunkInternal takes it for its start instruction.
bool CobaltScript::findNestLabelInBytecodeChunk(const BytecodeProgram& program, uint32_t chunk,
                                                const std::string& label, uint32_t& instructionIndex,
                                                uint32_t& nestIndex) const
{
    const BytecodeChunk* record = usableChunk(program, chunk);
    if (record == nullptr) return false;
    const uint32_t end = record->firstInstruction + record->instructionCount;
    for (uint32_t at = record->firstInstruction; at < end; ++at) {
        const Instruction& instruction = program.instructions[at];
        if (instruction.opcode != Opcode::Nest || instruction.operand >= program.nestBlocks.size()) continue;
        if (program.nestBlocks[instruction.operand].label == label) {
            instructionIndex = at;
            nestIndex = instruction.operand;
            return true;
        }
    }
    return false;
}

bool CobaltScript::executeRegisteredJumpTarget(const std::string& label)
{
    const auto found = loader.jumpTargets.find(label);
    if (found == loader.jumpTargets.end()) return false;
    const CallableRef function = found->second.function.lock();
    const ProgramRef program = found->second.program.lock();
    if (!function || !program) return false;
    const uint32_t chunk = found->second.chunk;
    if (chunk >= program->chunks.size() || found->second.nestIndex >= program->nestBlocks.size()) return false;

    uint32_t instructionIndex = 0;
    uint32_t nestIndex = 0;
    if (!findNestLabelInBytecodeChunk(*program, chunk, label, instructionIndex, nestIndex)) return false;

    BlockSignal signal = BlockSignal::None;
    {
        JumpTargetFrame frame(*this, *function);
        executeBytecodeChunkInternal(program, chunk, signal, true, instructionIndex);
    }
    if (signal == BlockSignal::Break) fail("break used outside a loop");
    return true;
}

} // namespace cobalt
