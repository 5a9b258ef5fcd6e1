#pragma once
// Coroutines: a "decay function" runs beside the main code, one simple statement per turn.
// Its state between turns is data: a stack of frames over the chunks of its compiled body,
// and the execution context (scopes, path stacks, call bookkeeping, pending jump) that is
// swapped with the engine's for the length of each turn.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "engine/bytecode/bytecode_program.h"
#include "engine/bytecode/loader_state.h"
#include "engine/error/error_context.h"
#include "engine/exec/loop_cursor.h"
#include "engine/scope/scope_state.h"
#include "engine/stdlib/script_callable.h"

namespace cobalt {

/// One running chunk of a coroutine's body. A plain frame (the function body, an if branch,
/// a nest block) is done when its chunk is; a loop frame decides at the end of its chunk
/// whether the body runs again.
struct CoroutineFrame {
    enum class Kind : uint8_t { Body, Block, While, Repeat, NumericFor, GenericFor };
    Kind kind = Kind::Body;
    uint32_t chunk = 0;
    uint32_t pc = 0;   // next instruction (an index into the program's instruction list)
    uint32_t end = 0;  // one past the chunk's last instruction
    uint32_t line = 0; // loops: the while/for line, or the until line of a repeat loop
    size_t blocksAtEntry = 0;  // scope stack sizes to return to when the frame goes
    size_t loopsAtEntry = 0;
    // Numeric for: the counter bound to the loop variable and the clause's limit and step.
    int32_t counter = 0;
    int32_t stop = 0;
    int32_t step = 1;
    std::unique_ptr<GenericForCursor> cursor;  // generic for only

    bool isLoop() const { return kind != Kind::Body && kind != Kind::Block; }
};

/// What a coroutine sees as "the engine" while its turn runs. Between turns it holds the
/// coroutine's own values; during a turn it holds the main code's, which come back when the
/// turn ends however it ends.
struct CoroutineContext {
    std::vector<ScopeList> blocks;
    size_t blockBase = 0;
    std::vector<ScopeList> loops;  // a for loop open across turns keeps its variable here
    uint64_t currentFrame = 0;
    SourceStack directoryStack;
    SourceStack pathStack;
    std::vector<std::shared_ptr<std::vector<Variable>>> varargs;
    uint64_t callDepth = 0;
    std::vector<uint64_t> protectedCalls;
    SoftErrorState softError;
    bool jumpPending = false;  // a jumpTo inside a turn is the coroutine's, never the main code's
    std::string pendingJumpLabel;
    std::vector<ActiveChunk> activeChunks;
};

struct CoroutineState {
    CallableRef function;
    ProgramRef program;  // the body's program (compiled on start for a parsed-line body)
    std::vector<CoroutineFrame> frames;
    CoroutineContext context;
    bool finished = false;
};

using CoroutineRef = std::shared_ptr<CoroutineState>;

struct CoroutineEngineState {
    CoroutineRef scheduled;
    CoroutineRef replacement;           // started from inside a turn; takes over when it unwinds
    CoroutineRef parked;                // reset while its turn ran; kept until the next reset
    std::exception_ptr pendingFailure;  // a turn's failure, waiting for the main code
    uint8_t inTurn = 0;
    uint8_t terminateRequested = 0;
};

} // namespace cobalt
