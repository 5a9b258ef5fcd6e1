#pragma once
// The compiled form of a script: coarse instructions, one per statement line or block
// statement. Block statements refer to side records whose bodies are chunks of their own;
// a chunk is a contiguous run of instructions. Expressions are not compiled: a line
// instruction runs its parsed line through the statement executor.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/parser/parsed_script_line.h"

namespace cobalt {

inline constexpr uint16_t kBytecodeVersion = 60;

enum class Opcode : uint8_t {
#define OPCODE(name, value) name = value,
#include "engine/bytecode/opcodes.def"
#undef OPCODE
};

struct LoopKernel;

struct Instruction {
    Opcode opcode = Opcode::Line;
    uint32_t operand = 0;
    uint32_t operand2 = 0;  // always 0 as compiled
};

struct BytecodeChunk {
    uint32_t firstInstruction = 0;
    uint32_t instructionCount = 0;
    uint8_t declaresLocals = 0;
    uint8_t functionBody = 0;
};

struct BytecodeIfBranch {
    uint32_t line = 0;
    uint32_t chunk = 0;
    uint8_t isElse = 0;
};

struct BytecodeIfGroup {
    std::vector<BytecodeIfBranch> branches;
};

struct BytecodeLoop {
    uint32_t line = 0;  // the while/for line; for repeat loops the until line
    uint32_t chunk = 0;
};

struct BytecodeNestBlock {
    uint32_t line = 0;
    uint32_t chunk = 0;
    uint32_t parentChunk = 0;
    std::string label;
};

struct BytecodeFunctionDecl {
    uint32_t line = 0;
    uint32_t chunk = 0;
    uint32_t firstBodyLine = 0;
    uint32_t endLine = 0;
    std::string directory;
    std::string path;
};

struct BytecodeProgram {
    uint16_t version = kBytecodeVersion;
    std::string directory;
    std::string path;
    ParsedLines lines;
    std::vector<Instruction> instructions;
    std::vector<BytecodeChunk> chunks;
    std::vector<BytecodeIfGroup> ifGroups;
    std::vector<BytecodeLoop> whileLoops;
    std::vector<BytecodeLoop> repeatLoops;
    std::vector<BytecodeLoop> numericForLoops;
    std::vector<BytecodeLoop> genericForLoops;
    std::vector<BytecodeNestBlock> nestBlocks;
    std::vector<BytecodeFunctionDecl> functionDecls;

    // Interpreter cache, one byte per chunk: 0 unknown, 1 not inline-eligible, 2 eligible.
    std::vector<uint8_t> inlineEligibility;
    // Interpreter cache, one byte per chunk: 0 unknown, 1 the body runs in its enclosing block
    // scope, 2 it needs a block scope of its own (it declares locals or names name#3).
    std::vector<uint8_t> ownScopeNeeds;
    // Interpreter cache, one byte per chunk: 0 unknown, 1 a block body that needs an
    // activation of its own, 2 one that may run in place (see interp::runsInPlace).
    std::vector<uint8_t> inPlaceBodies;
    // Interpreter cache, per chunk: whether a loop body has a kernel (0 unknown, 1 no, 2 yes),
    // and the kernel (loop_kernel.h). Made of indices into this program only.
    std::vector<uint8_t> loopKernelFacts;
    std::vector<std::shared_ptr<const LoopKernel>> loopKernels;
};

using ProgramRef = std::shared_ptr<BytecodeProgram>;

} // namespace cobalt
