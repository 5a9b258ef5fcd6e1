#pragma once
// A fast expression is a small precompiled tree of one expression range of a line, built
// once by line preparation and reused on every execution. The general token evaluator stays
// the reference: a range without a fast form (root == -1) is evaluated by it, and a fast
// tree must give exactly its results and failures.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/lexer/token_analysis.h"
#include "engine/value/variable.h"

namespace cobalt {

enum class FastExprNodeKind : uint8_t {
    Invalid = 0,
    IntLiteral = 1,
    FloatLiteral = 2,
    StringLiteral = 3,
    BoolLiteral = 4,
    EmptyLiteral = 5,
    Variable = 6,
    Index = 7,
    Call = 8,
    Negate = 9,
    LogicalNot = 10,
    Length = 11,
    Add = 12,
    Subtract = 13,
    Multiply = 14,
    Divide = 15,
    IntDivide = 16,
    Modulo = 17,
    Power = 18,
    Tetration = 19,
    Pentation = 20,
    Equal = 21,
    NotEqual = 22,
    Less = 23,
    Greater = 24,
    LessEqual = 25,
    GreaterEqual = 26,
    And = 27,
    Or = 28,
    // Container literals (a literal-record index in intValue): [a, b] and {a, b} make an array,
    // {} and {name: a, ...} a table. Mixed and computed keys stay with the token evaluator.
    ArrayLiteral = 29,
    TableLiteral = 30,
};

struct FastExprNode {
    FastExprNodeKind kind = FastExprNodeKind::Invalid;
    int32_t left = -1;
    int32_t right = -1;
    int32_t intValue = 0;      // int literal; string-literal index; call-record index
    float floatValue = 0.0f;   // float literal
    // Position in the line of the last token read when the node is complete: the name or
    // literal of a leaf, the closing "]" or ")" of an index or call, the last token of the
    // operand of a prefix or binary operator. A failure at this node names that token.
    uint32_t tokenIndex = 0;
    // Last token of the node's source text, closing parentheses around it included.
    uint32_t spanEnd = 0;
    bool boolValue = false;
    bool mayBeFloat = false;
    bool hasCall = false;      // the subtree holds a call node (evaluating it may run script code)
    // Call nodes: evaluations left before the pure paths try this call again after its callee
    // had no scalar form (a plain script function, a builtin with effects). Only ever spares
    // an attempt whose answer the value path gives anyway.
    mutable uint8_t pureCallSkips = 0;
    // Arithmetic nodes: evaluations left before the int-only path is tried again here after
    // it gave up (an operand held a float). The scalar path decides those anyway.
    mutable uint8_t pureIntSkips = 0;
    // Variable nodes: the flat form's slot for a name read more than once in one evaluation
    // (i in a[i] + a[i - 1]), so that it is looked up once; -1 for the rest.
    int8_t flatNameSlot = -1;
};

struct FastCallExpression {
    int32_t callee = -1;
    std::vector<int32_t> arguments;
};

/// The entries of a container literal, in source order: the value nodes and, for a table,
/// the key of each (its text as the literal spells it).
struct FastLiteralExpression {
    std::vector<int32_t> values;
    std::vector<std::string> keys;
};

// The operators with flat steps of their own, one step kind per operator and operand form,
// so that the commonest operations are dispatched once rather than by form and then operator.
#define COBALT_FAST_FLAT_OPERATORS(X) \
    X(Add) X(Subtract) X(Multiply) X(Modulo) X(Equal) X(NotEqual) X(Less) X(Greater) X(LessEqual) X(GreaterEqual)

// One step of a tree's flat form: the tree in post-order, each step taking its operands from
// an operand stack of scalars and leaving its result there. It is the scalar path without the
// recursion: it decides exactly what that path decides and gives up wherever it gives up.
enum class FastFlatOp : uint8_t {
    Int,          // push intValue
    Float,        // push floatValue
    Bool,         // push intValue != 0
    Empty,        // push the absent value
    Variable,     // push the scalar of the variable node `node`
    Field,        // node `node` is name["literal"]: push the field's scalar
    IndexByName,  // node `node` is name[name]: push the element's scalar
    Index,        // node `node` is name[key], the key's scalar on top: replace it by the element's
    Length,       // node `node` is #name: push the length
    Call,         // push the scalar result of the call node `node` (pure callees only)
    Negate,
    Not,
    Binary,       // combine the two top entries by `kind`
    BinaryInt,    // combine the top entry by `kind` with the int literal intValue
    BinaryFloat,  // combine the top entry by `kind` with the float literal floatValue
    BinaryName,   // combine the top entry by `kind` with the variable node `node`
    AndSkip,      // top falsy: keep it and go to step `node`; else drop it
    OrSkip,       // top truthy: keep it and go to step `node`; else drop it
    Return,       // the last step: the top entry is the result
    // Binary, BinaryInt and BinaryName for one operator each (`kind` is set as well).
#define COBALT_FAST_FLAT_STEP(name) name, name##Int, name##Name,
    COBALT_FAST_FLAT_OPERATORS(COBALT_FAST_FLAT_STEP)
#undef COBALT_FAST_FLAT_STEP
};

struct FastFlatStep {
    FastFlatOp op = FastFlatOp::Empty;
    FastExprNodeKind kind = FastExprNodeKind::Invalid;
    int32_t node = -1;  // node index, or the step to go to
    int32_t intValue = 0;
    float floatValue = 0.0f;
};

/// Deepest operand stack a flat form may use; deeper trees keep only the tree form.
inline constexpr uint32_t kFastFlatStackLimit = 24;
/// Most names a flat form shares between reads (FastExprNode::flatNameSlot).
inline constexpr uint8_t kFastFlatNameSlots = 8;

struct FastExpression {
    std::vector<FastExprNode> nodes;
    int32_t root = -1;
    std::vector<std::string> strings;
    std::vector<FastCallExpression> calls;
    std::vector<FastLiteralExpression> literals;
    // The flat form of the whole tree; empty when some node has none (strings, hyper-operations,
    // containers that are not plain names) or the tree is a string chain.
    std::vector<FastFlatStep> flat;
    // Evaluations left before the flat form is tried again after it gave up (a string or a
    // container where a scalar was expected); the tree paths decide those anyway.
    mutable uint8_t flatSkips = 0;
    // How many name slots the flat form uses (FastExprNode::flatNameSlot).
    uint8_t flatNameSlots = 0;
    // False when the tree's shape rules out a string-append chain (string literals and
    // toString(x) calls joined by +), so that the evaluator does not walk the tree to find out
    // on every evaluation. True until the line preparation has looked.
    bool mayBeStringChain = true;
    // The tree holds a container literal. The bytecode compiler keeps such a line on the
    // plain line opcode, so that compiled programs stay what they were before literals had
    // fast forms.
    bool hasContainerLiteral = false;

