// The one road every call of a function value takes (invokeCallableFast), and the protected
// call (pcall) built on it.

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "engine/bytecode/int_function.h"
#include "engine/cobalt_script.h"
#include "engine/error/position_context_guard.h"
#include "engine/error/script_error.h"
#include "engine/scope/scope_stack_ops.h"
#include "engine/stdlib/parameter_scope.h"

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

/// Everything a script-function call changes, put back on every exit. The caller's position
/// context comes back too: the callee's statements may be freed with it (a temporary
/// function, a loaded chunk), and a later failure of the caller's statement must name the
/// caller's line, not the callee's last one. A body nearly always leaves the stacks as it
/// found them apart from the parameters' scope, so each stack is only touched when its size
/// changed.
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
        ScopeState& scopes = m_engine.scopes;
        const size_t parameterScope = m_function ? m_blocks + 1 : m_blocks;
        while (scopes.blocks.size() > parameterScope) scopeStack::pop(scopes, scopes.blocks);
        if (m_function && scopes.blocks.size() == parameterScope) {
            parameterScope::release(scopes, *m_function, m_parameterScopeId);
        }
        while (scopes.loops.size() > m_loops) m_engine.popLoopScope();
        scopes.blockBase = m_blockBase;
        scopes.currentFrame = m_frame;
        // The call's own entry (null unless the function is variadic) is the one to drop.
        auto& varargs = m_engine.calls.varargs;
        if (varargs.size() == m_varargs + 1) {
            varargs.pop_back();
        } else if (varargs.size() != m_varargs) {
            varargs.resize(m_varargs);
        }
        if (m_engine.loader.directoryStack.size() != m_directories) m_engine.loader.directoryStack.resize(m_directories);
        if (m_engine.loader.pathStack.size() != m_paths) m_engine.loader.pathStack.resize(m_paths);
    }
    ScriptCallGuard(const ScriptCallGuard&) = delete;
    ScriptCallGuard& operator=(const ScriptCallGuard&) = delete;

    /// Binds the parameters in a fresh block scope that becomes the callee's block base, so
    /// the caller's block scopes are out of sight; extra arguments of a variadic function
    /// become its "..." list. The scope goes again with the guard.
    void enterFunctionScope(const ScriptCallable& function, const Variable* args, size_t count)
    {
        ScopeState& scopes = m_engine.scopes;
        scopes.currentFrame = function.capturedScope + 1;
        scopes.blockBase = scopes.blocks.size();
        m_parameterScopeId = parameterScope::bind(scopes, function, args, count);
        m_function = &function;
        if (!function.isVariadic) {
            m_engine.calls.varargs.emplace_back();
            return;
        }
        const size_t parameterCount = function.parameters.size();
        auto extra = std::make_shared<std::vector<Variable>>();
        if (count > parameterCount) extra->assign(args + parameterCount, args + count);
        m_engine.calls.varargs.push_back(std::move(extra));
    }

private:
    CobaltScript& m_engine;
    const ScriptCallable* m_function = nullptr;  // whose parameters' scope the guard pops
    uint64_t m_parameterScopeId = 0;
    PositionContextGuard m_context;
    uint64_t m_frame;
    size_t m_blockBase;
    size_t m_blocks;
    size_t m_loops;
    size_t m_varargs;
    size_t m_directories;
    size_t m_paths;
};

