// Int functions (int_function.h): compiling a fast body into a small int tree, and running a
// call tree of such functions on plain ints.

#include "engine/bytecode/int_function.h"

#include <string>
#include <vector>

#include "engine/bytecode/scalar_slot.h"
#include "engine/eval/arithmetic.h"

namespace cobalt {

enum class IntNodeOp : uint8_t { Literal, Parameter, Negate, Binary, Call };

struct IntNode {
    IntNodeOp op = IntNodeOp::Literal;
    FastExprNodeKind kind = FastExprNodeKind::Invalid;  // a Binary node's operator
    int32_t left = -1;                                  // operand; a Call node's call site
    int32_t right = -1;
    int32_t value = 0;  // a Literal's value, a Parameter's position
};

/// A call by name. The name is resolved once per run and per calling function (in that
/// function's scope, as its body would resolve it): nothing a run does can rebind it.
struct IntCallSite {
    std::string callee;
    std::vector<int32_t> arguments;
    mutable uint64_t run = 0;
    mutable const ScriptCallable* caller = nullptr;
    mutable const ScriptCallable* target = nullptr;
};

struct IntFunctionCode {
    std::vector<IntNode> nodes;
    std::vector<IntCallSite> calls;
    size_t parameterCount = 0;
    // The guarded return: the comparison `guardLeft guardKind guardRight` chooses between
    // `guardedResult` and `result`. Without a guard (guardKind Invalid) the body is `result`.
    FastExprNodeKind guardKind = FastExprNodeKind::Invalid;
    int32_t guardLeft = -1;
    int32_t guardRight = -1;
    int32_t guardedResult = -1;
    int32_t result = -1;
};

namespace {

/// Deepest int expression compiled: its evaluation recurses once per level.
constexpr int kMaxExpressionDepth = 48;
/// Deepest nesting of calls in one run. Deeper recursions are left to the call path, which
/// knows how to fail on them; this keeps a run that gives up cheap.
constexpr uint32_t kMaxRunDepth = 5000;
/// Most parameters an int function has.
constexpr size_t kMaxIntParameters = 16;
/// Runs that may give up before a function is not tried any more.
constexpr uint8_t kMaxGiveUps = 3;
/// Call depth beyond which no run starts, so that the call path's own depth limit (far
/// above) is never reached inside a run.
constexpr uint64_t kMaxStartingCallDepth = 100000;

bool isIntOperator(FastExprNodeKind kind)
{
    switch (kind) {
    case FastExprNodeKind::Add:
    case FastExprNodeKind::Subtract:
    case FastExprNodeKind::Multiply:
    case FastExprNodeKind::IntDivide:
    case FastExprNodeKind::Modulo: return true;
    default: return false;
    }
}

class IntCompiler {
public:
    IntCompiler(const ScriptCallable& function, IntFunctionCode& code) : m_function(function), m_code(code) {}

    /// The line's single expression compiled, or -1 when it has no int form.
    int32_t line(const ParsedScriptLine& line)
    {
        if (line.exprRanges.size() != 1 || line.exprFast.size() != 1 || !line.exprFast[0].valid()) return -1;
        return expression(line, line.exprFast[0], line.exprFast[0].root, 0);
    }

    /// The comparison that is a guard's whole condition, compiled into the code's guard.
    bool guard(const ParsedScriptLine& line)
    {
        if (line.exprRanges.size() != 1 || line.exprFast.size() != 1 || !line.exprFast[0].valid()) return false;
        const FastExpression& fast = line.exprFast[0];
        const FastExprNode* root = node(fast, fast.root);
        if (!root || !isComparison(root->kind)) return false;
        m_code.guardKind = root->kind;
        m_code.guardLeft = expression(line, fast, root->left, 1);
        m_code.guardRight = expression(line, fast, root->right, 1);
        return m_code.guardLeft >= 0 && m_code.guardRight >= 0;
    }

private:
    static const FastExprNode* node(const FastExpression& fast, int32_t index)
    {
        if (index < 0 || static_cast<size_t>(index) >= fast.nodes.size()) return nullptr;
        return &fast.nodes[static_cast<size_t>(index)];
    }

