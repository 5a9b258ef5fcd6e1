#pragma once
// The CobaltScript engine object. It owns all script state (globals, scopes, caches, loaded
// files, call bookkeeping). Evaluation, calls and execution are mutually recursive, so that
// recursion runs through the member functions declared here; each group is defined in the
// folder named in its heading. State lives in plain structs, one per folder, so helpers in a
// folder's .cpp files can reach it without new members here.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/bytecode/bytecode_program.h"
#include "engine/bytecode/coroutine.h"
#include "engine/bytecode/fast_expression.h"
#include "engine/bytecode/loader_state.h"
#include "engine/error/error_context.h"
#include "engine/error/stop_state.h"
#include "engine/exec/block_signal.h"
#include "engine/lexer/token_analysis.h"
#include "engine/parser/parsed_script_line.h"
#include "engine/scope/scope_state.h"
#include "engine/scope/scope_target.h"
#include "engine/scope/table_cache.h"
#include "engine/stdlib/call_state.h"
#include "engine/stdlib/script_callable.h"
#include "engine/value/variable.h"

namespace cobalt {

/// The lowest stack address the running thread may reach before checkNativeStack fails
/// (native_stack.cpp). Above every address until the thread's first check measures its stack.
extern constinit thread_local uintptr_t t_nativeStackLimit;

class CobaltScript {
public:
    /// Seeds the random generator, records the start time and registers the builtins.
    CobaltScript();
    /// Releases all script state. Containers made under this engine that nothing in it reaches
    /// any more (groups that refer to each other) are emptied, even if a C++ caller still holds
    /// one, and cycles among the reachable ones are cut, so everything made under this engine
    /// is freed.
    ~CobaltScript();
    CobaltScript(const CobaltScript&) = delete;
    CobaltScript& operator=(const CobaltScript&) = delete;

    /// Where `print` writes (standard output unless the embedder says otherwise).
    std::function<void(std::string_view line)> printHandler;

    /// The embedder's stop flag (null for a bare engine). Once it is set, protected calls no
    /// longer catch failures, so a stopping script cannot swallow its own stop.
    const std::atomic<bool>* stopFlag = nullptr;
    bool stopRequested() const { return stopFlag && stopFlag->load(std::memory_order_acquire); }
    /// Called at every instruction boundary and loop iteration, so that a script that keeps
    /// running after a stop request ends once its grace period is over (stop_state.h). While
    /// no stop is requested this is one relaxed load.
    void checkStopBoundary()
    {
        if (stopFlag && stopFlag->load(std::memory_order_relaxed)) [[unlikely]] enforceStopGrace();
    }
    [[gnu::cold]] void enforceStopGrace();

    /// Clears what a run leaves behind when it ends abnormally (pending errors and jumps,
    /// protected calls, call depth, path and scope stacks), keeping globals and caches. A host
    /// calls it before each run on an engine it reuses.
    void resetTransientState();

    // ===== value/ =====
    const char* typeName(VarType type) const;
    bool variablesEqual(const Variable& a, const Variable& b) const;
    int compareVariables(const Variable& a, const Variable& b) const;

    // ===== lexer/ =====
    /// Cuts one statement into tokens; the text becomes the current source line.
    TokenList tokenise(const std::string& text);
    TokenAnalysis analyseToken(std::string_view token) const;
    bool isIdentifier(std::string_view token) const;

    // ===== parser/ =====
    /// Splits a script into statements and prepares them (prepareParsedLines).
    ParsedLines parseLines(std::string_view source);
    /// Kinds, scope modifiers, block links, assignment shapes and fast forms of every line.
    void prepareParsedLines(ParsedLines& lines);
    uint64_t findMatchingEnd(const ParsedLines& lines, uint64_t position) const;
    uint64_t findMatchingElseOrEnd(const ParsedLines& lines, uint64_t position, bool& isBranch) const;
    uint64_t findMatchingUntil(const ParsedLines& lines, uint64_t position) const;

