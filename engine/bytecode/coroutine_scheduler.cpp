// Coroutine scheduling: starting a coroutine, giving the scheduled one its turn with the
// execution context swapped, replacement and kill(), and carrying a turn's failure over to
// the main code.

#include <exception>
#include <string>
#include <utility>

#include "engine/cobalt_script.h"
#include "engine/error/position_context_guard.h"
#include "engine/error/script_error.h"

namespace cobalt {
namespace {

/// Exchanges two strings or vectors unless both are empty, which is what they nearly always
/// are on both sides: the test costs less than the exchange.
template <typename Container>
void swapUnlessBothEmpty(Container& a, Container& b)
{
    if (!a.empty() || !b.empty()) a.swap(b);
}

/// Whether a directory or path stack must be exchanged for a turn: not when both have the same
/// entry on top. Only the top of these stacks is ever read, and whatever a statement pushes
/// is cut off again when it ends, so nothing below the top at the turn's start is reached
/// within the turn: with the same entry on top, the turn may as well run on the main code's
/// stack, and leaves it as it found it. The common case, a coroutine of the script's own
/// file, then moves no stack. Decided once per turn, so the exchange back mirrors it.
bool stacksDiffer(const SourceStack& a, const SourceStack& b)
{
    return a.empty() || b.empty() || a.topId() != b.topId();
}

/// Exchanges the engine's execution context with `context`. The same call installs a
/// coroutine's context and puts the main code's back; swapping moves no scope storage, so
/// pointers into scope lists stay valid and nothing is allocated. A turn follows every
/// instruction of the main code, so the parts that are nearly always alike on both sides
/// (empty, or the same source entry on top) are tested before they are moved.
[[gnu::always_inline]] inline void swapExecutionContext(CobaltScript& engine, CoroutineContext& context,
                                                        bool directories, bool paths)
{
    std::swap(engine.scopes.blocks, context.blocks);
    std::swap(engine.scopes.blockBase, context.blockBase);
    std::swap(engine.scopes.loops, context.loops);
    std::swap(engine.scopes.currentFrame, context.currentFrame);
    if (directories) swap(engine.loader.directoryStack, context.directoryStack);
    if (paths) swap(engine.loader.pathStack, context.pathStack);
    std::swap(engine.calls.varargs, context.varargs);
    std::swap(engine.calls.callDepth, context.callDepth);
    swapUnlessBothEmpty(engine.calls.protectedCalls, context.protectedCalls);
    swap(engine.softError, context.softError);
    std::swap(engine.loader.jumpPending, context.jumpPending);
    std::swap(engine.activeChunks, context.activeChunks);
    swapUnlessBothEmpty(engine.loader.pendingJumpLabel, context.pendingJumpLabel);
}

/// Installs a coroutine's context for as long as it lives and swaps the main code's back on
/// every exit, with the main code's position context.
class ContextSwap {
public:
    [[gnu::always_inline]] ContextSwap(CobaltScript& engine, CoroutineContext& context)
        : m_engine(engine),
          m_context(context),
          m_position(engine.errorContext),
          m_directories(stacksDiffer(engine.loader.directoryStack, context.directoryStack)),
          m_paths(stacksDiffer(engine.loader.pathStack, context.pathStack))
    {
        swapExecutionContext(engine, context, m_directories, m_paths);
    }
    [[gnu::always_inline]] ~ContextSwap() { swapExecutionContext(m_engine, m_context, m_directories, m_paths); }
    ContextSwap(const ContextSwap&) = delete;
    ContextSwap& operator=(const ContextSwap&) = delete;

private:
    CobaltScript& m_engine;
    CoroutineContext& m_context;
    PositionContextGuard m_position;
    bool m_directories;
    bool m_paths;
};

/// A turn's failure in the script error format. Called inside the turn's catch block while
/// the coroutine's context (its path stack, its current line) is still installed.
[[noreturn]] void rethrowTurnFailure(CobaltScript& engine)
{
    std::string message;
    try {
        throw;
    } catch (const ScriptStopRequested&) {
        throw;  // the host's stop keeps its type so the run reports "stopped"
    } catch (const RaisedScriptError& error) {
        message = error.message();
    } catch (const std::exception& error) {
        message = error.what();
    }
    if (message.starts_with(kPositionedPrefix)) throw;
    if (engine.loader.pathStack.empty()) engine.loader.pathStack.emplace_back("script");
    engine.throwError(message, engine.errorContext.nearToken);
}

} // namespace

CoroutineRef CobaltScript::createCoroutineState(const CallableRef& function, const Variable* args, size_t count)
{
    auto state = std::make_shared<CoroutineState>();
    state->function = function;
    state->program = function->program;
    uint32_t chunk = function->chunkIndex;
    if (!state->program) {
        // A body kept as parsed lines is compiled once here, so the stepper walks chunks only.
        auto program = std::make_shared<BytecodeProgram>();
        program->lines = function->bodyLines;
        program->directory = function->sourceDirectory;
        program->path = function->sourcePath;
        chunk = compileBytecodeChunk(*program, program->lines, 0, program->lines.size(), program->directory, 1);
        state->program = std::move(program);
    }

    CoroutineContext& context = state->context;
    context.currentFrame = function->capturedScope + 1;
    context.callDepth = 1;
    context.directoryStack = loader.directoryStack;
    context.pathStack = loader.pathStack;
    // Pushed the way a call pushes them, so a coroutine of the running file keeps the main
    // code's entry on top.
    if (!function->sourceDirectory.empty()) context.directoryStack.pushUnlessOnTop(function->sourceDirectory);
    if (!function->sourcePath.empty()) context.pathStack.pushUnlessOnTop(function->sourcePath);
    std::shared_ptr<std::vector<Variable>> extra;
    if (function->isVariadic) {
        extra = std::make_shared<std::vector<Variable>>();
        if (count > function->parameters.size()) extra->assign(args + function->parameters.size(), args + count);
    }
    context.varargs.push_back(std::move(extra));

    // The parameters' scope and the body frame are made with the coroutine's context in
    // place, so they land in its scope stacks.
    ContextSwap swap(*this, context);
    pushBlockScope();
    ScopeList& parameters = scopes.blocks.back();
    for (size_t i = 0; i < function->parameters.size(); ++i) {
        setInScope(parameters, function->parameters[i], i < count ? args[i] : Variable());
    }
    if (!state->program->nestBlocks.empty()) registerCallableNestLabelsRecursive(function, chunk);
    if (chunk >= state->program->chunks.size()) fail("Invalid bytecode chunk index");
    const BytecodeChunk record = state->program->chunks[chunk];
    const uint64_t end = uint64_t{record.firstInstruction} + record.instructionCount;
    if (end > state->program->instructions.size()) fail("Bytecode chunk range is out of bounds");
    CoroutineFrame frame;
    frame.kind = CoroutineFrame::Kind::Body;
    frame.chunk = chunk;
    frame.pc = record.firstInstruction;
    frame.end = static_cast<uint32_t>(end);
    frame.blocksAtEntry = scopes.blocks.size();
    frame.loopsAtEntry = scopes.loops.size();
    activeChunks.push_back(ActiveChunk{state->program, chunk});
    state->frames.push_back(std::move(frame));
    return state;
}

void CobaltScript::startCoroutine(const CallableRef& function, const Variable* args, size_t count)
{
    CoroutineRef state = createCoroutineState(function, args, count);
    if (coroutines.inTurn != 0) {
        // Started by the running coroutine: it ends here and the new one takes its slot
        // once the turn has unwound.
        coroutines.replacement = std::move(state);
        coroutines.terminateRequested = 1;
        throw CoroutineTerminated{};
    }
    coroutines.scheduled = std::move(state);
}

namespace {

/// Gives the scheduled coroutine its turn; a failure of the turn is handed back in `failure`
/// instead of thrown, so that the main code's instruction loop, which services a turn after
/// every instruction, reaches it in one call without a second handler around it.
[[gnu::always_inline]] inline void runScheduledTurn(CobaltScript& engine, std::exception_ptr& failure)
{
    CoroutineEngineState& coroutines = engine.coroutines;
    // Held by the slot for the whole turn: nothing in a turn empties it (a start or kill from
    // inside waits for the turn's end, a reset parks it), so no reference count is taken.
    CoroutineState* const state = coroutines.scheduled.get();
    if (state == nullptr) return;
    bool finished = false;
    bool terminated = false;
    {
        ContextSwap swap(engine, state->context);
        coroutines.inTurn = 1;
        coroutines.terminateRequested = 0;
        try {
            finished = engine.executeCoroutineTurn(*state);
        } catch (const CoroutineTerminated&) {
            terminated = true;
        } catch (...) {
            try {
                rethrowTurnFailure(engine);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        coroutines.inTurn = 0;
    }

    if (terminated) {
        coroutines.scheduled = std::move(coroutines.replacement);
        coroutines.replacement.reset();
        return;
    }
    if (failure || finished) {
        if (finished) state->finished = true;
        if (coroutines.scheduled.get() == state) coroutines.scheduled.reset();
    }
}

} // namespace

void CobaltScript::serviceScheduledCoroutineTurn()
{
    std::exception_ptr failure;
    runScheduledTurn(*this, failure);
    if (failure) std::rethrow_exception(failure);
}

void CobaltScript::serviceScheduledCoroutineTurnNoThrow()
{
    if (coroutines.inTurn != 0 || !coroutines.scheduled || coroutines.pendingFailure) return;
    try {
        runScheduledTurn(*this, coroutines.pendingFailure);
    } catch (...) {
        // What escapes the turn's own handlers (memory running out while the position is
        // saved) waits for the main code like a failure of the turn.
        if (!coroutines.pendingFailure) coroutines.pendingFailure = std::current_exception();
    }
}

void CobaltScript::rethrowPendingCoroutineException()
{
    if (!coroutines.pendingFailure) return;
    std::exception_ptr failure = std::move(coroutines.pendingFailure);
    coroutines.pendingFailure = nullptr;
    std::rethrow_exception(failure);
}

Variable CobaltScript::killFunction(NativeArgs args)
{
    if (!args.empty()) fail("kill() takes no arguments");
    if (coroutines.inTurn != 0) {
        coroutines.terminateRequested = 1;
        coroutines.replacement.reset();
        throw CoroutineTerminated{};
    }
    coroutines.scheduled.reset();
    coroutines.replacement.reset();
    return Variable();
}

void CobaltScript::resetCoroutines()
{
    // A turn still running reads its coroutine until it ends: a reset from inside one parks it.
    coroutines.parked.reset();
    if (coroutines.inTurn != 0) coroutines.parked = std::move(coroutines.scheduled);
    coroutines.scheduled.reset();
    coroutines.replacement.reset();
    coroutines.pendingFailure = nullptr;
    coroutines.inTurn = 0;
    coroutines.terminateRequested = 0;
}

} // namespace cobalt
