// Int functions (int_function.h): compiling a function body into int statements over
// registers, and running a call tree of such functions on plain ints.

#include "engine/bytecode/int_function.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "engine/bytecode/fast_body.h"
#include "engine/bytecode/scalar_slot.h"
#include "engine/eval/arithmetic.h"

namespace cobalt {

namespace {

/// Most registers (parameters and locals) and results of an int function.
constexpr size_t kMaxIntRegisters = 32;
constexpr size_t kMaxIntResults = 8;
/// Deepest int expression compiled: its evaluation recurses once per level.
constexpr int kMaxExpressionDepth = 48;
/// Deepest nesting of calls in one run. Deeper recursions are left to the call path, which
/// knows how to fail on them; this keeps a run that gives up cheap.
constexpr uint32_t kMaxRunDepth = 5000;
/// Most entries of a table literal made from a prototype.
constexpr size_t kMaxPrototypeEntries = 32;
/// Runs that may give up before a function is not tried any more.
constexpr uint8_t kMaxGiveUps = 3;
/// Call depth beyond which no run starts, so that the call path's own depth limit (far
/// above) is never reached inside a run.
constexpr uint64_t kMaxStartingCallDepth = 100000;

} // namespace

// Table and Outer make values that are not ints: a new table, whose entries are nodes of any
// kind, and a name from outside the body, read only as such an entry.
enum class IntNodeOp : uint8_t { Literal, Register, Negate, Binary, Call, Field, Table, Outer };

struct IntNode {
    IntNodeOp op = IntNodeOp::Literal;
    FastExprNodeKind kind = FastExprNodeKind::Invalid;  // a Binary node's operator
    int32_t left = -1;  // operand; a Call node's call site; a Field node's key; a Table node's
                        // literal; an Outer node's name
    int32_t right = -1;
    int32_t value = 0;  // a Literal's value, a Register's (or a Field node's table's) index
};

/// A call by name. The name is resolved once per run and per calling function (in that
/// function's scope, as its body would resolve it): nothing a run does can rebind it.
struct IntCallSite {
    std::string callee;
    // Where the callee's name stands (line and token of the caller's body), so that it is
    // looked up through that token's cache as the body's own call would.
    uint32_t line = 0;
    uint32_t token = 0;
    std::vector<int32_t> arguments;
    mutable uint64_t run = 0;
    mutable const ScriptCallable* caller = nullptr;
    mutable const ScriptCallable* target = nullptr;
};

/// A name the body reads from outside, resolved as a callee is.
struct IntOuterName {
    std::string name;
    uint32_t line = 0;
    uint32_t token = 0;
    mutable uint64_t run = 0;
    mutable const ScriptCallable* caller = nullptr;
    mutable const Variable* value = nullptr;
};

/// {key: value, ...}: the entries in order.
struct IntTableLiteral {
    std::vector<std::string> keys;
    std::vector<int32_t> values;
    // The table the literal makes with every value absent, built once as a literal builds a
    // table: each new table starts as a copy of it (the same buckets, entries and order, with
    // no name hashed again), and entry i's value goes to the entry at position slot[i] of
    // its order. Absent (empty `slot`) for a literal with too many entries.
    TableMap prototype;
    std::vector<uint32_t> slot;
    uint64_t distinctKeys = 0;
};

enum class IntStatementKind : uint8_t {
    Local,          // local names = values: each value into the registers from `target` on
    SpreadLocal,    // local names = call: the call's results into the registers from `target` on
    GuardedReturn,  // if left guardKind right: return values
    Return,         // return values
    FieldStore,     // registers[target][keys[key]] = values[first], into a field the table has
};

struct IntStatement {
    IntStatementKind kind = IntStatementKind::Return;
    FastExprNodeKind guardKind = FastExprNodeKind::Invalid;
    int32_t guardLeft = -1;
    int32_t guardRight = -1;
    int32_t target = 0;      // first register a local statement sets; a FieldStore's table
    int32_t key = -1;        // FieldStore: the field's name in code.keys
    int32_t spreadCall = -1;  // SpreadLocal: the call site
    // The values: node indices code.values[first .. first + count). SpreadLocal: the number
    // of names.
    uint32_t first = 0;
    uint32_t count = 0;
};

struct IntFunctionCode {
    std::vector<IntNode> nodes;
    std::vector<IntCallSite> calls;
    std::vector<int32_t> values;
    std::vector<std::string> keys;  // field names
    std::vector<IntTableLiteral> tables;
    std::vector<IntOuterName> outers;
    std::vector<IntStatement> statements;
    size_t parameterCount = 0;
    size_t registerCount = 0;
    // How many values every return gives (all of them give as many); 0 for a body without
    // a return, which gives the absent value.
    size_t resultCount = 0;
};

namespace {

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

/// A plain name (no scope mark) at a token position, or empty.
std::string_view plainName(const ParsedScriptLine& line, size_t index)
{
    if (index >= line.tokens.size() || index >= line.analyses.size() || !line.analyses[index].noScopeMark) return {};
    return line.tokens[index];
}

class IntCompiler {
public:
    IntCompiler(const ScriptCallable& function, IntFunctionCode& code) : m_code(code)
    {
        m_names = function.parameters;
        m_code.parameterCount = m_names.size();
    }