    // ===== error/ =====
    /// Builds the positioned error text and throws it. Never returns.
    [[noreturn]] void throwError(std::string_view message, std::string_view nearToken);
    /// A script's own error: thrown as RaisedScriptError, or recorded as a soft error
    /// when a protected call is active.
    void raiseScriptErrorSoft(const std::string& message);
    /// Positions a failure caught while `line` ran (leaves already-positioned texts alone)
    /// and throws it. Call from inside a catch block.
    [[noreturn]] void rethrowPositioned(const ParsedScriptLine& line);
    /// Makes `line` the running statement for error texts and clears the near-token. Inline:
    /// every statement that runs sets it.
    void setPositionContext(const ParsedScriptLine& line)
    {
        errorContext.currentLine = line.lineNumber;
        errorContext.sourceText = &line.text;
        errorContext.sourceTokens = &line.tokens;
        errorContext.sourceTokensText = &line.text;
        errorContext.nearToken.clear();
        errorContext.nearTokenIndex = 0;
    }
    void setNearToken(const Token& token, size_t index);
    /// The near-token is `line.tokens[index]` (which must exist); cheaper than
    /// setNearToken on the evaluator's hot path.
    void markNearToken(const ParsedScriptLine& line, size_t index);
    /// The near-token is `tokens[index]` (which must exist), held by reference when `tokens`
    /// are the running statement's.
    void markNearTokenOf(const TokenList& tokens, size_t index);
    /// Fails with a positioned "Maximum recursion depth exceeded" when the native stack
    /// is nearly used up. Inline, as it runs on every call: one compare with the thread's limit.
    void checkNativeStack()
    {
        const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        if (here < t_nativeStackLimit) [[unlikely]] checkNativeStackSlow(here);
    }
    [[gnu::cold, gnu::noinline]] void checkNativeStackSlow(uintptr_t here);
    /// True when a soft error is pending and the running call is deeper than its pcall.
    bool softErrorUnwinding() const { return softError.pending && calls.callDepth > softError.depth; }

    // ===== eval/ =====
    Variable evaluateExpression(const TokenList& tokens, size_t& position, const AnalysisList* analyses);
    Variable evaluateExpressionAt(const TokenList& tokens, size_t& position, int minLevel,
                                  const AnalysisList* analyses);
    void skipExpression(const TokenList& tokens, size_t& position, int minLevel, const AnalysisList* analyses);
    Variable performOperation(const Variable& left, std::string_view op, const Variable& right);
    Variable performOperation(const Variable& left, char op, const Variable& right);
    /// Compound assignment in place; false when the kinds need performOperation instead.
    bool performOperationInPlace(Variable& target, char op, const Variable& right);
    Variable tetration(const Variable& base, const Variable& height);
    Variable pentation(const Variable& base, const Variable& count);
    /// Evaluates range of a line: its fast form when it has one, else the general evaluator;
    /// a token left over inside the range fails with `leftoverMessage`.
    Variable evaluateRange(const ParsedScriptLine& line, size_t rangeIndex, const char* leftoverMessage);

    // ===== scope/ =====
    Variable* resolveVariablePtr(std::string_view name);
    bool resolveVariableFast(std::string_view name, const TokenAnalysis* analysis, Variable& out);
    Variable* resolveVariableFastPtr(std::string_view name, const TokenAnalysis* analysis);
    Variable* resolveExistingVariableFastMutable(std::string_view name, const TokenAnalysis* analysis, bool create);
    bool parseScopedVariableToken(std::string_view token, std::string_view& baseName, int& scope) const;
    Variable* resolveExplicitScopeVariablePtr(std::string_view baseName, int scope);
    Variable* resolveExplicitScopeVariableMutable(std::string_view baseName, int scope, bool create);
    void assignVariable(std::string_view name, Variable value, ScopeTarget target);
    void assignVariableFast(std::string_view name, const TokenAnalysis* analysis, Variable value, ScopeTarget target);
    void pushVariable(std::string_view name, Variable value);

