// The one road every call of a function value takes (invokeCallableFast), and the protected
// call (pcall) built on it.

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/position_context_guard.h"
#include "engine/error/script_error.h"

namespace cobalt {
namespace {

/// Deepest nesting of calls; the native stack guard usually stops runaway recursion first.
constexpr uint64_t kMaxCallDepth = 200000;
/// Deepest nesting of protected calls. Far beyond what a program nests on purpose, and low
/// enough that a recursion through pcall, whose every level returns its callee's results
/// plus one, ends in well under a second.
constexpr size_t kMaxProtectedCallNesting = 10000;
/// Deepest nesting of loaded chunks (a `load` or `runFile` whose chunk loads and runs the
/// next): files that include each other go a few levels deep, never a thousand.
constexpr uint64_t kMaxLoadedChunkNesting = 1000;

class CallDepthGuard {
public:
    explicit CallDepthGuard(CallState& calls) : m_calls(calls) { ++m_calls.callDepth; }
    ~CallDepthGuard() { --m_calls.callDepth; }
    CallDepthGuard(const CallDepthGuard&) = delete;
    CallDepthGuard& operator=(const CallDepthGuard&) = delete;

private:
    CallState& m_calls;
};

/// Everything a script-function call changes, put back on every exit. The caller's position
/// context comes back too: the callee's statements may be freed with it (a temporary
/// function, a loaded chunk), and a later failure of the caller's statement must name the
/// caller's line, not the callee's last one.
class ScriptCallGuard {
public:
    explicit ScriptCallGuard(CobaltScript& engine)
        : m_engine(engine),
          m_context(engine.errorContext),
          m_frame(engine.scopes.currentFrame),
          m_blockBase(engine.scopes.blockBase),
          m_blocks(engine.scopes.blocks.size()),
          m_loops(engine.scopes.loops.size()),
          m_varargs(engine.calls.varargs.size()),
          m_directories(engine.loader.directoryStack.size()),
          m_paths(engine.loader.pathStack.size())
    {
    }
    ~ScriptCallGuard()
    {
        while (m_engine.scopes.blocks.size() > m_blocks) m_engine.popBlockScope();
        while (m_engine.scopes.loops.size() > m_loops) m_engine.popLoopScope();
        m_engine.scopes.blockBase = m_blockBase;
        m_engine.scopes.currentFrame = m_frame;
        m_engine.calls.varargs.resize(m_varargs);
        m_engine.loader.directoryStack.resize(m_directories);
        m_engine.loader.pathStack.resize(m_paths);
    }
    ScriptCallGuard(const ScriptCallGuard&) = delete;
    ScriptCallGuard& operator=(const ScriptCallGuard&) = delete;

private:
    CobaltScript& m_engine;
    PositionContextGuard m_context;
    uint64_t m_frame;
    size_t m_blockBase;
    size_t m_blocks;
    size_t m_loops;
    size_t m_varargs;
    size_t m_directories;
    size_t m_paths;
};

class LoadedChunkDepthGuard {
public:
    explicit LoadedChunkDepthGuard(LoaderState& loader) : m_loader(loader) { ++m_loader.loadedChunkDepth; }
    ~LoadedChunkDepthGuard() { --m_loader.loadedChunkDepth; }
    LoadedChunkDepthGuard(const LoadedChunkDepthGuard&) = delete;
    LoadedChunkDepthGuard& operator=(const LoadedChunkDepthGuard&) = delete;

private:
    LoaderState& m_loader;
};

/// Every builtin id has a direct case in dispatchBuiltinFast.
bool isDispatchedById(BuiltinId id)
{
    return id != BuiltinId::None && static_cast<uint8_t>(id) <= kMaxBuiltinId;
}

Variable callNative(CobaltScript& engine, const ScriptCallable& function, const Variable* args, size_t count)
{
    if (isDispatchedById(function.builtinId)) return engine.dispatchBuiltinFast(function.builtinId, args, count);
    if (!function.native) fail("Attempted to call an invalid function value");
    return function.native(NativeArgs(args, count));
}

/// Binds the parameters in a fresh block scope that becomes the callee's block base, so the
/// caller's block scopes are out of sight; extra arguments of a variadic function become its
/// "..." list.
void enterFunctionScope(CobaltScript& engine, const ScriptCallable& function, const Variable* args, size_t count)
{
    engine.scopes.currentFrame = function.capturedScope + 1;
    engine.scopes.blockBase = engine.scopes.blocks.size();
    engine.pushBlockScope();
    ScopeList& parameters = engine.scopes.blocks.back();
    static const Variable missing;
    for (size_t i = 0; i < function.parameters.size(); ++i) {
        parameters.setCopy(function.parameters[i], i < count ? args[i] : missing);
    }
    std::shared_ptr<std::vector<Variable>> extra;
    if (function.isVariadic) {
        extra = std::make_shared<std::vector<Variable>>();
        if (count > function.parameters.size()) extra->assign(args + function.parameters.size(), args + count);
    }
    engine.calls.varargs.push_back(std::move(extra));
}

/// The single-expression body forms apply to plain script functions; the guard form only
/// while "error" is still the engine's own builtin, since it raises the way that builtin does.
bool fastBodyApplies(CobaltScript& engine, const ScriptCallable& function)
{
    if (function.isCoroutine) return false;
    switch (function.fastBodyKind) {
    case FastBodyKind::None: return false;
    case FastBodyKind::SingleReturn: return true;
    case FastBodyKind::ErrorGuard: {
        const Variable* error = engine.resolveVariablePtr("error");
        return error && engine.isNativeBuiltin(*error, BuiltinId::Error);
    }
    case FastBodyKind::GuardedReturn:
        // Its activation would first act on a pending jump or coroutine failure, and give a
        // scheduled coroutine a turn after each of its two instructions: the activation runs
        // the body whenever one of those could happen.
        return !engine.loader.jumpPending && !engine.coroutines.pendingFailure &&
               (!engine.coroutines.scheduled || engine.coroutines.inTurn != 0);
    }
    return false;
}

/// Defines every entry of the external scope as a global, in order (done when the outermost
/// loaded chunk finishes, so a script's external names become visible to its host).
void publishExternalScope(CobaltScript& engine)
{
    const std::vector<std::pair<std::string, Variable>> entries = engine.scopes.external.entries;
    for (const auto& [name, value] : entries) engine.pushVariable(name, value);
}

/// Runs a loaded chunk's body. A chunk is often called from outside any statement (the host
/// running a file), so a failure that no statement positioned (one raised between two
/// statements) is positioned here at the statement that ran last.
Variable runLoadedChunkBody(CobaltScript& engine, const ScriptCallable& function, BlockSignal& signal)
{
    try {
        if (function.program) {
            return engine.executeBytecodeChunkInternal(function.program, function.chunkIndex, signal, true);
        }
        size_t index = 0;
        return engine.executeParsedBlock(function.bodyLines, index, signal);
    } catch (const ScriptStopRequested&) {
        throw;  // a stop needs no position: it ends the run without a text
    } catch (const std::exception& failure) {
        const std::string message = failure.what();
        if (message.starts_with(kPositionedPrefix) || !engine.errorContext.sourceText) throw;
        engine.throwError(message, engine.errorContext.nearToken);
    }
}

/// Makes `value` the top of a directory or path stack for the call. Only the top of these
/// stacks is ever read, and the call guard cuts them back to their size on exit, so a value
/// already on top is not pushed again: a call within one script file copies no path (a
/// long path would cost an allocation on every call).
void pushUnlessOnTop(std::vector<std::string>& stack, const std::string& value)
{
    if (value.empty() || (!stack.empty() && stack.back() == value)) return;
    stack.push_back(value);
}

Variable callScript(CobaltScript& engine, const CallableRef& function, const Variable* args, size_t count)
{
    // A function with a single-expression body runs no instructions of its own, so recursion
    // through such bodies (an exponential one can run for ages) is checked here.
    engine.checkStopBoundary();
    ScriptCallGuard guard(engine);
    std::unique_ptr<LoadedChunkDepthGuard> chunkDepth;
    if (function->isLoadedChunk) {
        if (count > 0) fail("Loaded script chunks do not accept call arguments");
        if (engine.loader.loadedChunkDepth >= kMaxLoadedChunkNesting) fail(kRecursionTooDeep);
        // A loaded chunk runs in the caller's scope.
        function->capturedScope = engine.scopes.currentFrame;
        chunkDepth = std::make_unique<LoadedChunkDepthGuard>(engine.loader);
    } else {
        enterFunctionScope(engine, *function, args, count);
    }
    // The callable is held by our caller for the whole call, and a function's program is
    // fixed when the function is made: no copy (and no reference-count traffic) needed.
    const ProgramRef& program = function->program;
    if (program && !program->nestBlocks.empty()) {
        engine.registerCallableNestLabelsRecursive(function, function->chunkIndex);
    }
    pushUnlessOnTop(engine.loader.directoryStack, function->sourceDirectory);
    pushUnlessOnTop(engine.loader.pathStack, function->sourcePath);

    BlockSignal signal = BlockSignal::None;
    Variable value;
    if (function->isLoadedChunk) {
        value = runLoadedChunkBody(engine, *function, signal);
    } else if (fastBodyApplies(engine, *function)) {
        value = engine.evaluateFastCallableReturn(*function, args, count);
        signal = BlockSignal::Return;
    } else if (program) {
        value = engine.executeBytecodeChunkInternal(program, function->chunkIndex, signal, true);
    } else {
        size_t index = 0;
        value = engine.executeParsedBlock(function->bodyLines, index, signal);
    }

    // A coroutine that failed during the body's last instruction reports it here.
    if (engine.coroutines.pendingFailure) engine.rethrowPendingCoroutineException();

    // A plain failure: the caller's statement (whose position comes back with the guard)
    // positions it, the same on every body form.
    if (signal == BlockSignal::Break) {
        // A loaded chunk has no calling statement of its own to blame (the host runs the
        // file), so the break statement itself is named.
        if (function->isLoadedChunk && engine.errorContext.sourceText) {
            engine.throwError("break used outside a loop", "break");
        }
        fail("break used outside a loop");
    }
    if (engine.softError.pending && engine.softError.depth < engine.calls.callDepth) return Variable();
    if (signal == BlockSignal::Jump) return Variable();
    if (function->isLoadedChunk && engine.loader.loadedChunkDepth == 1) publishExternalScope(engine);
    return signal == BlockSignal::Return ? value : Variable();
}

} // namespace

bool CobaltScript::isNativeBuiltin(const Variable& value, BuiltinId id) const
{
    if (value.type != VarType::Function) return false;
    const CallableRef& callable = value.asCallable();
    return callable && callable->isNative && callable->builtinId == id;
}

Variable CobaltScript::invokeCallableFast(const Variable& callee, const Variable* args, size_t count)
{
    CallDepthGuard depth(calls);
    if (calls.callDepth > kMaxCallDepth) throwError(kRecursionTooDeep, errorContext.nearToken);
    checkNativeStack();
    if (callee.type != VarType::Function) {
        fail(std::string("Attempted to call a non-function value of type ") + typeName(callee.type));
    }
    // Held for the whole call: the callee may overwrite the variable it was called through.
    const CallableRef function = callee.asCallable();
    if (!function) fail("Attempted to call an invalid function value");
    // A "decay function" does not run its body here: the call schedules it as the coroutine.
    if (function->isCoroutine) {
        startCoroutine(function, args, count);
        return Variable();
    }
    if (function->isNative) return callNative(*this, *function, args, count);
    return callScript(*this, function, args, count);
}

Variable CobaltScript::pcallFunctionFast(const Variable* args, size_t count)
{
    if (count == 0) fail("pcall requires a callable value");
    // A recursion through pcall catches its own depth failure at every level and carries
    // on, so it would never end by itself: past the limit, the failure passes every
    // protected call up to the outermost one, and on out of it.
    if (calls.protectedCalls.size() >= kMaxProtectedCallNesting) {
        calls.runawayProtectedCalls = true;
        throwError(kRecursionTooDeep, errorContext.nearToken);
    }
    const uint64_t depth = calls.callDepth;
    const size_t stackSize = calls.protectedCalls.size();
    calls.protectedCalls.push_back(depth);

    // Runs on every exit: the protected-call stack shrinks back, and no soft error of this
    // protected call (or of one nested in it) outlives it.
    struct ProtectedCallGuard {
        CobaltScript& engine;
        uint64_t depth;
        size_t stackSize;
        ~ProtectedCallGuard()
        {
            engine.calls.protectedCalls.resize(stackSize);
            if (stackSize == 0) engine.calls.runawayProtectedCalls = false;
            if (engine.softError.pending && engine.softError.depth >= depth) engine.softError = SoftErrorState{};
        }
    } guard{*this, depth, stackSize};

    auto failure = [](std::string message) {
        return Variable::makeMulti({Variable(false), Variable(std::move(message))});
    };
    // Once the host has asked the script to stop, no failure is caught any more: a bot that
    // wraps its work in pcall inside an endless loop must still end.
    Variable result;
    try {
        result = invokeCallableFast(args[0], args + 1, count - 1);
    } catch (const ScriptStopRequested&) {
        throw;
    } catch (const RaisedScriptError& error) {
        if (stopRequested() || calls.runawayProtectedCalls) throw;
        return failure(error.message());
    } catch (const std::exception& error) {
        if (stopRequested() || calls.runawayProtectedCalls) throw;
        return failure(error.what());
    }
    if (softError.pending && softError.depth >= depth) {
        if (stopRequested()) throw RaisedScriptError(softError.message);
        return failure(softError.message);
    }

    std::vector<Variable> values{Variable(true)};
    if (result.type == VarType::Multi) {
        if (result.asMulti()) {
            const auto& returned = result.asMulti()->values;
            values.insert(values.end(), returned.begin(), returned.end());
        }
    } else if (!result.isNot()) {
        values.push_back(std::move(result));
    }
    return Variable::makeMulti(std::move(values));
}

} // namespace cobalt