    /// The body lines [first, end) compiled; false when they are not an int function's.
    bool body(const ParsedLines& lines, size_t first, size_t end)
    {
        m_lines = &lines;
        // Every name the body binds, so that no call is compiled to a name that a parameter
        // or a local holds (or will hold) instead of a function.
        m_bound = m_names;
        for (size_t i = first; i < end; ++i) {
            if (!isLocalStatement(lines[i])) continue;
            for (const ParsedAssignmentTarget& target : lines[i].assignmentTargets) {
                m_bound.emplace_back(plainName(lines[i], target.nameIndex));
            }
        }
        for (size_t i = 0; i < m_bound.size(); ++i) {
            for (size_t j = 0; j < i; ++j) {
                if (m_bound[i].empty() || m_bound[i] == m_bound[j]) return false;
            }
        }
        size_t i = first;
        while (i < end) {
            const ParsedScriptLine& line = lines[i];
            if (line.kind == StatementKind::Empty) {
                ++i;
            } else if (isLocalStatement(line)) {
                if (!local(line)) return false;
                ++i;
            } else if (line.kind == StatementKind::If) {
                // if comparison / return values / end, with nothing else in the block
                if (line.nextBranch != kNoLine || line.matchingEnd != i + 2 || i + 2 >= end ||
                    lines[i + 1].kind != StatementKind::Return || !guardedReturn(line, lines[i + 1])) {
                    return false;
                }
                i += 3;
            } else if (isFieldStore(line)) {
                if (!fieldStore(line)) return false;
                ++i;
            } else if (line.kind == StatementKind::Return) {
                // The last statement: what follows it never runs, and a body that can end
                // without a return gives no value.
                for (size_t rest = i + 1; rest < end; ++rest) {
                    if (lines[rest].kind != StatementKind::Empty) return false;
                }
                IntStatement statement;
                return values(line, statement) && add(statement);
            } else {
                return false;
            }
        }
        // A body that ends without a return gives the absent value; one that returns on some
        // paths only is left to the call path.
        return m_returns == 0;
    }

private:
    static bool isLocalStatement(const ParsedScriptLine& line)
    {
        return line.kind == StatementKind::Simple && line.scopeModifier == ScopeModifier::Local && line.isAssignment;
    }

    /// name["field"] = value
    static bool isFieldStore(const ParsedScriptLine& line)
    {
        return line.kind == StatementKind::Simple && line.scopeModifier == ScopeModifier::None && line.isAssignment &&
               line.assignmentForm == AssignmentForm::OneElement && line.assignmentTargets.size() == 1 &&
               line.exprRanges.size() == 1;
    }

    /// The index of a key that is a string literal, in code.keys, or -1.
    int32_t literalKey(const FastExpression& fast, const FastExprNode* key)
    {
        if (!key || key->kind != FastExprNodeKind::StringLiteral || key->intValue < 0 ||
            static_cast<size_t>(key->intValue) >= fast.strings.size()) {
            return -1;
        }
        // One entry per name, so that a field read and then set is found once per run.
        const std::string& text = fast.strings[static_cast<size_t>(key->intValue)];
        for (size_t i = 0; i < m_code.keys.size(); ++i) {
            if (m_code.keys[i] == text) return static_cast<int32_t>(i);
        }
        m_code.keys.push_back(text);
        return static_cast<int32_t>(m_code.keys.size() - 1);
    }