    void pushBlockScope();
    void popBlockScope();
    void pushLoopScope();
    void popLoopScope();
    /// Sets a name in a scope list (update or append).
    static void setInScope(ScopeList& scope, std::string_view name, Variable value);
    /// Makes sure the frame-scope array reaches the current frame index.
    ScopeList& currentFrameScope();

    // Indexing
    Variable getIndexedValue(const Variable& container, const Variable& key);
    void setIndexedValue(Variable& container, const Variable& key, Variable value, bool create);
    Variable& getIndexedValueMutable(Variable& container, const Variable& key, bool create);
    bool prefersArrayStorage(const Variable& key) const;
    int32_t arrayLength(const Variable& value);
    int32_t numericTableLength(const TableRef& table);
    /// Hands the cache a numeric length its caller knows for the table's current version
    /// (a sequence that just grew or shrank by one), sparing the next reader a rescan.
    void recordNumericTableLength(const TableRef& table, int32_t length);
    const std::vector<std::string>& getSortedTableKeys(const TableRef& table);
    const std::vector<std::string>& getIterationTableKeys(const TableRef& table);
    /// The same keys (and key values), shared: held by a loop that may change the table.
    std::shared_ptr<const TableIterationKeys> sharedIterationKeys(const TableRef& table);
    const std::vector<Variable>& getIterationTableKeyValues(const TableRef& table);
    const std::unordered_map<std::string, size_t>& getIterationTableKeyIndex(const TableRef& table);
    std::string keyToString(const Variable& key) const;
    /// The entry of `key` in `table`, or null; a string key is looked up as it is, without a
    /// copy. Fails as keyToString does for a key no table can hold.
    const Variable* findTableEntry(const ScriptTable& table, const Variable& key) const;
    void maybePruneDeadTableCacheEntries();
    /// Records a key addition or removal on a table (library functions call this too).
    static void bumpTableVersion(ScriptTable& table) { ++table.version; }
    /// Turns an array variable into a table with keys "1".."n" (other holders keep the array).
    static void promoteArrayVariableToTable(Variable& variable);
    /// The value a table walk hands back for a key text: an int or float only when that
    /// number's key text is exactly the key (so it indexes the same entry), else the string.
    static Variable iterationKeyValue(const std::string& key);

    // ===== exec/ =====
    Variable executeParsedBlock(const ParsedLines& lines, size_t& index, BlockSignal& signal);
    bool executeAssignment(const ParsedScriptLine& line, Variable& lastValue);
    /// One simple statement: assignment, or expression statement whose value goes to lastValue.
    void executeSimpleStatement(const ParsedScriptLine& line, Variable& lastValue);
    /// Return statement values (absent, one value, or a new multivalue).
    Variable evaluateReturnValues(const ParsedScriptLine& line);
    /// Evaluates a condition line (if/elseif/while/until).
    bool evaluateCondition(const ParsedScriptLine& line, const char* leftoverMessage);
    /// Declares the function of a declaration line: parses target and parameters,
    /// builds the callable (body filled by the caller through `fill`) and assigns it.
    void declareFunction(const ParsedScriptLine& line, const std::function<void(ScriptCallable&)>& fill);