    /// A plain name (no scope mark) read by a Variable node, or empty.
    static std::string_view plainName(const ParsedScriptLine& line, const FastExprNode& name)
    {
        const size_t index = name.tokenIndex;
        if (index >= line.tokens.size() || index >= line.analyses.size() || !line.analyses[index].noScopeMark) {
            return {};
        }
        return line.tokens[index];
    }

    /// The position of the parameter called `name`, or -1.
    int32_t parameter(std::string_view name) const
    {
        const std::vector<std::string>& parameters = m_function.parameters;
        for (size_t i = 0; i < parameters.size(); ++i) {
            if (parameters[i] == name) return static_cast<int32_t>(i);
        }
        return -1;
    }

    int32_t add(const IntNode& n)
    {
        m_code.nodes.push_back(n);
        return static_cast<int32_t>(m_code.nodes.size() - 1);
    }

    int32_t expression(const ParsedScriptLine& line, const FastExpression& fast, int32_t index, int depth)
    {
        const FastExprNode* n = node(fast, index);
        if (!n || depth > kMaxExpressionDepth) return -1;
        switch (n->kind) {
        case FastExprNodeKind::IntLiteral: return add({IntNodeOp::Literal, n->kind, -1, -1, n->intValue});
        case FastExprNodeKind::Variable: {
            const int32_t position = parameter(plainName(line, *n));
            return position < 0 ? -1 : add({IntNodeOp::Parameter, n->kind, -1, -1, position});
        }
        case FastExprNodeKind::Negate: {
            const int32_t operand = expression(line, fast, n->left, depth + 1);
            return operand < 0 ? -1 : add({IntNodeOp::Negate, n->kind, operand, -1, 0});
        }
        case FastExprNodeKind::Call: return call(line, fast, *n, depth);
        default: break;
        }
        if (!isIntOperator(n->kind)) return -1;
        const int32_t left = expression(line, fast, n->left, depth + 1);
        const int32_t right = left < 0 ? -1 : expression(line, fast, n->right, depth + 1);
        return right < 0 ? -1 : add({IntNodeOp::Binary, n->kind, left, right, 0});
    }

    int32_t call(const ParsedScriptLine& line, const FastExpression& fast, const FastExprNode& n, int depth)
    {
        if (n.intValue < 0 || static_cast<size_t>(n.intValue) >= fast.calls.size()) return -1;
        const FastCallExpression& call = fast.calls[static_cast<size_t>(n.intValue)];
        const FastExprNode* callee = node(fast, call.callee);
        if (!callee || callee->kind != FastExprNodeKind::Variable) return -1;
        const std::string_view name = plainName(line, *callee);
        // A parameter holds whatever the caller passed: no function known beforehand.
        if (name.empty() || parameter(name) >= 0) return -1;
        IntCallSite site;
        site.callee = std::string(name);
        for (const int32_t argument : call.arguments) {
            const int32_t compiled = expression(line, fast, argument, depth + 1);
            if (compiled < 0) return -1;
            site.arguments.push_back(compiled);
        }
        m_code.calls.push_back(std::move(site));
        return add({IntNodeOp::Call, n.kind, static_cast<int32_t>(m_code.calls.size() - 1), -1, 0});
    }