/// The frame of a call whose body is a fast body (fastBodyApplies) of a function that takes no
/// extra arguments. Such a body pushes no scope, loop or "..." list of its own, and every call
/// it makes puts back what that call changed, so less is saved than by ScriptCallGuard: the
/// caller's position, frame index and block base, and the sizes of the block and file stacks.
/// The parameters' scope and the call's "..." entry (null) are pushed here and go again on
/// every exit; a block or file entry found left above them is cut back as ScriptCallGuard
/// cuts it.
class FastBodyFrame {
public:
    FastBodyFrame(CobaltScript& engine, const ScriptCallable& function)
        : m_engine(engine),
          m_function(function),
          m_context(engine.errorContext),
          m_frame(engine.scopes.currentFrame),
          m_blockBase(engine.scopes.blockBase),
          m_blocks(engine.scopes.blocks.size()),
          m_directories(engine.loader.directoryStack.size()),
          m_paths(engine.loader.pathStack.size())
    {
    }
    ~FastBodyFrame()
    {
        ScopeState& scopes = m_engine.scopes;
        // A scope that binding left behind when it failed has another id than the one
        // release() expects (0 until binding returns), and is popped as any block scope.
        while (scopes.blocks.size() > m_blocks + 1) scopeStack::pop(scopes, scopes.blocks);
        if (scopes.blocks.size() == m_blocks + 1) parameterScope::release(scopes, m_function, m_parameterScopeId);
        if (m_pushedVarargs) m_engine.calls.varargs.pop_back();
        scopes.blockBase = m_blockBase;
        scopes.currentFrame = m_frame;
        if (m_engine.loader.directoryStack.size() != m_directories) m_engine.loader.directoryStack.resize(m_directories);
        if (m_engine.loader.pathStack.size() != m_paths) m_engine.loader.pathStack.resize(m_paths);
    }
    FastBodyFrame(const FastBodyFrame&) = delete;
    FastBodyFrame& operator=(const FastBodyFrame&) = delete;