    // Loop statements, shared by the tree-walker and the bytecode interpreter so both run the
    // same semantics. Each evaluates its clause from `line` (setting the position context and
    // positioning its own failures), runs `body` once per iteration, consumes a break, and
    // passes a return or jump on (signal set, the body's value returned). While a soft error
    // unwinds they return at once with the absent value and no signal.
    using LoopBody = std::function<Variable(BlockSignal& signal)>;
    Variable runWhileLoop(const ParsedScriptLine& line, BlockSignal& signal, const LoopBody& body);
    /// `untilLine` is the loop's "until" line, which holds the condition.
    Variable runRepeatLoop(const ParsedScriptLine& untilLine, BlockSignal& signal, const LoopBody& body);
    /// for name = start, stop [, step]: pushes the loop scope holding the variable.
    Variable runNumericFor(const ParsedScriptLine& line, BlockSignal& signal, const LoopBody& body);
    /// for a [, b ...] in expression, including the pairs/ipairs form that walks the container
    /// directly while the name is still the native builtin.
    Variable runGenericFor(const ParsedScriptLine& line, BlockSignal& signal, const LoopBody& body);
    /// Copy of the body lines [first, end) of a function declared in a parsed list, with block
    /// links rebased onto the copy.
    static ParsedLines copyFunctionBody(const ParsedLines& lines, uint64_t first, uint64_t end);

    // ===== bytecode/ (fast expressions) =====
    Variable evaluateFastExpression(const FastExpression& expression, const ParsedScriptLine& line);
    /// Truthiness of evaluateFastExpression's result, with the same effects and failures.
    bool evaluateFastTruth(const FastExpression& expression, const ParsedScriptLine& line);
    /// evaluateFastExpression, except that a result the flat form decides is left in `scalar`
    /// (true) without a Variable built for it; any other result is stored in `value` (false).
    bool evaluateFastScalarOrValue(const FastExpression& expression, const ParsedScriptLine& line,
                                   FastScalarValue& scalar, Variable& value);
    void prepareFastCallableBody(ScriptCallable& function);
    Variable evaluateFastCallableReturn(const ScriptCallable& function, const Variable* args, size_t count);
    bool tryApplyFastScalarOperationInPlace(Variable& target, char op, const FastScalarValue& value);
    /// The general value path over one node of a fast tree (the reference the other paths
    /// must agree with); failures carry the token evaluator's messages and near-tokens.
    Variable evaluateFastExpressionNode(const FastExpression& expression, const ParsedScriptLine& line, int32_t node);
    // The cheap paths. They never run code that could have an effect and never report a
    // script failure: when they cannot decide (a string, a container, a call they cannot
    // take, an error) they return false and the caller takes the value path, which then
    // reports any error. A node index outside the tree fails as on the value path.
    bool tryEvaluateFastExpressionIntNode(const FastExpression& expression, const ParsedScriptLine& line,
                                          int32_t node, int32_t& out);
    bool tryEvaluateFastExpressionScalarNode(const FastExpression& expression, const ParsedScriptLine& line,
                                             int32_t node, FastScalarValue& out);
    /// Truthiness of a node through the scalar path.
    bool tryEvaluateFastExpressionBoolNode(const FastExpression& expression, const ParsedScriptLine& line,
                                           int32_t node, bool& out);
    /// A chain of "+" whose leaves are string literals or toString(x) calls of the native
    /// builtin, appended into `out`.
    bool appendFastStringConcatNode(const FastExpression& expression, const ParsedScriptLine& line, int32_t node,
                                    std::string& out);
    bool tryFastScalarFromIndexedValue(const Variable& container, const Variable& key, FastScalarValue& out);
    /// A call of a function with a fast body as a scalar, when it decides without effects.
    bool tryEvaluateFastCallableScalar(const ScriptCallable& function, const Variable* args, size_t count,
                                       FastScalarValue& out);
    /// The same for pcall: a guard that holds with the native `error` sets `failed` and the
    /// message instead of raising. False when pcall must take its ordinary path.
    bool tryEvaluateProtectedFastCallableScalar(const ScriptCallable& function, const Variable* args, size_t count,
                                                FastScalarValue& out, bool& failed, std::string& message);

    // ===== bytecode/ (compiler, interpreter) =====
    uint32_t compileBytecodeChunk(BytecodeProgram& program, const ParsedLines& lines, uint64_t start, uint64_t end,
                                  const std::string& directory, uint8_t functionBody);
    Variable executeBytecodeChunkInternal(const ProgramRef& program, uint32_t chunk, BlockSignal& signal,
                                          bool functionBody, uint32_t startInstruction = kStartOfChunk);
    static constexpr uint32_t kStartOfChunk = 0xFFFFFFFFu;

