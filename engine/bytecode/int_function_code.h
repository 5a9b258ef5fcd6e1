#pragma once
// The code of an int function (int_function.h): what int_function_compiler.cpp makes of a
// function's body and the int run (int_function.cpp) carries out. A function's code is
// shared by its copies; the call sites and outer names remember what they last resolved to,
// for the run that resolved it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/bytecode/fast_expression.h"
#include "engine/stdlib/script_callable.h"
#include "engine/value/variable.h"

namespace cobalt {

/// Most registers (parameters and locals) and results of an int function.
inline constexpr size_t kMaxIntRegisters = 32;
inline constexpr size_t kMaxIntResults = 8;
/// Deepest int expression compiled: its evaluation recurses once per level.
inline constexpr int kMaxExpressionDepth = 48;
/// Deepest nesting of calls in one run. Deeper recursions are left to the call path, which
/// knows how to fail on them; this keeps a run that gives up cheap.
inline constexpr uint32_t kMaxRunDepth = 5000;
/// Runs that may give up before a function is not tried any more.
inline constexpr uint8_t kMaxGiveUps = 3;
/// Call depth beyond which no run starts, so that the call path's own depth limit (far
/// above) is never reached inside a run.
inline constexpr uint64_t kMaxStartingCallDepth = 100000;

// LeafBinary is a Binary whose operands are both a Literal or a Register (n - 1, a * b),
// worked out without descending into them. Compare, Table and Outer make values that are not
// ints: a comparison's truth, a new table, whose entries are nodes of any kind, and a name
// from outside the body, read only as such an entry.
enum class IntNodeOp : uint8_t { Literal, Register, Negate, Binary, LeafBinary, Compare, Call, Field, Table, Outer };

struct IntNode {
    IntNodeOp op = IntNodeOp::Literal;
    FastExprNodeKind kind = FastExprNodeKind::Invalid;  // a Binary, LeafBinary or Compare node's operator
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
    // its order.
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
    Branch,         // unless left guardKind right: go on at statement `jump`
    Jump,           // go on at statement `jump`
};

struct IntStatement {
    IntStatementKind kind = IntStatementKind::Return;
    FastExprNodeKind guardKind = FastExprNodeKind::Invalid;
    int32_t guardLeft = -1;
    int32_t guardRight = -1;
    int32_t target = 0;      // first register a local statement sets; a FieldStore's table
    int32_t key = -1;        // FieldStore: the field's name in code.keys
    int32_t spreadCall = -1;  // SpreadLocal: the call site
    uint32_t jump = 0;        // Branch, Jump: the statement to go on at
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
    // How many values every return gives (all of them give as many); 0 for a body without
    // a return, which gives the absent value.
    size_t resultCount = 0;
};

/// The function's int code, compiled on first use; null when it has none (or gave up too often).
const IntFunctionCode* intCodeOf(const ScriptCallable& function);

} // namespace cobalt