    /// Binds the parameters in a fresh block scope that becomes the callee's block base, and
    /// pushes the call's empty "..." entry.
    void enter(const Variable* args, size_t count)
    {
        ScopeState& scopes = m_engine.scopes;
        scopes.currentFrame = m_function.capturedScope + 1;
        scopes.blockBase = m_blocks;
        m_engine.calls.varargs.emplace_back();
        m_pushedVarargs = true;
        m_parameterScopeId = parameterScope::bind(scopes, m_function, args, count);
    }

private:
    CobaltScript& m_engine;
    const ScriptCallable& m_function;
    uint64_t m_parameterScopeId = 0;
    bool m_pushedVarargs = false;
    PositionContextGuard m_context;
    uint64_t m_frame;
    size_t m_blockBase;
    size_t m_blocks;
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

/// The single-expression body forms apply to plain script functions; the guard form only
/// while "error" is still the engine's own builtin, since it raises the way that builtin does.
[[gnu::always_inline]] inline bool fastBodyApplies(CobaltScript& engine, const ScriptCallable& function)
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

/// The part of pushUnlessOnTop that compares texts and pushes: the first call from another
/// file, or after another file's call left its entry on top.
[[gnu::noinline]] void pushUnlessTextOnTop(SourceStack& stack, const std::string& text, uint64_t& seenId)
{
    seenId = stack.pushUnlessOnTop(text);
}

/// Makes `text` the top of a directory or path stack for the call. Only the top of these
/// stacks is ever read, and the call guard cuts them back to their size on exit, so a text
/// already on top is not pushed again: a call within one script file copies no path (a long
/// path would cost an allocation on every call). `seenId` is the callable's memory of the
/// entry that held its text last time; while that entry is on top, no text is compared.
inline void pushUnlessOnTop(SourceStack& stack, const std::string& text, uint64_t& seenId)
{
    if (text.empty() || (!stack.empty() && stack.topId() == seenId)) return;
    pushUnlessTextOnTop(stack, text, seenId);
}

/// Runs the body of a script function whose parameters are bound; `signal` tells how it ended.
Variable runBody(CobaltScript& engine, const ScriptCallable& function, const Variable* args, size_t count,
                 BlockSignal& signal)
{
    if (fastBodyApplies(engine, function)) {
        signal = BlockSignal::Return;
        return engine.evaluateFastCallableReturn(function, args, count);
    }
    if (function.program) {
        return engine.executeBytecodeChunkInternal(function.program, function.chunkIndex, signal, true);
    }
    size_t index = 0;
    return engine.executeParsedBlock(function.bodyLines, index, signal);
}

/// Registers the function's nest labels and makes its file the current one for the call.
[[gnu::always_inline]] inline void enterFunctionSource(CobaltScript& engine, const CallableRef& function)
{
    // A function's program is fixed when the function is made.
    const ProgramRef& program = function->program;
    if (program && !program->nestBlocks.empty()) {
        engine.registerCallableNestLabelsRecursive(function, function->chunkIndex);
    }
    pushUnlessOnTop(engine.loader.directoryStack, function->sourceDirectory, function->directoryEntryId);
    pushUnlessOnTop(engine.loader.pathStack, function->sourcePath, function->pathEntryId);
}

/// A loaded script chunk: it runs in the caller's scope, takes no arguments and, when it is
/// the outermost one, publishes its external names at the end.
[[gnu::noinline]] Variable callLoadedChunk(CobaltScript& engine, const CallableRef& function, size_t count)
{
    engine.checkStopBoundary();
    ScriptCallGuard guard(engine);
    if (count > 0) fail("Loaded script chunks do not accept call arguments");
    if (engine.loader.loadedChunkDepth >= kMaxLoadedChunkNesting) fail(kRecursionTooDeep);
    function->capturedScope = engine.scopes.currentFrame;
    LoadedChunkDepthGuard chunkDepth(engine.loader);
    enterFunctionSource(engine, function);

    BlockSignal signal = BlockSignal::None;
    Variable value = runLoadedChunkBody(engine, *function, signal);
    // A coroutine that failed during the body's last instruction reports it here.
    if (engine.coroutines.pendingFailure) engine.rethrowPendingCoroutineException();
    if (signal == BlockSignal::Break) {
        // A loaded chunk has no calling statement of its own to blame (the host runs the
        // file), so the break statement itself is named.
        if (engine.errorContext.sourceText) engine.throwError("break used outside a loop", "break");
        fail("break used outside a loop");
    }
    if (engine.softError.pending && engine.softError.depth < engine.calls.callDepth) return Variable();
    if (signal == BlockSignal::Jump) return Variable();
    if (engine.loader.loadedChunkDepth == 1) publishExternalScope(engine);
    if (signal != BlockSignal::Return) value = Variable();
    return value;
}

/// A call of a fast body: no activation, and none of the signals a block can end with.
[[gnu::always_inline]] inline Variable callFastBody(CobaltScript& engine, const CallableRef& function,
                                                    const Variable* args, size_t count)
{
    FastBodyFrame frame(engine, *function);
    frame.enter(args, count);
    enterFunctionSource(engine, function);
    Variable value = engine.evaluateFastCallableReturn(*function, args, count);
    // A coroutine that failed during the body's last instruction reports it here.
    if (engine.coroutines.pendingFailure) engine.rethrowPendingCoroutineException();
    // Soft-error unwinding gives the absent value.
    if (engine.softError.pending && engine.softError.depth < engine.calls.callDepth) value = Variable();
    return value;
}

Variable callScript(CobaltScript& engine, const CallableRef& function, const Variable* args, size_t count)
{
    // A function with a single-expression body runs no instructions of its own, so recursion
    // through such bodies (an exponential one can run for ages) is checked here.
    engine.checkStopBoundary();
    if (function->intCodeState != IntCodeState::None) {
        Variable result;
        if (tryRunIntFunctionOn(engine, *function, count, [args](size_t i) -> const Variable& { return args[i]; },
                                true, result)) {
            return result;
        }
    }
    // The guard form is left to the general road: whether "error" is still the builtin is
    // decided with the parameters bound, as one of them may be called so.
    const FastBodyKind kind = function->fastBodyKind;
    if ((kind == FastBodyKind::SingleReturn || kind == FastBodyKind::GuardedReturn) && !function->isVariadic &&
        fastBodyApplies(engine, *function)) {
        return callFastBody(engine, function, args, count);
    }
    ScriptCallGuard guard(engine);
    guard.enterFunctionScope(*function, args, count);
    enterFunctionSource(engine, function);

    BlockSignal signal = BlockSignal::None;
    Variable value = runBody(engine, *function, args, count, signal);
    // A coroutine that failed during the body's last instruction reports it here.
    if (engine.coroutines.pendingFailure) engine.rethrowPendingCoroutineException();
    // A plain failure: the caller's statement (whose position comes back with the guard)
    // positions it, the same on every body form.
    if (signal == BlockSignal::Break) fail("break used outside a loop");
    // Soft-error unwinding and a jump out of the function give the absent value, as does a
    // body that ends without return.
    if (signal != BlockSignal::Return || (engine.softError.pending && engine.softError.depth < engine.calls.callDepth)) {
        value = Variable();
    }
    return value;
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
    if (function->isLoadedChunk) return callLoadedChunk(*this, function, count);
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
