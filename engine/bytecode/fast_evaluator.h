#pragma once
// The walker behind the fast expression entry points of CobaltScript: one object per
// evaluation, bound to the tree and the line it belongs to. Shared by the expression paths
// (fast_eval.cpp) and the fast function bodies (fast_callable.cpp).

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/eval/arithmetic.h"
#include "engine/scope/cached_resolution.h"

namespace cobalt {

/// Above this call depth the pure paths call nothing themselves, so the call path alone
/// decides when nesting has gone too deep.
inline constexpr uint64_t kFastCallDepthLimit = 100000;

/// The operator byte of an arithmetic node ("+" ... "^"), or 0.
inline char arithmeticOperator(FastExprNodeKind kind)
{
    switch (kind) {
    case FastExprNodeKind::Add: return '+';
    case FastExprNodeKind::Subtract: return '-';
    case FastExprNodeKind::Multiply: return '*';
    case FastExprNodeKind::Divide: return '/';
    case FastExprNodeKind::IntDivide: return '\\';
    case FastExprNodeKind::Modulo: return '%';
    case FastExprNodeKind::Power: return '^';
    default: return 0;
    }
}

/// "<", ">", "<=" or ">=".
inline bool isComparison(FastExprNodeKind kind)
{
    return kind >= FastExprNodeKind::Less && kind <= FastExprNodeKind::GreaterEqual;
}

/// Whether a comparison node holds for a three-way order (negative, 0, positive).
inline bool comparisonHolds(FastExprNodeKind kind, int order)
{
    switch (kind) {
    case FastExprNodeKind::Less: return order < 0;
    case FastExprNodeKind::Greater: return order > 0;
    case FastExprNodeKind::LessEqual: return order <= 0;
    default: return order >= 0;
    }
}

/// Truthiness of a scalar: only the absent value and false are false.
inline bool scalarTruthy(const FastScalarValue& value)
{
    if (value.kind == FastScalarValue::Empty) return false;
    if (value.kind == FastScalarValue::Bool) return value.boolValue;
    return true;
}

/// The builtins whose scalar form has no effects (tryEvaluateNativeBuiltinScalar takes them).
bool builtinHasScalarForm(BuiltinId id);

/// Whether a script function's fast body may be tried on the pure paths right now; checked
/// before its arguments are computed, since most attempts that fail, fail here.
bool fastBodyScalarPossible(const CobaltScript& engine, const ScriptCallable& function);
/// The part of fastBodyScalarPossible that depends on the function alone: a fast body whose
/// expressions the pure paths can evaluate (a multi-value return, for one, is not).
bool fastBodyHasScalarForm(const ScriptCallable& function);

/// The argument values of one call, default-constructed: up to kInline of them in storage on
/// the native stack and only beyond that on the heap, so that an ordinary call allocates
/// nothing and builds no more values than it passes.
class ArgumentSlots {
public:
    static constexpr size_t kInline = 8;

    explicit ArgumentSlots(size_t count) : m_count(count)
    {
        if (count > kInline) {
            m_heap.resize(count);
            m_data = m_heap.data();
            return;
        }
        m_data = reinterpret_cast<Variable*>(m_storage);
        for (size_t i = 0; i < count; ++i) new (&m_storage[i * sizeof(Variable)]) Variable();
    }
    ~ArgumentSlots()
    {
        if (m_count > kInline) return;
        for (size_t i = 0; i < m_count; ++i) m_data[i].~Variable();
    }
    ArgumentSlots(const ArgumentSlots&) = delete;
    ArgumentSlots& operator=(const ArgumentSlots&) = delete;

