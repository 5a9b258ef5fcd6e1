// Int functions (int_function.h): a function's body compiled into int statements over
// registers, or found not to be an int function's.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/bytecode/fast_body.h"
#include "engine/bytecode/fast_evaluator.h"
#include "engine/bytecode/int_function_code.h"

namespace cobalt {

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
        bool returns = false;
        if (!block(lines, first, end, true, returns)) return false;
        // A body that can end without a return gives the absent value; one that returns on
        // some paths only is left to the call path.
        return m_returns == 0 || returns;
    }

private:
    /// The statements of lines [first, end): the body's own (`top`), or a branch's, which
    /// binds no local (its scope would end with it). `returns`: every way through ends in a
    /// return.
    bool block(const ParsedLines& lines, size_t first, size_t end, bool top, bool& returns)
    {
        returns = false;
        size_t i = first;
        while (i < end) {
            const ParsedScriptLine& line = lines[i];
            if (line.kind == StatementKind::Empty) {
                ++i;
                continue;
            }
            // What follows a return never runs.
            if (returns) return false;
            if (isLocalStatement(line)) {
                if (!top || !local(line)) return false;
                ++i;
            } else if (line.kind == StatementKind::If) {
                size_t next = 0;
                if (!ifChain(lines, i, end, next, returns)) return false;
                i = next;
            } else if (isFieldStore(line)) {
                if (!fieldStore(line)) return false;
                ++i;
            } else if (line.kind == StatementKind::Return) {
                IntStatement statement;
                if (!values(line, statement) || !add(statement)) return false;
                returns = true;
                ++i;
            } else {
                return false;
            }
        }
        return true;
    }

    /// The comparison that is a condition's whole expression, into the statement's guard.
    bool condition(const ParsedScriptLine& line, IntStatement& statement)
    {
        const FastExpression* fast = line.exprRanges.size() == 1 ? single(line, 0) : nullptr;
        const FastExprNode* root = fast ? node(*fast, fast->root) : nullptr;
        if (!root || !isComparison(root->kind)) return false;
        statement.guardKind = root->kind;
        statement.guardLeft = expression(line, *fast, root->left, 1);
        statement.guardRight = expression(line, *fast, root->right, 1);
        return statement.guardLeft >= 0 && statement.guardRight >= 0;
    }

    /// if / elseif / else / end at `at`, each condition a comparison; `next` is the line after
    /// its end. The commonest form, one branch holding one return (a recursion's base case),
    /// becomes a single guarded return.
    bool ifChain(const ParsedLines& lines, size_t at, size_t end, size_t& next, bool& returns)
    {
        const ParsedScriptLine& opener = lines[at];
        const size_t close = opener.matchingEnd;
        if (close == kNoLine || close <= at || close >= end || lines[close].kind != StatementKind::End) return false;
        next = close + 1;
        if (opener.nextBranch == kNoLine && close == at + 2 && lines[at + 1].kind == StatementKind::Return) {
            IntStatement statement;
            statement.kind = IntStatementKind::GuardedReturn;
            returns = false;
            return condition(opener, statement) && values(lines[at + 1], statement) && add(statement);
        }
        std::vector<size_t> exits;  // the jumps to the end, set once it is known
        bool allReturn = true;
        bool hasElse = false;
        for (size_t branch = at; branch != kNoLine;) {
            const ParsedScriptLine& line = lines[branch];
            const size_t bodyEnd = line.nextBranch == kNoLine ? close : line.nextBranch;
            if (hasElse || bodyEnd <= branch || bodyEnd > close || line.matchingEnd != close) return false;
            size_t test = SIZE_MAX;
            if (line.kind == StatementKind::Else) {
                hasElse = true;
            } else if (line.kind == StatementKind::If || line.kind == StatementKind::ElseIf) {
                IntStatement statement;
                statement.kind = IntStatementKind::Branch;
                if (!condition(line, statement)) return false;
                test = m_code.statements.size();
                m_code.statements.push_back(statement);
            } else {
                return false;
            }
            bool bodyReturns = false;
            if (!block(lines, branch + 1, bodyEnd, false, bodyReturns)) return false;
            allReturn = allReturn && bodyReturns;
            if (line.nextBranch != kNoLine && !bodyReturns) {
                IntStatement jump;
                jump.kind = IntStatementKind::Jump;
                exits.push_back(m_code.statements.size());
                m_code.statements.push_back(jump);
            }
            // A condition that does not hold goes on at the next branch.
            if (test != SIZE_MAX) m_code.statements[test].jump = static_cast<uint32_t>(m_code.statements.size());
            branch = line.nextBranch;
        }
        for (const size_t exit : exits) m_code.statements[exit].jump = static_cast<uint32_t>(m_code.statements.size());
        returns = hasElse && allReturn;
        return true;
    }

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
        return add(statement);
    }

    static bool isLeaf(const IntNode& n) { return n.op == IntNodeOp::Literal || n.op == IntNodeOp::Register; }

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
        const bool comparison = isComparison(n->kind);
        if (!comparison && !isIntOperator(n->kind)) return -1;
        const int32_t left = expression(line, fast, n->left, depth + 1);
        const int32_t right = left < 0 ? -1 : expression(line, fast, n->right, depth + 1);
        if (right < 0) return -1;
        // A comparison of two ints gives a truth: a value to return, store or pass on, never an
        // operand of arithmetic.
        if (comparison) return addNode({IntNodeOp::Compare, n->kind, left, right, 0});
        const bool leaves = isLeaf(m_code.nodes[static_cast<size_t>(left)]) && isLeaf(m_code.nodes[static_cast<size_t>(right)]);
        return addNode({leaves ? IntNodeOp::LeafBinary : IntNodeOp::Binary, n->kind, left, right, 0});
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
    IntCompiler compiler(function, *code);
    if (!compiler.body(function.lines(), first, end)) return nullptr;
    return code;
}

} // namespace

const IntFunctionCode* intCodeOf(const ScriptCallable& function)
{
    if (function.intCodeState == IntCodeState::Unknown) {
        function.intCode = compile(function);
        function.intCodeState = function.intCode ? IntCodeState::Ready : IntCodeState::None;
    }
    return function.intCodeState == IntCodeState::Ready ? function.intCode.get() : nullptr;
}

} // namespace cobalt