    bool fieldStore(const ParsedScriptLine& line)
    {
        const ParsedAssignmentTarget& target = line.assignmentTargets.front();
        if (target.indexFast.size() != 1 || !target.indexFast[0].valid()) return false;
        IntStatement statement;
        statement.kind = IntStatementKind::FieldStore;
        statement.target = reg(plainName(line, target.nameIndex));
        statement.key = literalKey(target.indexFast[0], node(target.indexFast[0], target.indexFast[0].root));
        return statement.target >= 0 && statement.key >= 0 && values(line, statement) && add(statement);
    }

    static const FastExpression* single(const ParsedScriptLine& line, size_t range)
    {
        if (range >= line.exprFast.size() || !line.exprFast[range].valid()) return nullptr;
        return &line.exprFast[range];
    }

    static const FastExprNode* node(const FastExpression& fast, int32_t index)
    {
        if (index < 0 || static_cast<size_t>(index) >= fast.nodes.size()) return nullptr;
        return &fast.nodes[static_cast<size_t>(index)];
    }

    /// The register of a name bound so far, or -1.
    int32_t reg(std::string_view name) const
    {
        if (name.empty()) return -1;
        for (size_t i = 0; i < m_names.size(); ++i) {
            if (m_names[i] == name) return static_cast<int32_t>(i);
        }
        return -1;
    }

    bool bound(std::string_view name) const
    {
        for (const std::string& known : m_bound) {
            if (known == name) return true;
        }
        return false;
    }

    bool add(const IntStatement& statement)
    {
        if (statement.kind == IntStatementKind::Return || statement.kind == IntStatementKind::GuardedReturn) {
            // Every return gives as many values: a caller knows how many it gets.
            if (m_returns > 0 && statement.count != m_code.resultCount) return false;
            if (statement.count == 0 || statement.count > kMaxIntResults) return false;
            m_code.resultCount = statement.count;
            ++m_returns;
        }
        m_code.statements.push_back(statement);
        return true;
    }

    /// The line's expressions as the statement's values.
    bool values(const ParsedScriptLine& line, IntStatement& statement)
    {
        const size_t count = line.exprRanges.size();
        if (count == 0 || line.exprFast.size() != count) return false;
        statement.first = static_cast<uint32_t>(m_code.values.size());
        statement.count = static_cast<uint32_t>(count);
        for (size_t range = 0; range < count; ++range) {
            const FastExpression* fast = single(line, range);
            const int32_t value = fast ? expression(line, *fast, fast->root, 0) : -1;
            if (value < 0) return false;
            m_code.values.push_back(value);
        }
        return true;
    }

    bool guardedReturn(const ParsedScriptLine& guard, const ParsedScriptLine& returned)
    {
        const FastExpression* fast = guard.exprRanges.size() == 1 ? single(guard, 0) : nullptr;
        const FastExprNode* root = fast ? node(*fast, fast->root) : nullptr;
        if (!root || root->kind < FastExprNodeKind::Equal || root->kind > FastExprNodeKind::GreaterEqual) return false;
        IntStatement statement;
        statement.kind = IntStatementKind::GuardedReturn;
        statement.guardKind = root->kind;
        statement.guardLeft = expression(guard, *fast, root->left, 1);
        statement.guardRight = expression(guard, *fast, root->right, 1);
        return statement.guardLeft >= 0 && statement.guardRight >= 0 && values(returned, statement) && add(statement);
    }

    /// local a, b = x, y (as many values as names) or local a, b = f(...) (the call's results).
    bool local(const ParsedScriptLine& line)
    {
        const size_t names = line.assignmentTargets.size();
        if (names == 0 || line.assignOperatorIndex >= line.tokens.size() || line.tokens[line.assignOperatorIndex] != "=") {
            return false;
        }
        IntStatement statement;
        statement.kind = IntStatementKind::Local;
        if (names > 1 && line.exprRanges.size() == 1) {
            const FastExpression* fast = single(line, 0);
            const FastExprNode* root = fast ? node(*fast, fast->root) : nullptr;
            if (!root || root->kind != FastExprNodeKind::Call || names > kMaxIntResults) return false;
            const int32_t call = expression(line, *fast, fast->root, 0);
            if (call < 0) return false;
            statement.kind = IntStatementKind::SpreadLocal;
            statement.spreadCall = m_code.nodes[static_cast<size_t>(call)].left;
            statement.count = static_cast<uint32_t>(names);
        } else if (line.exprRanges.size() != names || !values(line, statement)) {
            return false;
        }
        // The names are bound once the values are computed: `local n = n + 1` reads an outer n.
        statement.target = static_cast<int32_t>(m_names.size());
        for (const ParsedAssignmentTarget& target : line.assignmentTargets) {
            if (!target.indexRanges.empty()) return false;
            m_names.emplace_back(plainName(line, target.nameIndex));
        }
        if (m_names.size() > kMaxIntRegisters) return false;
        m_code.registerCount = m_names.size();
        return add(statement);
    }

