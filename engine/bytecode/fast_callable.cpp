// Fast function bodies: a script function whose body is one `return` line, the guard form
//     if condition
//         error("message")
//     end
//     return expression
// or the guarded return (the base case of a recursion)
//     if condition
//         return expression
//     end
//     return expression
// runs without a bytecode activation or a block walk. The call path binds the parameters
// and then hands the body here; these routines run its lines the way the interpreter would
// (position context, soft-error unwinding between lines, positioned failures), only
// without the machinery around them.
//
// The scalar forms evaluate such a call inside an expression on the pure paths: they bind
// the parameters in a lightweight frame of their own and give up whenever the outcome is
// not a plain scalar reached without effects (a guard that holds included).

#include <exception>
#include <string>
#include <vector>

#include "engine/bytecode/fast_body.h"
#include "engine/bytecode/fast_evaluator.h"
#include "engine/bytecode/int_function.h"
#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/scope/scope_stack_ops.h"
#include "engine/stdlib/parameter_scope.h"

namespace cobalt {

namespace {

// error ( "literal" )
bool isErrorGuardLine(const ParsedScriptLine& line)
{
    const TokenList& tokens = line.tokens;
    return line.kind == StatementKind::Simple && !line.isAssignment && tokens.size() == 4 && tokens[0] == "error" &&
           tokens[1] == "(" && isQuotedToken(tokens[2]) && tokens[3] == ")";
}

bool isFunctionForm(StatementKind kind)
{
    return kind == StatementKind::Function || kind == StatementKind::DecayFunction ||
           kind == StatementKind::NativeFunction || kind == StatementKind::LocalFunction;
}

/// An `if` at `first` with one body line and no other branch, followed by its `end` and a
/// `return` line.
bool isOneLineIf(const ParsedLines& lines, uint64_t first)
{
    const ParsedScriptLine& guard = lines[first];
    return guard.kind == StatementKind::If && guard.nextBranch == kNoLine && guard.matchingEnd == first + 2 &&
           lines[first + 2].kind == StatementKind::End && lines[first + 3].kind == StatementKind::Return;
}

bool isGuardForm(const ParsedLines& lines, uint64_t first)
{
    return isOneLineIf(lines, first) && isErrorGuardLine(lines[first + 1]);
}

/// The guarded return's condition must have a fast form that calls nothing: between the two
/// lines an activation would act on jumps and coroutine failures, which only a call could
/// raise.
bool isGuardedReturnForm(const ParsedLines& lines, uint64_t first)
{
    if (!isOneLineIf(lines, first) || lines[first + 1].kind != StatementKind::Return) return false;
    const ParsedScriptLine& guard = lines[first];
    if (guard.exprRanges.size() != 1 || guard.exprFast.size() != 1 || !guard.exprFast[0].valid()) return false;
    const FastExpression& condition = guard.exprFast[0];
    return static_cast<size_t>(condition.root) < condition.nodes.size() && !condition.nodes[condition.root].hasCall;
}

bool fastBodyIsIntact(const ScriptCallable& function)
{
    const ParsedLines& lines = function.lines();
    if (function.fastReturnLine >= lines.size()) return false;
    if (function.fastBodyKind == FastBodyKind::ErrorGuard || function.fastBodyKind == FastBodyKind::GuardedReturn) {
        return uint64_t{function.fastGuardLine} + 3 == function.fastReturnLine;
    }
    return function.fastBodyKind == FastBodyKind::SingleReturn;
}

/// The single fast-compiled expression of a line, or null.
const FastExpression* singleFastExpression(const ParsedScriptLine& line)
{
    if (line.exprRanges.size() != 1 || line.exprFast.size() != 1 || !line.exprFast[0].valid()) return nullptr;
    return &line.exprFast[0];
}

/// The guard of a guarded return in its commonest form, two ints compared (n < 2, with n a
/// name and 2 a literal, or two names): decided as the flat form decides it, near-token
/// included, without the walk. False (with nothing done) for any other form or value, which
/// the expression paths decide.
bool decideIntComparison(CobaltScript& engine, const FastExpression& expression, const ParsedScriptLine& line,
                         bool& holds)
{
    const std::vector<FastExprNode>& nodes = expression.nodes;
    const FastExprNode& root = nodes[static_cast<size_t>(expression.root)];
    const bool comparison = root.kind == FastExprNodeKind::Equal || root.kind == FastExprNodeKind::NotEqual ||
                            isComparison(root.kind);
    const auto isLeaf = [&nodes](int32_t index) {
        if (static_cast<size_t>(index) >= nodes.size()) return false;
        const FastExprNodeKind kind = nodes[static_cast<size_t>(index)].kind;
        return kind == FastExprNodeKind::Variable || kind == FastExprNodeKind::IntLiteral;
    };
    if (!comparison || !isLeaf(root.left) || !isLeaf(root.right)) return false;
    engine.checkNativeStack();
    FastEvaluator evaluator(engine, expression, line);
    // A literal is read straight from its node; a name through the int path's look-up.
    const auto intOperand = [&evaluator, &nodes](int32_t index, int32_t& out) {
        const FastExprNode& leaf = nodes[static_cast<size_t>(index)];
        if (leaf.kind != FastExprNodeKind::IntLiteral) return evaluator.intNode(index, out, false);
        out = leaf.intValue;
        return true;
    };
    int32_t a = 0;
    int32_t b = 0;
    if (!intOperand(root.left, a) || !intOperand(root.right, b)) return false;
    int32_t result = 0;
    bool isBool = false;
    combineInts(root.kind, a, b, result, isBool);
    holds = result != 0;
    evaluator.markNear(root.spanEnd);
    return true;
}

/// `return name`: the variable's value as the value path reads it, with the near-token and
/// the stack check of the expression entry.
Variable returnedName(CobaltScript& engine, const FastExpression& expression, const ParsedScriptLine& line)
{
    engine.checkNativeStack();
    FastEvaluator evaluator(engine, expression, line);
    Variable value = evaluator.value(expression.root, 0);
    evaluator.markNear(expression.nodes[static_cast<size_t>(expression.root)].spanEnd);
    return value;
}

/// The guarded return: the condition, then the return line it chose. The base case of a
/// recursion mostly returns a name (return n) or an int comparison guards it (if n < 2);
/// both are decided here without the general expression entry.
Variable runGuardedReturn(CobaltScript& engine, const ScriptCallable& function, const ParsedLines& lines)
{
    // The condition has a fast form (the form requires one), so it is decided the way the
    // `if` statement decides it, without looking for the form again.
    const ParsedScriptLine& guard = lines[function.fastGuardLine];
    engine.setPositionContext(guard);
    bool holds = false;
    try {
        if (!decideIntComparison(engine, guard.exprFast[0], guard, holds)) {
            holds = engine.evaluateFastTruth(guard.exprFast[0], guard);
        }
    } catch (const std::exception&) {
        engine.rethrowPositioned(guard);
    }
    // The boundary before the return line, as in the activation.
    engine.checkStopBoundary();
    if (engine.softErrorUnwinding()) return Variable();

    const ParsedScriptLine& returnLine = lines[holds ? function.fastGuardLine + 1 : function.fastReturnLine];
    engine.setPositionContext(returnLine);
    try {
        if (const FastExpression* expression = singleFastExpression(returnLine)) {
            const auto root = static_cast<size_t>(expression->root);
            if (root < expression->nodes.size() && expression->nodes[root].kind == FastExprNodeKind::Variable) {
                return returnedName(engine, *expression, returnLine);
            }
            return evaluateFastBodyReturn(engine, *expression, returnLine);
        }
        return engine.evaluateReturnValues(returnLine);
    } catch (...) {
        engine.rethrowPositioned(returnLine);
    }
}

/// A call as the call path makes it, reduced to what an effect-free expression can see:
/// the call depth, the frame index, and the parameters in a block scope that is the
/// callee's block base (the caller's block scopes out of sight). Everything is put back on
/// every exit.
class LightweightFrame {
public:
    /// `argumentAt(i)` is the argument at position i < count.
    template <class ArgumentAt>
    LightweightFrame(CobaltScript& engine, const ScriptCallable& function, size_t count, ArgumentAt argumentAt)
        : m_engine(engine),
          m_function(function),
          m_frame(engine.scopes.currentFrame),
          m_blockBase(engine.scopes.blockBase),
          m_blocks(engine.scopes.blocks.size())
    {
        ++engine.calls.callDepth;
        engine.scopes.currentFrame = function.capturedScope + 1;
        engine.scopes.blockBase = engine.scopes.blocks.size();
        m_parameterScopeId = parameterScope::bindEach(engine.scopes, function, count, argumentAt);
    }
    LightweightFrame(CobaltScript& engine, const ScriptCallable& function, const Variable* args, size_t count)
        : LightweightFrame(engine, function, count, [args](size_t i) -> const Variable& { return args[i]; })
    {
    }