    Variable& operator[](size_t index) { return m_data[index]; }
    Variable* data() { return m_data; }

private:
    alignas(Variable) std::byte m_storage[kInline * sizeof(Variable)];
    size_t m_count;
    Variable* m_data = nullptr;
    std::vector<Variable> m_heap;
};

/// Two ints under a comparison or "+", "-", "*" (the commonest operands: loop bounds, counters,
/// results of calls), with the results the general kernels give for them: a comparison's truth
/// (`isBool`) or a wrapped int. False for every other operator.
inline bool combineInts(FastExprNodeKind kind, int32_t a, int32_t b, int32_t& result, bool& isBool)
{
    isBool = true;
    switch (kind) {
    case FastExprNodeKind::Equal: result = a == b; return true;
    case FastExprNodeKind::NotEqual: result = a != b; return true;
    case FastExprNodeKind::Less: result = a < b; return true;
    case FastExprNodeKind::Greater: result = a > b; return true;
    case FastExprNodeKind::LessEqual: result = a <= b; return true;
    case FastExprNodeKind::GreaterEqual: result = a >= b; return true;
    default: break;
    }
    isBool = false;
    switch (kind) {
    case FastExprNodeKind::Add: result = wrappingAdd(a, b); return true;
    case FastExprNodeKind::Subtract: result = wrappingSubtract(a, b); return true;
    case FastExprNodeKind::Multiply: result = wrappingMultiply(a, b); return true;
    default: return false;
    }
}

/// Two scalars under "==", "~=", a comparison or an arithmetic operator ("+" ... "^"), as the
/// scalar path combines them: false where that path gives up (a zero divisor, a non-finite
/// power, an absent operand of arithmetic) and for every other operator.
bool combineScalars(FastExprNodeKind kind, const FastScalarValue& left, const FastScalarValue& right,
                    FastScalarValue& out);

class FastEvaluator {
public:
    /// Inline: an evaluator is made for nearly every expression evaluated.
    FastEvaluator(CobaltScript& engine, const FastExpression& expression, const ParsedScriptLine& line)
        : m_engine(engine),
          m_expression(expression),
          m_line(line),
          m_nodes(expression.nodes.data()),
          // Trees and lines are far below 2^32 nodes and tokens. A larger count would be cut to
          // its low 32 bits, never more than the count itself: the checks would only get stricter.
          m_nodeCount(static_cast<uint32_t>(expression.nodes.size())),
          m_tokenCount(static_cast<uint32_t>(line.tokens.size())),
          m_analysisCount(static_cast<uint32_t>(line.analyses.size()))
    {
    }

    /// The node at `index`; fails with "Invalid fast expression node" outside the tree.
    /// Defined here so that every walker inlines the check; the failure stays out of line.
    const FastExprNode& node(int32_t index) const
    {
        // One unsigned compare against the count taken at construction (a vector's size()
        // divides by the 40-byte node size on every call).
        if (static_cast<uint32_t>(index) >= m_nodeCount) [[unlikely]] invalidNode();
        return m_nodes[static_cast<uint32_t>(index)];
    }
    /// Makes the line's token at `tokenIndex` the near-token.
    void markNear(uint32_t tokenIndex) const;

    /// The value path: mirrors the token evaluator, failures included.
    Variable value(int32_t index, int depth);

    // Pure paths: never run script code with effects, never fail; false = undecided.
    bool scalarNode(int32_t index, FastScalarValue& out);
    bool intNode(int32_t index, int32_t& out, bool allowBool);
    bool concatEligible(int32_t index);
    bool appendConcat(int32_t index, std::string& out);
    /// The scalar path over the expression's flat form: what scalarNode(root) decides, without
    /// the recursion; false where it gives up, and when the expression has no flat form.
    bool flatScalar(FastScalarValue& out);
    /// flatScalar with every name resolved beforehand (a loop kernel's registers): name node i
    /// reads registers[nodeRegister[i]]. Calls may only reach the native builtins with a scalar
    /// form, so that nothing runs that could move a resolved variable.
    bool flatScalarResolved(Variable* const* registers, const int16_t* nodeRegister, FastScalarValue& out);

private:
    class LookedUpNames;
    class ResolvedNames;
    /// The flat steps, with names read and calls made through `names` (one of the two above).
    template <class Names>
    bool flatSteps(Names& names, FastScalarValue& out);
    /// callScalar for a call whose callee, `callee`, is a native builtin with a scalar form and
    /// whose arguments make no calls; false for every other call.
    bool nativeCallScalar(const FastExprNode& n, const Variable* callee, FastScalarValue& out);
    [[noreturn, gnu::cold]] static void invalidNode();