    int32_t addNode(const IntNode& n)
    {
        m_code.nodes.push_back(n);
        return static_cast<int32_t>(m_code.nodes.size() - 1);
    }

    int32_t expression(const ParsedScriptLine& line, const FastExpression& fast, int32_t index, int depth)
    {
        const FastExprNode* n = node(fast, index);
        if (!n || depth > kMaxExpressionDepth) return -1;
        switch (n->kind) {
        case FastExprNodeKind::IntLiteral: return addNode({IntNodeOp::Literal, n->kind, -1, -1, n->intValue});
        case FastExprNodeKind::Variable: {
            // Only what the body has bound by now: any other name is read from outside.
            const int32_t found = reg(plainName(line, n->tokenIndex));
            return found < 0 ? -1 : addNode({IntNodeOp::Register, n->kind, -1, -1, found});
        }
        case FastExprNodeKind::Negate: {
            const int32_t operand = expression(line, fast, n->left, depth + 1);
            return operand < 0 ? -1 : addNode({IntNodeOp::Negate, n->kind, operand, -1, 0});
        }
        case FastExprNodeKind::Call: return call(line, fast, *n, depth);
        case FastExprNodeKind::TableLiteral: return tableLiteral(line, fast, *n, depth);
        case FastExprNodeKind::Index: {
            // name["field"], name a parameter that holds a table
            const FastExprNode* table = node(fast, n->left);
            const int32_t holder = table && table->kind == FastExprNodeKind::Variable
                                       ? reg(plainName(line, table->tokenIndex))
                                       : -1;
            const int32_t key = holder < 0 ? -1 : literalKey(fast, node(fast, n->right));
            return key < 0 ? -1 : addNode({IntNodeOp::Field, n->kind, key, -1, holder});
        }
        default: break;
        }
        if (!isIntOperator(n->kind)) return -1;
        const int32_t left = expression(line, fast, n->left, depth + 1);
        const int32_t right = left < 0 ? -1 : expression(line, fast, n->right, depth + 1);
        return right < 0 ? -1 : addNode({IntNodeOp::Binary, n->kind, left, right, 0});
    }

    int32_t tableLiteral(const ParsedScriptLine& line, const FastExpression& fast, const FastExprNode& n, int depth)
    {
        if (n.intValue < 0 || static_cast<size_t>(n.intValue) >= fast.literals.size()) return -1;
        const FastLiteralExpression& literal = fast.literals[static_cast<size_t>(n.intValue)];
        if (literal.keys.size() != literal.values.size()) return -1;
        IntTableLiteral table;
        table.keys = literal.keys;
        for (const int32_t value : literal.values) {
            // A name from outside (a method's function) is stored as it is.
            const FastExprNode* entry = node(fast, value);
            const std::string_view name =
                entry && entry->kind == FastExprNodeKind::Variable ? plainName(line, entry->tokenIndex) : std::string_view();
            int32_t compiled = -1;
            if (!name.empty() && !bound(name)) {
                m_code.outers.push_back(IntOuterName{std::string(name), lineIndex(line), entry->tokenIndex});
                compiled = addNode({IntNodeOp::Outer, entry->kind, static_cast<int32_t>(m_code.outers.size() - 1), -1, 0});
            } else {
                compiled = expression(line, fast, value, depth + 1);
            }
            if (compiled < 0) return -1;
            table.values.push_back(compiled);
        }
        buildPrototype(table);
        m_code.tables.push_back(std::move(table));
        return addNode({IntNodeOp::Table, n.kind, static_cast<int32_t>(m_code.tables.size() - 1), -1, 0});
    }

    static void buildPrototype(IntTableLiteral& table)
    {
        if (table.keys.size() > kMaxPrototypeEntries) return;
        // As a new table's map is made (ScriptTable), then filled by the literal.
        table.prototype.max_load_factor(1.0f);
        for (const std::string& key : table.keys) {
            if (table.prototype.insert_or_assign(key, Variable()).second) ++table.distinctKeys;
        }
        for (const std::string& key : table.keys) {
            uint32_t position = 0;
            for (const auto& entry : table.prototype) {
                if (entry.first == key) break;
                ++position;
            }
            table.slot.push_back(position);
        }
    }