    ~LightweightFrame()
    {
        ScopeState& scopes = m_engine.scopes;
        while (scopes.blocks.size() > m_blocks + 1) scopeStack::pop(scopes, scopes.blocks);
        if (scopes.blocks.size() == m_blocks + 1) parameterScope::release(scopes, m_function, m_parameterScopeId);
        m_engine.scopes.blockBase = m_blockBase;
        m_engine.scopes.currentFrame = m_frame;
        --m_engine.calls.callDepth;
    }

    LightweightFrame(const LightweightFrame&) = delete;
    LightweightFrame& operator=(const LightweightFrame&) = delete;

private:
    CobaltScript& m_engine;
    const ScriptCallable& m_function;
    uint64_t m_parameterScopeId = 0;
    uint64_t m_frame;
    size_t m_blockBase;
    size_t m_blocks;
};

// Fast bodies being evaluated on the pure paths by this thread. Only the outermost one may
// call further script functions there: deeper look-ahead would make a recursive function
// explore its whole recursion at every level, give up at the bottom and start over on the
// call path, turning linear recursion quadratic.
thread_local int t_pureBodyNesting = 0;

class PureBodyNesting {
public:
    PureBodyNesting() { ++t_pureBodyNesting; }
    ~PureBodyNesting() { --t_pureBodyNesting; }
    PureBodyNesting(const PureBodyNesting&) = delete;
    PureBodyNesting& operator=(const PureBodyNesting&) = delete;
};

/// Decides ScriptCallable::fastScalarForm once the fast body is known.
bool computeScalarForm(const ScriptCallable& function)
{
    if (function.isNative || function.isCoroutine || function.isLoadedChunk) return false;
    // A guarded return's scalar form would have to look ahead through the recursion it ends.
    if (function.fastBodyKind == FastBodyKind::None || function.fastBodyKind == FastBodyKind::GuardedReturn ||
        !fastBodyIsIntact(function)) {
        return false;
    }
    if (function.program && !function.program->nestBlocks.empty()) return false;
    const ParsedLines& lines = function.lines();
    const FastExpression* returned = singleFastExpression(lines[function.fastReturnLine]);
    if (!returned || static_cast<size_t>(returned->root) >= returned->nodes.size()) return false;
    // A body that returns a string or a container literal never has a scalar result: trying
    // would bind the parameters a second time on every call for nothing.
    switch (returned->nodes[static_cast<size_t>(returned->root)].kind) {
    case FastExprNodeKind::StringLiteral:
    case FastExprNodeKind::ArrayLiteral:
    case FastExprNodeKind::TableLiteral: return false;
    default: break;
    }
    return function.fastBodyKind == FastBodyKind::SingleReturn ||
           singleFastExpression(lines[function.fastGuardLine]) != nullptr;
}

/// Whether a function's fast body can be tried on the pure paths at all.
bool scalarFormApplies(const CobaltScript& engine, const ScriptCallable& function)
{
    // Unwinding, nesting near the call-depth cap and nest labels (which a call registers)
    // are left to the call path.
    if (engine.softError.pending || engine.calls.callDepth >= kFastCallDepthLimit) return false;
    if (t_pureBodyNesting > 0) return false;
    return fastBodyHasScalarForm(function);
}

} // namespace

bool functionBodyRange(const ScriptCallable& function, uint64_t& first, uint64_t& end)
{
    if (!function.program) {
        first = 0;
        end = function.bodyLines.size();
        return true;
    }
    const BytecodeProgram& program = *function.program;
    if (function.chunkIndex >= program.chunks.size()) return false;
    const BytecodeChunk& chunk = program.chunks[function.chunkIndex];
    if (chunk.instructionCount == 0 || chunk.firstInstruction >= program.instructions.size()) return false;
    const Instruction& opening = program.instructions[chunk.firstInstruction];
    switch (opening.opcode) {
    case Opcode::Line:
    case Opcode::InlineAssignment:
    case Opcode::Return: first = opening.operand; break;
    case Opcode::If:
        if (opening.operand >= program.ifGroups.size() || program.ifGroups[opening.operand].branches.empty()) {
            return false;
        }
        first = program.ifGroups[opening.operand].branches.front().line;
        break;
    default: return false;
    }
    const ParsedLines& lines = program.lines;
    uint64_t declaration = first;
    while (declaration > 0 && declaration <= lines.size() && lines[declaration - 1].kind == StatementKind::Empty) {
        --declaration;
    }
    if (declaration == 0 || declaration > lines.size()) return false;
    const ParsedScriptLine& opener = lines[declaration - 1];
    if (!isFunctionForm(opener.kind) || opener.matchingEnd == kNoLine) return false;
    end = opener.matchingEnd;
    return first < end && end <= lines.size();
}

bool fastBodyHasScalarForm(const ScriptCallable& function)
{
    return function.fastScalarForm;
}

bool fastBodyScalarPossible(const CobaltScript& engine, const ScriptCallable& function)
{
    return scalarFormApplies(engine, function);
}

void CobaltScript::prepareFastCallableBody(ScriptCallable& function)
{
    function.fastBodyKind = FastBodyKind::None;
    function.fastGuardLine = 0;
    function.fastReturnLine = 0;
    function.fastScalarForm = false;
    function.intCodeState = IntCodeState::Unknown;
    function.intGiveUps = 0;
    function.intCode.reset();
    if (function.isNative || function.isCoroutine || function.isLoadedChunk) return;
    uint64_t first = 0;
    uint64_t end = 0;
    if (!functionBodyRange(function, first, end)) return;
    const ParsedLines& lines = function.lines();
    // A compiled body that does not begin right after its declaration (an empty line first)
    // has neither fast form.
    if (function.program && !isFunctionForm(lines[first - 1].kind)) return;
    if (end - first == 1 && lines[first].kind == StatementKind::Return) {
        function.fastBodyKind = FastBodyKind::SingleReturn;
        function.fastReturnLine = static_cast<uint32_t>(first);
    } else if (end - first == 4) {
        if (isGuardForm(lines, first)) {
            function.fastBodyKind = FastBodyKind::ErrorGuard;
        } else if (isGuardedReturnForm(lines, first)) {
            function.fastBodyKind = FastBodyKind::GuardedReturn;
        } else {
            return;
        }
        function.fastGuardLine = static_cast<uint32_t>(first);
        function.fastReturnLine = static_cast<uint32_t>(first + 3);
    }
    function.fastScalarForm = computeScalarForm(function);
}

Variable CobaltScript::evaluateFastCallableReturn(const ScriptCallable& function, const Variable* args, size_t count)
{
    // The parameters are already bound by the call path.
    (void)args;
    (void)count;
    if (!fastBodyIsIntact(function)) fail("Invalid fast function body");
    const ParsedLines& lines = function.lines();
    if (softErrorUnwinding()) return Variable();

    if (function.fastBodyKind == FastBodyKind::ErrorGuard) {
        const bool holds = evaluateCondition(lines[function.fastGuardLine], "Unexpected token after if condition");
        if (softErrorUnwinding()) return Variable();
        if (holds) {
            // Run as the line it is: the error builtin raises, or records a soft error
            // inside a protected call, after which the body unwinds.
            const ParsedScriptLine& errorLine = lines[function.fastGuardLine + 1];
            setPositionContext(errorLine);
            try {
                Variable lastValue;
                executeSimpleStatement(errorLine, lastValue);
            } catch (...) {
                rethrowPositioned(errorLine);
            }
            if (softErrorUnwinding()) return Variable();
        }
    }

    if (function.fastBodyKind == FastBodyKind::GuardedReturn) return runGuardedReturn(*this, function, lines);

    const ParsedScriptLine& returnLine = lines[function.fastReturnLine];
    setPositionContext(returnLine);
    try {
        if (const FastExpression* expression = singleFastExpression(returnLine)) {
            return evaluateFastExpression(*expression, returnLine);
        }
        return evaluateReturnValues(returnLine);
    } catch (...) {
        rethrowPositioned(returnLine);
    }
}

namespace {

/// The fast body's scalar, its parameters bound to `argumentAt(i)` (i < count) in a
/// lightweight frame; false where the pure paths give up.
template <class ArgumentAt>
bool evaluateBodyScalar(CobaltScript& engine, const ScriptCallable& function, size_t count, ArgumentAt argumentAt,
                        FastScalarValue& out)
{
    if (!scalarFormApplies(engine, function)) return false;
    // The pure paths make nothing: a function that would set a field or make a table is left
    // to the value path.
    if (Variable whole; tryRunIntFunctionOn(engine, function, count, argumentAt, false, whole)) {
        return !whole.isNot() && tryFastScalarFromVariable(whole, out);
    }
    const ParsedLines& lines = function.lines();
    const PureBodyNesting nesting;
    LightweightFrame frame(engine, function, count, argumentAt);
    if (function.fastBodyKind == FastBodyKind::ErrorGuard) {
        const ParsedScriptLine& guard = lines[function.fastGuardLine];
        bool holds = false;
        if (!engine.tryEvaluateFastExpressionBoolNode(guard.exprFast[0], guard, guard.exprFast[0].root, holds) ||
            holds) {
            return false;
        }
    }
    const ParsedScriptLine& returnLine = lines[function.fastReturnLine];
    return engine.tryEvaluateFastExpressionScalarNode(returnLine.exprFast[0], returnLine, returnLine.exprFast[0].root,
                                                      out);
}

} // namespace

bool CobaltScript::tryEvaluateFastCallableScalar(const ScriptCallable& function, const Variable* args, size_t count,
                                                 FastScalarValue& out)
{
    return evaluateBodyScalar(*this, function, count, [args](size_t i) -> const Variable& { return args[i]; }, out);
}

bool tryEvaluateFastBodyScalarInPlace(CobaltScript& engine, const ScriptCallable& function,
                                      const Variable* const* args, size_t count, FastScalarValue& out)
{
    return evaluateBodyScalar(engine, function, count, [args](size_t i) -> const Variable& { return *args[i]; }, out);
}

bool CobaltScript::tryEvaluateProtectedFastCallableScalar(const ScriptCallable& function, const Variable* args,
                                                          size_t count, FastScalarValue& out, bool& failed,
                                                          std::string& message)
{
    failed = false;
    // A protected call catches nothing once a stop is requested: the ordinary path raises.
    if (stopRequested() || !scalarFormApplies(*this, function)) return false;
    const ParsedLines& lines = function.lines();
    const PureBodyNesting nesting;
    LightweightFrame frame(*this, function, args, count);
    if (function.fastBodyKind == FastBodyKind::ErrorGuard) {
        const ParsedScriptLine& guard = lines[function.fastGuardLine];
        bool holds = false;
        if (!tryEvaluateFastExpressionBoolNode(guard.exprFast[0], guard, guard.exprFast[0].root, holds)) return false;
        if (holds) {
            // Inside pcall the native error records its message and the call comes back as a
            // failure; any other `error` is a call like any other.
            const ParsedScriptLine& errorLine = lines[function.fastGuardLine + 1];
            const TokenAnalysis* analysis = errorLine.analyses.empty() ? nullptr : &errorLine.analyses[0];
            const Variable* error = resolveVariableFastPtr(errorLine.tokens[0], analysis);
            if (!error || !isNativeBuiltin(*error, BuiltinId::Error)) return false;
            failed = true;
            message = decodeStringToken(errorLine.tokens[2]);
            return true;
        }
    }
    const ParsedScriptLine& returnLine = lines[function.fastReturnLine];
    return tryEvaluateFastExpressionScalarNode(returnLine.exprFast[0], returnLine, returnLine.exprFast[0].root, out);
}

} // namespace cobalt