    const ScriptCallable& m_function;
    IntFunctionCode& m_code;
};

/// Whether the function's shape allows an int form at all.
bool mayBeIntFunction(const ScriptCallable& function)
{
    if (function.isNative || function.isCoroutine || function.isLoadedChunk || function.isVariadic) return false;
    if (function.fastBodyKind != FastBodyKind::SingleReturn && function.fastBodyKind != FastBodyKind::GuardedReturn) {
        return false;
    }
    // A body with nest labels registers them on every call.
    if (function.program && !function.program->nestBlocks.empty()) return false;
    const std::vector<std::string>& parameters = function.parameters;
    for (size_t i = 0; i < parameters.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (parameters[i] == parameters[j]) return false;
        }
    }
    return true;
}

std::shared_ptr<const IntFunctionCode> compile(const ScriptCallable& function)
{
    if (!mayBeIntFunction(function)) return nullptr;
    const ParsedLines& lines = function.lines();
    const size_t last = function.fastReturnLine;
    if (last >= lines.size()) return nullptr;
    auto code = std::make_shared<IntFunctionCode>();
    code->parameterCount = function.parameters.size();
    IntCompiler compiler(function, *code);
    if (function.fastBodyKind == FastBodyKind::GuardedReturn) {
        const size_t guard = function.fastGuardLine;
        if (guard + 3 != last || !compiler.guard(lines[guard])) return nullptr;
        code->guardedResult = compiler.line(lines[guard + 1]);
        if (code->guardedResult < 0) return nullptr;
    }
    code->result = compiler.line(lines[last]);
    if (code->result < 0) return nullptr;
    return code;
}

/// The function's int code, compiled on first use; null when it has none.
const IntFunctionCode* intCodeOf(const ScriptCallable& function)
{
    if (function.intCodeState == IntCodeState::Unknown) {
        function.intCode = compile(function);
        function.intCodeState = function.intCode ? IntCodeState::Ready : IntCodeState::None;
    }
    return function.intCodeState == IntCodeState::Ready ? function.intCode.get() : nullptr;
}

/// Numbers the runs of this thread, so that a call site knows whether its resolved callee
/// belongs to the running one.
thread_local uint64_t t_runCount = 0;

/// One run: a call tree computed on ints. Every member function gives false when the run
/// gives up; `stopped` tells that it did for a stop request, which says nothing about the
/// function.
class IntRun {
public:
    IntRun(CobaltScript& engine) : m_engine(engine), m_run(++t_runCount) {}

    /// The function's body with its parameters holding `parameters`.
    bool run(const ScriptCallable& function, const IntFunctionCode& code, const int32_t* parameters, int32_t& out)
    {
        const Frame frame{function, code, parameters};
        int32_t result = code.result;
        if (code.guardKind != FastExprNodeKind::Invalid) {
            int32_t left = 0;
            int32_t right = 0;
            if (!operand(frame, code.guardLeft, left) || !operand(frame, code.guardRight, right)) return false;
            ScalarSlot decided{FastScalarValue::Int, left, 0.0};
            combineIntSlots(code.guardKind, decided, right);
            if (decided.intValue != 0) result = code.guardedResult;
        }
        return operand(frame, result, out);
    }

    bool stopped = false;

private:
    struct Frame {
        const ScriptCallable& function;
        const IntFunctionCode& code;
        const int32_t* parameters;
    };

    /// A node's value: the leaves read inline, the rest through value().
    [[gnu::always_inline]] bool operand(const Frame& frame, int32_t index, int32_t& out)
    {
        const IntNode& n = frame.code.nodes[static_cast<size_t>(index)];
        if (n.op == IntNodeOp::Literal) {
            out = n.value;
            return true;
        }
        if (n.op == IntNodeOp::Parameter) {
            out = frame.parameters[n.value];
            return true;
        }
        return value(frame, n, out);
    }