    uint32_t lineIndex(const ParsedScriptLine& line) const { return static_cast<uint32_t>(&line - m_lines->data()); }

    int32_t call(const ParsedScriptLine& line, const FastExpression& fast, const FastExprNode& n, int depth)
    {
        if (n.intValue < 0 || static_cast<size_t>(n.intValue) >= fast.calls.size()) return -1;
        const FastCallExpression& call = fast.calls[static_cast<size_t>(n.intValue)];
        const FastExprNode* callee = node(fast, call.callee);
        if (!callee || callee->kind != FastExprNodeKind::Variable) return -1;
        const std::string_view name = plainName(line, callee->tokenIndex);
        // A parameter or local holds whatever it was given: no function known beforehand.
        if (name.empty() || bound(name) || call.arguments.size() > kMaxIntRegisters) return -1;
        IntCallSite site;
        site.callee = std::string(name);
        site.line = lineIndex(line);
        site.token = callee->tokenIndex;
        for (const int32_t argument : call.arguments) {
            const int32_t compiled = expression(line, fast, argument, depth + 1);
            if (compiled < 0) return -1;
            site.arguments.push_back(compiled);
        }
        m_code.calls.push_back(std::move(site));
        return addNode({IntNodeOp::Call, n.kind, static_cast<int32_t>(m_code.calls.size() - 1), -1, 0});
    }