    // ===== bytecode/ (coroutines) =====
    /// A coroutine for `function` with its parameters bound, set at its body's first line.
    CoroutineRef createCoroutineState(const CallableRef& function, const Variable* args, size_t count);
    /// Schedules a new coroutine (the call of a "decay function"), replacing the current one.
    void startCoroutine(const CallableRef& function, const Variable* args, size_t count);
    /// One turn of the scheduled coroutine; its failure propagates in the error format.
    void serviceScheduledCoroutineTurn();
    /// The same, but a failure waits in the pending slot for the main code's next boundary.
    void serviceScheduledCoroutineTurnNoThrow();
    void rethrowPendingCoroutineException();
    /// Runs the coroutine up to and including its next simple statement; true once finished.
    bool executeCoroutineTurn(CoroutineState& state);
    Variable killFunction(NativeArgs args);
    /// Drops every coroutine and a pending coroutine failure (between runs of a host).
    void resetCoroutines();

    // ===== bytecode/ (loading and paths) =====
    Variable runScriptFilePath(const std::string& path);
    Variable runScriptFile(NativeArgs args);
    Variable loadScriptFile(NativeArgs args);
    Variable loadScriptChunk(NativeArgs args);
    ProgramRef compileToBytecodeInternal(std::string_view source);
    std::string resolvePath(const std::string& path) const;
    Variable jumpToFunction(NativeArgs args);
    void registerCallableNestLabelsRecursive(const CallableRef& function, uint32_t chunk);
    bool findNestLabelInBytecodeChunk(const BytecodeProgram& program, uint32_t chunk, const std::string& label,
                                      uint32_t& instructionIndex, uint32_t& nestIndex) const;
    bool executeRegisteredJumpTarget(const std::string& label);

    // ===== formats/ =====
    /// A program as a bytecode image (always the current layout).
    std::vector<uint8_t> serialiseBytecode(const BytecodeProgram& program) const;
    /// Reads a bytecode image of any supported version; `name` appears in failure texts.
    ProgramRef deserialiseBytecode(std::span<const uint8_t> bytes, const std::string& name);
    /// A snapshot of every storable global and the random generator's state.
    std::vector<uint8_t> exportState();
    /// Applies a snapshot entry by entry; `name` appears in failure texts.
    void importState(std::span<const uint8_t> bytes, const std::string& name);
    void loadState(const std::string& path);
    Variable exportStateFunction(NativeArgs args);
    Variable importStateFunction(NativeArgs args);

    // ===== stdlib/ =====
    void pushFunction(const std::string& name, NativeFunction function);
    Variable makeNativeCallable(NativeFunction function, const std::string& name, BuiltinId id);
    Variable dispatchBuiltinFast(BuiltinId id, const Variable* args, size_t count);
    bool tryEvaluateNativeBuiltinScalar(BuiltinId id, const Variable* args, size_t count, FastScalarValue& out);
    Variable invokeCallableFast(const Variable& callee, const Variable* args, size_t count);
    Variable pcallFunctionFast(const Variable* args, size_t count);
    /// True while `name` is bound to the native builtin with that id (not a script replacement).
    bool isNativeBuiltin(const Variable& value, BuiltinId id) const;

    // ===== state (one struct per folder) =====
    // Declared first so that it goes last: every container the other members hold has left
    // it by then (or been detached from it).
    ContainerRegistry containers;
    StopState stop;
    ErrorContext errorContext;
    SoftErrorState softError;
    ScopeState scopes;
    TableCache tableCache;
    LoaderState loader;
    std::vector<ActiveChunk> activeChunks;
    CallState calls;
    CoroutineEngineState coroutines;
};

} // namespace cobalt