    bool value(const Frame& frame, const IntNode& n, int32_t& out)
    {
        switch (n.op) {
        case IntNodeOp::Literal: out = n.value; return true;
        case IntNodeOp::Parameter: out = frame.parameters[n.value]; return true;
        case IntNodeOp::Negate:
            if (!operand(frame, n.left, out)) return false;
            out = wrappingNegate(out);
            return true;
        case IntNodeOp::Binary: {
            int32_t right = 0;
            if (!operand(frame, n.left, out) || !operand(frame, n.right, right)) return false;
            ScalarSlot slot{FastScalarValue::Int, out, 0.0};
            // Only a zero divisor is refused: the call path fails on it.
            if (!combineIntSlots(n.kind, slot, right)) return false;
            out = slot.intValue;
            return true;
        }
        case IntNodeOp::Call: return call(frame, frame.code.calls[static_cast<size_t>(n.left)], out);
        }
        return false;
    }

    [[gnu::noinline]] bool call(const Frame& frame, const IntCallSite& site, int32_t& out)
    {
        const ScriptCallable& caller = frame.function;
        if (site.run != m_run || site.caller != &caller) {
            site.target = resolve(caller, site.callee);
            site.run = m_run;
            site.caller = &caller;
        }
        if (site.target == nullptr) return false;
        const ScriptCallable& target = *site.target;
        const IntFunctionCode& targetCode = *target.intCode;
        const size_t count = site.arguments.size();
        if (count != targetCode.parameterCount || m_depth >= kMaxRunDepth) return false;
        // The call path checks the stop flag and the native stack on every call; here a stop
        // or a nearly full stack ends the run.
        if (m_engine.stopFlag && m_engine.stopFlag->load(std::memory_order_relaxed)) {
            stopped = true;
            return false;
        }
        if (reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < t_nativeStackLimit) return false;
        int32_t arguments[kMaxIntParameters];
        for (size_t i = 0; i < count; ++i) {
            if (!operand(frame, site.arguments[i], arguments[i])) return false;
        }
        ++m_depth;
        const bool done = run(target, targetCode, arguments, out);
        --m_depth;
        return done;
    }

    /// The int function that `name` names in `caller`'s body, or null. Looked up as the body
    /// would: the caller's frame, the caller's block scopes out of sight (its parameters, the
    /// only ones it has, are not this name).
    const ScriptCallable* resolve(const ScriptCallable& caller, const std::string& name)
    {
        ScopeState& scopes = m_engine.scopes;
        const uint64_t frame = scopes.currentFrame;
        const size_t blockBase = scopes.blockBase;
        scopes.currentFrame = caller.capturedScope + 1;
        scopes.blockBase = scopes.blocks.size();
        const Variable* found = m_engine.resolveVariablePtr(name);
        scopes.currentFrame = frame;
        scopes.blockBase = blockBase;
        if (found == nullptr || found->type != VarType::Function) return nullptr;
        const CallableRef& callee = found->asCallable();
        if (!callee || callee->intGiveUps >= kMaxGiveUps || callee->parameters.size() > kMaxIntParameters || !intCodeOf(*callee)) {
            return nullptr;
        }
        return callee.get();
    }

    CobaltScript& m_engine;
    const uint64_t m_run;
    uint32_t m_depth = 0;
};

} // namespace

bool tryRunIntFunction(CobaltScript& engine, const ScriptCallable& function, const int32_t* args, size_t count,
                       int32_t& out)
{
    const IntFunctionCode* code = intCodeOf(function);
    if (!code || count != code->parameterCount || function.intGiveUps >= kMaxGiveUps) return false;
    // What would make the call path do more than compute: a pending jump, failure or soft
    // error it acts on, coroutine turns it gives between a body's lines, a stop request.
    if (engine.loader.jumpPending || engine.coroutines.pendingFailure || engine.softError.pending ||
        (engine.coroutines.scheduled && engine.coroutines.inTurn == 0) || engine.stopRequested() ||
        engine.calls.callDepth > kMaxStartingCallDepth) {
        return false;
    }
    IntRun run(engine);
    if (run.run(function, *code, args, out)) return true;
    if (!run.stopped && ++function.intGiveUps >= kMaxGiveUps) function.intCodeState = IntCodeState::None;
    return false;
}

} // namespace cobalt