    IntFunctionCode& m_code;
    const ParsedLines* m_lines = nullptr;
    std::vector<std::string> m_names;  // by register: the parameters, then the locals so far
    std::vector<std::string> m_bound;
    size_t m_returns = 0;
};

std::shared_ptr<const IntFunctionCode> compile(const ScriptCallable& function)
{
    if (function.isNative || function.isCoroutine || function.isLoadedChunk || function.isVariadic) return nullptr;
    // A body with nest labels registers them on every call.
    if (function.program && !function.program->nestBlocks.empty()) return nullptr;
    if (function.parameters.size() > kMaxIntRegisters) return nullptr;
    uint64_t first = 0;
    uint64_t end = 0;
    if (!functionBodyRange(function, first, end)) return nullptr;
    auto code = std::make_shared<IntFunctionCode>();
    code->registerCount = function.parameters.size();
    IntCompiler compiler(function, *code);
    if (!compiler.body(function.lines(), first, end)) return nullptr;
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

/// The tables a run made, kept alive until it hands one back: a few in place (a run nearly
/// always makes one table, the record a constructor returns), the rest in a list.
class MadeTables {
public:
    void add(TableRef table)
    {
        if (m_count < kInline) {
            m_inline[m_count++] = std::move(table);
        } else {
            m_more.push_back(std::move(table));
        }
    }

    /// The reference of `table` if the run made it, or null.
    const TableRef* find(const ScriptTable* table) const
    {
        for (size_t i = m_more.size(); i-- > 0;) {
            if (m_more[i].get() == table) return &m_more[i];
        }
        for (size_t i = m_count; i-- > 0;) {
            if (m_inline[i].get() == table) return &m_inline[i];
        }
        return nullptr;
    }

private:
    static constexpr size_t kInline = 2;
    TableRef m_inline[kInline];
    size_t m_count = 0;
    std::vector<TableRef> m_more;
};

/// Numbers the runs of this thread, so that a call site knows whether its resolved callee
/// belongs to the running one.
thread_local uint64_t t_runCount = 0;

/// One run: a call tree computed on ints. Every member function gives false when the run
/// gives up; `stopped` tells that it did for a stop request, and `refused` that it met a
/// field store or a new table where none may be made, which say nothing about the function.
///
/// Nothing a run does is seen before it has succeeded: field stores are held back until then
/// (later reads see them), and the tables it makes are its own until it hands back the one
/// it returns. A run that gives up has changed nothing, and the call path runs the call from
/// the start.
class IntRun {
public:
    IntRun(CobaltScript& engine, bool storesAllowed)
        : m_engine(engine), m_run(++t_runCount), m_storesAllowed(storesAllowed)
    {
    }

    /// The function's body with `registers` (room for kMaxIntRegisters) holding its
    /// arguments: its results into `results`, of which the caller takes `wanted` (the
    /// function must give as many).
    bool run(const ScriptCallable& function, const IntFunctionCode& code, IntSlot* registers, size_t wanted,
             IntSlot* results)
    {
        if (code.resultCount != wanted) return false;
        const Frame frame{function, code, registers};
        for (const IntStatement& statement : code.statements) {
            switch (statement.kind) {
            case IntStatementKind::Local:
                for (uint32_t i = 0; i < statement.count; ++i) {
                    if (!slot(frame, code.values[statement.first + i], registers[statement.target + i])) return false;
                }
                break;
            case IntStatementKind::SpreadLocal:
                if (!call(frame, code.calls[static_cast<size_t>(statement.spreadCall)], statement.count,
                          registers + statement.target)) {
                    return false;
                }
                break;
            case IntStatementKind::FieldStore: {
                int32_t value = 0;
                if (!operand(frame, code.values[statement.first], value) ||
                    !storeField(registers[statement.target], code.keys[static_cast<size_t>(statement.key)], value)) {
                    return false;
                }
                break;
            }
            case IntStatementKind::GuardedReturn: {
                int32_t left = 0;
                int32_t right = 0;
                if (!operand(frame, statement.guardLeft, left) || !operand(frame, statement.guardRight, right)) {
                    return false;
                }
                ScalarSlot decided{FastScalarValue::Int, left, 0.0};
                combineIntSlots(statement.guardKind, decided, right);
                if (decided.intValue != 0) return valuesInto(frame, statement, results);
                break;
            }
            case IntStatementKind::Return: return valuesInto(frame, statement, results);
            }
        }
        // The end of a body without a return.
        return true;
    }

    /// Makes the held-back field stores, in order.
    void commit()
    {
        for (size_t i = 0; i < m_writeCount; ++i) *m_writes[i].entry = Variable(m_writes[i].value);
    }

    /// A result as a value: an int, or a table this run made; false for a table it was given
    /// (which it holds no reference of).
    bool result(const IntSlot& slot, Variable& out)
    {
        if (slot.table == nullptr) {
            out = Variable(slot.value);
            return true;
        }
        const TableRef* made = madeTable(slot.table);
        if (made == nullptr) return false;
        out = Variable(*made);
        return true;
    }

    bool stopped = false;
    bool refused = false;

private:
    struct Frame {
        const ScriptCallable& function;
        const IntFunctionCode& code;
        const IntSlot* registers;
    };

    /// A field store held back: the table entry, and the int it gets.
    struct Write {
        Variable* entry;
        int32_t value;
    };
    static constexpr size_t kMaxWrites = 16;

    /// A field found in a table: the name is one of the code's keys, known by its address.
    struct FoundField {
        const ScriptTable* table;
        const std::string* key;
        Variable* entry;
    };
    static constexpr size_t kFoundFields = 4;

    /// The entry of a field the table in `slot` has, or null.
    /// The entry of a field the table in `slot` has, or null. The last few are remembered:
    /// a run adds no key to a table it did not make, so an entry stays where it is, and a
    /// field is mostly read and then set (self["n"] = self["n"] + 1).
    Variable* fieldEntry(const IntSlot& slot, const std::string& key)
    {
        if (slot.table == nullptr) return nullptr;
        for (size_t i = 0; i < m_foundCount; ++i) {
            if (m_found[i].table == slot.table && m_found[i].key == &key) return m_found[i].entry;
        }
        const auto found = slot.table->map.find(key);
        if (found == slot.table->map.end()) return nullptr;
        m_found[m_nextFound] = FoundField{slot.table, &key, &found->second};
        m_nextFound = (m_nextFound + 1) % kFoundFields;
        if (m_foundCount < kFoundFields) ++m_foundCount;
        return &found->second;
    }

    bool readField(const IntSlot& slot, const std::string& key, int32_t& out)
    {
        const Variable* entry = fieldEntry(slot, key);
        if (entry == nullptr) return false;
        for (size_t i = m_writeCount; i-- > 0;) {
            if (m_writes[i].entry == entry) {
                out = m_writes[i].value;
                return true;
            }
        }
        if (entry->type != VarType::Int) return false;
        out = *std::get_if<int32_t>(&entry->value);
        return true;
    }

    /// A store into a field the table already has: one more would change its keys.
    bool storeField(const IntSlot& slot, const std::string& key, int32_t value)
    {
        if (!m_storesAllowed) {
            refused = true;
            return false;
        }
        Variable* entry = fieldEntry(slot, key);
        if (entry == nullptr) return false;
        for (size_t i = 0; i < m_writeCount; ++i) {
            if (m_writes[i].entry == entry) {
                m_writes[i].value = value;
                return true;
            }
        }
        if (m_writeCount == kMaxWrites) return false;
        m_writes[m_writeCount++] = Write{entry, value};
        return true;
    }

    /// The reference of a table this run made, or null.
    const TableRef* madeTable(const ScriptTable* table) const
    {
        return m_made.find(table);
    }

    /// {key: value, ...} as the literal makes it: the entries evaluated and stored in order.
    bool makeTable(const Frame& frame, const IntTableLiteral& literal, IntSlot& out)
    {
        if (!m_storesAllowed) {
            refused = true;
            return false;
        }
        TableRef table = makeTableRef();
        Variable* entries[kMaxPrototypeEntries];
        const bool fromPrototype = !literal.slot.empty() || literal.keys.empty();
        if (fromPrototype) {
            table->map = literal.prototype;
            size_t position = 0;
            for (auto& entry : table->map) entries[position++] = &entry.second;
            table->version += literal.distinctKeys;
        }
        for (size_t i = 0; i < literal.values.size(); ++i) {
            const IntNode& n = frame.code.nodes[static_cast<size_t>(literal.values[i])];
            if (fromPrototype && n.op != IntNodeOp::Outer) {
                // Straight into the entry, which holds the absent value (or the value of an
                // earlier entry of the same name, replaced as insert_or_assign would).
                IntSlot value;
                if (!slot(frame, literal.values[i], value)) return false;
                Variable& entry = *entries[literal.slot[i]];
                if (value.table != nullptr) {
                    if (!result(value, entry)) return false;
                } else if (int32_t* payload = std::get_if<int32_t>(&entry.value)) {
                    entry.type = VarType::Int;
                    *payload = value.value;
                } else {
                    entry = Variable(value.value);
                }
                continue;
            }
            Variable element;
            if (n.op == IntNodeOp::Outer) {
                const Variable* outer = outerValue(frame.function, frame.code.outers[static_cast<size_t>(n.left)]);
                if (outer != nullptr) element = *outer;
            } else {
                IntSlot value;
                if (!slot(frame, literal.values[i], value) || !result(value, element)) return false;
            }
            if (fromPrototype) {
                *entries[literal.slot[i]] = std::move(element);
            } else if (table->map.insert_or_assign(literal.keys[i], std::move(element)).second) {
                CobaltScript::bumpTableVersion(*table);
            }
        }
        out = IntSlot{0, table.get()};
        m_made.add(std::move(table));
        return true;
    }

    bool valuesInto(const Frame& frame, const IntStatement& statement, IntSlot* out)
    {
        const int32_t* values = frame.code.values.data() + statement.first;
        for (uint32_t i = 0; i < statement.count; ++i) {
            if (!slot(frame, values[i], out[i])) return false;
        }
        return true;
    }

    /// A node's value where a table may stand (a local, an argument, a result).
    bool slot(const Frame& frame, int32_t index, IntSlot& out)
    {
        const IntNode& n = frame.code.nodes[static_cast<size_t>(index)];
        switch (n.op) {
        case IntNodeOp::Register: out = frame.registers[n.value]; return true;
        case IntNodeOp::Table: return makeTable(frame, frame.code.tables[static_cast<size_t>(n.left)], out);
        case IntNodeOp::Call: return call(frame, frame.code.calls[static_cast<size_t>(n.left)], 1, &out);
        default: out.table = nullptr; return operand(frame, index, out.value);
        }
    }

    /// A node's int value: the leaves read inline, the rest through value().
    [[gnu::always_inline]] bool operand(const Frame& frame, int32_t index, int32_t& out)
    {
        const IntNode& n = frame.code.nodes[static_cast<size_t>(index)];
        if (n.op == IntNodeOp::Literal) {
            out = n.value;
            return true;
        }
        if (n.op == IntNodeOp::Register) {
            const IntSlot& slot = frame.registers[n.value];
            out = slot.value;
            return slot.table == nullptr;
        }
        return value(frame, n, out);
    }

    bool value(const Frame& frame, const IntNode& n, int32_t& out)
    {
        switch (n.op) {
        case IntNodeOp::Literal: out = n.value; return true;
        case IntNodeOp::Register:
            out = frame.registers[n.value].value;
            return frame.registers[n.value].table == nullptr;
        case IntNodeOp::Field:
            return readField(frame.registers[n.value], frame.code.keys[static_cast<size_t>(n.left)], out);
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
        case IntNodeOp::Call: {
            IntSlot result;
            if (!call(frame, frame.code.calls[static_cast<size_t>(n.left)], 1, &result)) return false;
            out = result.value;
            return result.table == nullptr;
        }
        case IntNodeOp::Table:
        case IntNodeOp::Outer: return false;
        }
        return false;
    }

    [[gnu::noinline]] bool call(const Frame& frame, const IntCallSite& site, size_t wanted, IntSlot* results)
    {
        const ScriptCallable& caller = frame.function;
        if (site.run != m_run || site.caller != &caller) {
            site.target = resolve(caller, site);
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
        IntSlot registers[kMaxIntRegisters];
        for (size_t i = 0; i < count; ++i) {
            if (!slot(frame, site.arguments[i], registers[i])) return false;
        }
        ++m_depth;
        const bool done = run(target, targetCode, registers, wanted, results);
        --m_depth;
        return done;
    }

    /// The value `outer` names in `caller`'s body, looked up as the body would (see resolve),
    /// or null when it names nothing.
    const Variable* outerValue(const ScriptCallable& caller, const IntOuterName& outer)
    {
        if (outer.run != m_run || outer.caller != &caller) {
            outer.value = lookUpOutside(caller, outer.name, outer.line, outer.token);
            outer.run = m_run;
            outer.caller = &caller;
        }
        return outer.value;
    }

    /// A name of `caller`'s body that is none of its parameters or locals, looked up as the
    /// body would: in the caller's frame, with the block scopes out of sight, through the
    /// cache of its token (line `line`, token `token`).
    const Variable* lookUpOutside(const ScriptCallable& caller, const std::string& name, uint32_t line, uint32_t token)
    {
        ScopeState& scopes = m_engine.scopes;
        const uint64_t frame = scopes.currentFrame;
        const size_t blockBase = scopes.blockBase;
        scopes.currentFrame = caller.capturedScope + 1;
        scopes.blockBase = scopes.blocks.size();
        const Variable* found = m_engine.resolveVariableFastPtr(name, &caller.lines()[line].analyses[token]);
        scopes.currentFrame = frame;
        scopes.blockBase = blockBase;
        return found;
    }

    /// The int function a call site names, or null.
    const ScriptCallable* resolve(const ScriptCallable& caller, const IntCallSite& site)
    {
        const Variable* found = lookUpOutside(caller, site.callee, site.line, site.token);
        if (found == nullptr || found->type != VarType::Function) return nullptr;
        const CallableRef& callee = found->asCallable();
        if (!callee || callee->intGiveUps >= kMaxGiveUps || !intCodeOf(*callee)) return nullptr;
        return callee.get();
    }

    CobaltScript& m_engine;
    const uint64_t m_run;
    const bool m_storesAllowed;
    uint32_t m_depth = 0;
    Write m_writes[kMaxWrites];
    size_t m_writeCount = 0;
    FoundField m_found[kFoundFields];
    size_t m_foundCount = 0;
    size_t m_nextFound = 0;
    MadeTables m_made;
};

} // namespace

bool tryRunIntFunction(CobaltScript& engine, const ScriptCallable& function, const IntSlot* args, size_t count,
                       bool storesAllowed, Variable& out)
{
    const IntFunctionCode* code = intCodeOf(function);
    // Only a call for one value or none: the call path gives several as a multivalue.
    if (!code || count != code->parameterCount || code->resultCount > 1 || function.intGiveUps >= kMaxGiveUps) {
        return false;
    }
    // What would make the call path do more than compute: a pending jump, failure or soft
    // error it acts on, coroutine turns it gives between a body's lines, a stop request.
    if (engine.loader.jumpPending || engine.coroutines.pendingFailure || engine.softError.pending ||
        (engine.coroutines.scheduled && engine.coroutines.inTurn == 0) || engine.stopRequested() ||
        engine.calls.callDepth > kMaxStartingCallDepth) {
        return false;
    }
    IntSlot registers[kMaxIntRegisters];
    std::copy(args, args + count, registers);
    IntRun run(engine, storesAllowed);
    IntSlot result{0, nullptr};
    // `out` is the caller's fresh value, which a body without a return leaves absent.
    if (run.run(function, *code, registers, code->resultCount, &result) &&
        (code->resultCount == 0 || run.result(result, out))) {
        run.commit();
        return true;
    }
    if (!run.stopped && !run.refused && ++function.intGiveUps >= kMaxGiveUps) {
        function.intCodeState = IntCodeState::None;
    }
    return false;
}

} // namespace cobalt
