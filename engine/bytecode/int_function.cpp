// Int functions (int_function.h): running a call tree of int functions on plain ints.

#include "engine/bytecode/int_function.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/bytecode/int_function_code.h"
#include "engine/bytecode/scalar_slot.h"
#include "engine/eval/arithmetic.h"

namespace cobalt {

namespace {

/// `left kind right` for an int operator: false only for a zero divisor, on which the call
/// path fails.
[[gnu::always_inline]] inline bool applyOperator(FastExprNodeKind kind, int32_t left, int32_t right, int32_t& out)
{
    ScalarSlot slot{FastScalarValue::Int, left, 0.0};
    if (!combineIntSlots(kind, slot, right)) return false;
    out = slot.intValue;
    return true;
}

/// Whether `left kind right` holds, for a comparison.
[[gnu::always_inline]] inline bool holds(FastExprNodeKind kind, int32_t left, int32_t right)
{
    ScalarSlot decided{FastScalarValue::Int, left, 0.0};
    combineIntSlots(kind, decided, right);
    return decided.intValue != 0;
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
        const IntStatement* const statements = code.statements.data();
        const size_t count = code.statements.size();
        for (size_t at = 0; at < count;) {
            const IntStatement& statement = statements[at++];
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
                bool holds = false;
                if (!decide(frame, statement, holds)) return false;
                if (holds) return valuesInto(frame, statement, results);
                break;
            }
            case IntStatementKind::Return: return valuesInto(frame, statement, results);
            case IntStatementKind::Branch: {
                bool holds = false;
                if (!decide(frame, statement, holds)) return false;
                if (!holds) at = statement.jump;
                break;
            }
            case IntStatementKind::Jump: at = statement.jump; break;
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
            out = slot.isBool ? Variable(slot.value != 0) : Variable(slot.value);
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

    /// A statement's guard, the comparison of two ints.
    [[gnu::always_inline]] bool decide(const Frame& frame, const IntStatement& statement, bool& truth)
    {
        int32_t left = 0;
        int32_t right = 0;
        if (!operand(frame, statement.guardLeft, left) || !operand(frame, statement.guardRight, right)) return false;
        truth = holds(statement.guardKind, left, right);
        return true;
    }

    /// A field store held back: the table entry, and the int it gets.
    struct Write {
        Variable* entry;
        int32_t value;
    };
    static constexpr size_t kMaxWrites = 16;
    static constexpr size_t kInPlaceEntries = 16;

    /// A field found in a table: the name is one of the code's keys, known by its address.
    struct FoundField {
        const ScriptTable* table;
        const std::string* key;
        Variable* entry;
    };
    static constexpr size_t kFoundFields = 4;

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
        table->map = literal.prototype;
        table->version += literal.distinctKeys;
        // The entries in their order: a few in place, a long literal's in a list.
        Variable* inPlace[kInPlaceEntries];
        std::vector<Variable*> listed;
        Variable** entries = inPlace;
        if (table->map.size() > kInPlaceEntries) {
            listed.resize(table->map.size());
            entries = listed.data();
        }
        size_t position = 0;
        for (auto& entry : table->map) entries[position++] = &entry.second;
        for (size_t i = 0; i < literal.values.size(); ++i) {
            // Straight into the entry, which holds the absent value (or the value of an earlier
            // entry of the same name, replaced as insert_or_assign would).
            Variable& entry = *entries[literal.slot[i]];
            const IntNode& n = frame.code.nodes[static_cast<size_t>(literal.values[i])];
            if (n.op == IntNodeOp::Outer) {
                const Variable* outer = outerValue(frame.function, frame.code.outers[static_cast<size_t>(n.left)]);
                entry = outer != nullptr ? *outer : Variable();
                continue;
            }
            IntSlot value;
            if (!slot(frame, literal.values[i], value)) return false;
            if (value.table != nullptr || value.isBool) {
                if (!result(value, entry)) return false;
            } else if (int32_t* payload = std::get_if<int32_t>(&entry.value)) {
                entry.type = VarType::Int;
                *payload = value.value;
            } else {
                entry = Variable(value.value);
            }
        }
        out = IntSlot{0, false, table.get()};
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

    /// A node's value where a table or a truth may stand (a local, an argument, a result):
    /// ints inline, the rest through otherSlot().
    [[gnu::always_inline]] bool slot(const Frame& frame, int32_t index, IntSlot& out)
    {
        const IntNode& n = frame.code.nodes[static_cast<size_t>(index)];
        if (n.op == IntNodeOp::Register) {
            out = frame.registers[n.value];
            return true;
        }
        if (n.op == IntNodeOp::Literal || n.op == IntNodeOp::LeafBinary || n.op == IntNodeOp::Binary) {
            out.isBool = false;
            out.table = nullptr;
            return operand(frame, index, out.value);
        }
        return otherSlot(frame, n, out);
    }

    [[gnu::noinline]] bool otherSlot(const Frame& frame, const IntNode& n, IntSlot& out)
    {
        switch (n.op) {
        case IntNodeOp::Table: return makeTable(frame, frame.code.tables[static_cast<size_t>(n.left)], out);
        case IntNodeOp::Call: return call(frame, frame.code.calls[static_cast<size_t>(n.left)], 1, &out);
        case IntNodeOp::Compare: {
            int32_t right = 0;
            if (!operand(frame, n.left, out.value) || !operand(frame, n.right, right)) return false;
            out = IntSlot{holds(n.kind, out.value, right) ? 1 : 0, true, nullptr};
            return true;
        }
        default: out.isBool = false; out.table = nullptr; return value(frame, n, out.value);
        }
    }

    /// A Literal's or a Register's int.
    [[gnu::always_inline]] static bool leaf(const Frame& frame, const IntNode& n, int32_t& out)
    {
        if (n.op == IntNodeOp::Literal) {
            out = n.value;
            return true;
        }
        return intOf(frame.registers[n.value], out);
    }

    /// The int a slot holds; false for a truth or a table.
    [[gnu::always_inline]] static bool intOf(const IntSlot& slot, int32_t& out)
    {
        out = slot.value;
        return slot.table == nullptr && !slot.isBool;
    }

    /// A node's int value: the leaves and operators over two leaves worked out inline, the
    /// rest through value().
    [[gnu::always_inline]] bool operand(const Frame& frame, int32_t index, int32_t& out)
    {
        const IntNode& n = frame.code.nodes[static_cast<size_t>(index)];
        if (n.op == IntNodeOp::Literal || n.op == IntNodeOp::Register) return leaf(frame, n, out);
        if (n.op == IntNodeOp::LeafBinary) {
            int32_t right = 0;
            return leaf(frame, frame.code.nodes[static_cast<size_t>(n.left)], out) &&
                   leaf(frame, frame.code.nodes[static_cast<size_t>(n.right)], right) &&
                   applyOperator(n.kind, out, right, out);
        }
        return value(frame, n, out);
    }

    bool value(const Frame& frame, const IntNode& n, int32_t& out)
    {
        switch (n.op) {
        case IntNodeOp::Literal:
        case IntNodeOp::Register: return leaf(frame, n, out);
        case IntNodeOp::Field:
            return readField(frame.registers[n.value], frame.code.keys[static_cast<size_t>(n.left)], out);
        case IntNodeOp::Negate:
            if (!operand(frame, n.left, out)) return false;
            out = wrappingNegate(out);
            return true;
        case IntNodeOp::Binary:
        case IntNodeOp::LeafBinary: {
            int32_t right = 0;
            return operand(frame, n.left, out) && operand(frame, n.right, right) &&
                   applyOperator(n.kind, out, right, out);
        }
        case IntNodeOp::Call: {
            IntSlot result;
            return call(frame, frame.code.calls[static_cast<size_t>(n.left)], 1, &result) && intOf(result, out);
        }
        case IntNodeOp::Compare:
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
    IntSlot result{0, false, nullptr};
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

