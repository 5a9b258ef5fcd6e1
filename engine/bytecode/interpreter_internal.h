#pragma once
// Pieces of the bytecode interpreter shared by its translation units: the activation loop
// (interpreter.cpp), the block statements (interpreter_blocks.cpp) and the inline runner
// with the per-chunk facts it caches (inline_runner.cpp). Not part of the engine's interface.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/bytecode/loop_kernel.h"
#include "engine/cobalt_script.h"

namespace cobalt::interp {

/// How the block statements of a chunk run their bodies. An activation runs each body as a
/// nested activation, or in the inline runner when the body allows it; the inline runner
/// runs every body inline. The two modes report malformed side-list indices with their own
/// messages.
enum class RunMode : uint8_t { Activation, Inline };

/// The statement at `index` of the program, or the failure "Bytecode line index out of range".
const ParsedScriptLine& programLine(const BytecodeProgram& program, uint32_t index);

/// One simple statement (opcode 0) through the statement executor, positioned on failure.
void executeLineInstruction(CobaltScript& engine, const ParsedScriptLine& line);
/// A single plain-name assignment whose right side has a fast form (opcode 1).
void executeInlineAssignment(CobaltScript& engine, const ParsedScriptLine& line);

/// A function declaration (opcode 7): the function over the program's body chunk, assigned
/// to its target. Returns the empty value.
Variable executeFunctionDeclaration(CobaltScript& engine, const ProgramRef& program, uint32_t index);

/// Runs a block body chunk: see RunMode.
Variable runBlockBody(CobaltScript& engine, const ProgramRef& program, uint32_t chunk, BlockSignal& signal,
                      RunMode mode);

// Block statements (opcodes 2 to 6). Each returns the value of a `return` inside it and sets
// `signal` to what ended it: none, return, or jump (a break is consumed by the loops and
// passed on by `if`).
Variable executeIfInstruction(CobaltScript& engine, const ProgramRef& program, uint32_t group, BlockSignal& signal,
                              RunMode mode);
Variable executeWhileInstruction(CobaltScript& engine, const ProgramRef& program, uint32_t loop,
                                 BlockSignal& signal, RunMode mode);
Variable executeRepeatInstruction(CobaltScript& engine, const ProgramRef& program, uint32_t loop,
                                  BlockSignal& signal, RunMode mode);
Variable executeNumericForInstruction(CobaltScript& engine, const ProgramRef& program, uint32_t loop,
                                      BlockSignal& signal, RunMode mode);
Variable executeGenericForInstruction(CobaltScript& engine, const ProgramRef& program, uint32_t loop,
                                      BlockSignal& signal);

/// Values of the per-chunk fact caches kept in the program.
inline constexpr uint8_t kChunkFactUnknown = 0;
inline constexpr uint8_t kChunkFactNo = 1;
inline constexpr uint8_t kChunkFactYes = 2;

/// The cached fact of a chunk, or kChunkFactUnknown when it has not been worked out yet.
/// A loop asks for its body's facts on every iteration, so the known answer comes inline.
inline uint8_t knownChunkFact(const std::vector<uint8_t>& facts, uint32_t chunk)
{
    return chunk < facts.size() ? facts[chunk] : kChunkFactUnknown;
}

/// Work out a chunk's fact the first time it is asked for, and record it in the program.
bool learnInlineEligibility(CobaltScript& engine, BytecodeProgram& program, uint32_t chunk);
bool learnOwnScopeNeed(CobaltScript& engine, BytecodeProgram& program, uint32_t chunk);
bool learnInPlaceBody(BytecodeProgram& program, uint32_t chunk);

/// Whether a chunk may run in the inline runner.
inline bool isInlineEligible(CobaltScript& engine, BytecodeProgram& program, uint32_t chunk)
{
    const uint8_t known = knownChunkFact(program.inlineEligibility, chunk);
    return known != kChunkFactUnknown ? known == kChunkFactYes : learnInlineEligibility(engine, program, chunk);
}

/// Whether a block body needs a block scope of its own while it runs: it declares locals or
/// names an explicit block-scope variable (name#3) in its own lines.
inline bool bodyNeedsOwnScope(CobaltScript& engine, BytecodeProgram& program, uint32_t chunk)
{
    const uint8_t known = knownChunkFact(program.ownScopeNeeds, chunk);
    return known != kChunkFactUnknown ? known == kChunkFactYes : learnOwnScopeNeed(engine, program, chunk);
}

/// Whether a block body may run in place (runChunkInPlace): its range is valid and it holds
/// no nest block, so no jump can land in it and its active-chunk record would never be
/// searched with success.
inline bool runsInPlace(BytecodeProgram& program, uint32_t chunk)
{
    const uint8_t known = knownChunkFact(program.inPlaceBodies, chunk);
    return known != kChunkFactUnknown ? known == kChunkFactYes : learnInPlaceBody(program, chunk);
}

/// Runs a block body as a nested activation would (same instruction loop, same scope for its
/// locals, same boundaries for jumps, soft errors and coroutine turns) but without the
/// activation's own bookkeeping: the body's active-chunk record, which nothing could find a
/// label in, and the copy of the program reference, which the enclosing activation holds.
Variable runChunkInPlace(CobaltScript& engine, const ProgramRef& program, uint32_t chunk, BlockSignal& signal);
/// A loop body that runs in place, with its instruction range read once for the whole loop.
struct LoopBodyChunk {
    uint32_t chunk = 0;
    uint32_t first = 0;
    uint64_t end = 0;
};
/// runChunkInPlace for a loop body known to need no block scope of its own. The value of a
/// `return` goes to `result`, which is left alone otherwise. With a `handover`, only the rest
/// of the body that its loop kernel handed over runs.
void runLoopBodyInPlace(CobaltScript& engine, const ProgramRef& program, const LoopBodyChunk& body,
                        BlockSignal& signal, Variable& result, KernelHandover* handover);
/// runChunkInPlace for a loop body that needs a block scope of its own, run in the scope at
/// `heldAt` that its loop keeps open (empty, on top of the stack) instead of pushing and
/// popping one per iteration. The scope is emptied again on every exit. `result` and
/// `handover` as above.
void runChunkInHeldScope(CobaltScript& engine, const ProgramRef& program, const LoopBodyChunk& body,
                         BlockSignal& signal, size_t heldAt, Variable& result, KernelHandover* handover);
/// Empties the held scope at `heldAt` as its loop does after each iteration: no entries, and a
/// new identity, so that no resolution cache trusts an entry of the old locals.
void emptyHeldScope(ScopeState& scopes, size_t heldAt);
/// The rest of an if's branch body that a loop kernel handed over (`handover`), run in place
/// as the branch would have run; returns the value of a `return` and sets `signal`.
Variable runBranchRest(CobaltScript& engine, const ProgramRef& program, uint32_t chunk, uint64_t end,
                       KernelHandover& handover, BlockSignal& signal);
/// Runs a chunk inside the current activation: no active-chunk record, no scope frame.
Variable runInlineChunk(CobaltScript& engine, const ProgramRef& program, uint32_t chunk, BlockSignal& signal);

/// True when an active chunk holds a nest block with `label`; the innermost `skip` records
/// (the running activation itself) are not searched.
bool activeChunksHoldLabel(const CobaltScript& engine, const std::string& label, size_t skip);

} // namespace cobalt::interp