    bool valid() const { return root >= 0; }
};

/// Result of the scalar fast paths.
struct FastScalarValue {
    enum Kind : int32_t { Empty = 1, Int = 2, Float = 3, Bool = 4 };
    int32_t kind = Empty;
    int32_t intValue = 0;
    double floatValue = 0.0;
    bool boolValue = false;
};

/// bool 1.0 or 0.0, int widened, float as is; fails with "Expected a numeric value" otherwise.
double fastScalarToDouble(const FastScalarValue& value);
/// bool 1 or 0, float truncated toward zero (saturated, NaN gives 0); fails with
/// "Expected a numeric value" otherwise.
int32_t fastScalarToInt(const FastScalarValue& value);
/// Stores the scalar as the absent value, an int, a float (narrowed) or a bool.
void assignFastScalarToVariable(const FastScalarValue& value, Variable& out);
/// The scalar of an absent, int, float or bool value; false for every other kind.
bool tryFastScalarFromVariable(const Variable& value, FastScalarValue& out);

struct TokenRange;

/// Compiles tokens [range.begin, range.end) into a fast tree; root -1 when the range is empty
/// or out of bounds, the analyses do not match the tokens, parsing fails, or parsing stops
/// before the end of the range.
FastExpression compileFastExpressionRange(const TokenList& tokens, const AnalysisList& analyses,
                                          const TokenRange& range);
/// Builds expression.flat from the tree (left empty where the tree has no flat form);
/// `tokens` are the line's, which the tree's names index.
void flattenFastExpression(FastExpression& expression, const TokenList& tokens);

} // namespace cobalt