    /// The variable a name node reads, or null. Nearly every look-up is answered by the
    /// token's cache, checked here inline in its quick form (no name comparison that needs a
    /// call); the rest go out of line to the full check and search.
    const Variable* lookUp(const FastExprNode& variable) const
    {
        const uint32_t index = variable.tokenIndex;
        if (index < m_analysisCount && index < m_tokenCount) {
            const TokenAnalysis& analysis = m_line.analyses[index];
            if (analysis.noScopeMark) {
                if (const Variable* hit =
                        resolution::cachedHit<true>(m_engine.scopes, m_line.tokens[index], analysis)) {
                    return hit;
                }
            }
        }
        return lookUpUncached(variable);
    }
    [[gnu::noinline]] const Variable* lookUpUncached(const FastExprNode& variable) const;
    const std::string& stringLiteral(const FastExprNode& literal) const;
    /// `table["field"]` with the key written as a string literal: true when that shortcut
    /// applies, with `field` the entry or nullptr when the table has none. The entry is found
    /// by the literal itself, with no key value or key text built for it.
    bool literalField(const Variable& container, const FastExprNode& key, const Variable*& field) const;
    /// The operand's value: in place for a variable, else evaluated into `scratch`.
    const Variable& operand(int32_t index, Variable& scratch, int depth);

    Variable indexValue(const FastExprNode& n, int depth);
    Variable callValue(const FastExprNode& n, int depth);
    /// A call of an int function (int_function.h) whose callee and arguments are read in
    /// place: true with its result in `out`, false (with nothing done) for every other call.
    bool intFunctionCall(const FastExprNode& n, const FastCallExpression& call, Variable& out);
    /// One call argument's value, stored into its slot.
    void argumentValue(int32_t index, Variable& out, int depth);
    Variable invoke(const FastExprNode& n, const Variable& callee, const Variable* args, size_t count);
    Variable negateValue(const FastExprNode& n, int depth);
    Variable lengthValue(const FastExprNode& n, int depth);
    Variable logicalValue(const FastExprNode& n, int depth);
    Variable literalValue(const FastExprNode& n, int depth);
    Variable binaryValue(const FastExprNode& n, int depth);

    /// A node's value without effects: in place for a variable, else into `scratch`.
    bool pureValue(int32_t index, const Variable*& out, Variable& scratch);
    bool readScalar(int32_t index, FastScalarValue& out);
    bool lengthInt(const FastExprNode& n, int32_t& out);
    static bool intArithmetic(FastExprNodeKind kind, int32_t left, int32_t right, int32_t& out);
    bool callScalar(const FastExprNode& n, FastScalarValue& out);
    bool negateScalar(const FastExprNode& n, FastScalarValue& out);
    bool logicalScalar(const FastExprNode& n, FastScalarValue& out);
    bool binaryScalar(const FastExprNode& n, FastScalarValue& out);
    bool hyperScalar(FastExprNodeKind kind, const FastScalarValue& left, const FastScalarValue& right,
                     FastScalarValue& out);
    /// Whether a pure path may call a builtin or a fast body here (the call path would not
    /// stop for depth or stack).
    bool callAllowed() const;
    /// The argument node of toString(x) when the callee is still the native builtin, else -1.
    int32_t nativeToStringArgument(const FastExprNode& n);

    CobaltScript& m_engine;
    const FastExpression& m_expression;
    const ParsedScriptLine& m_line;
    const FastExprNode* m_nodes;
    uint32_t m_nodeCount;
    uint32_t m_tokenCount;
    uint32_t m_analysisCount;
};

} // namespace cobalt
