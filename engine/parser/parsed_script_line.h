#pragma once
// One parsed statement. Statements are not parsed into a tree: each keeps its text, tokens
// and token analyses, a kind decided by its first token(s), the index links between the
// lines of one block, and the data that line preparation attaches (assignment targets,
// expression ranges and their fast forms).

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/bytecode/fast_expression.h"
#include "engine/lexer/token_analysis.h"

namespace cobalt {

enum class StatementKind : uint8_t {
    Empty = 0,
    Simple = 1,
    If = 2,
    ElseIf = 3,
    Else = 4,
    End = 5,
    While = 6,
    Repeat = 7,
    Until = 8,
    For = 9,
    Function = 10,
    DecayFunction = 11,
    NativeFunction = 12,
    LocalFunction = 13,
    Nest = 14,
    Return = 15,
    Break = 16,
};

enum class ScopeModifier : uint8_t { None = 0, Native = 1, Local = 2, External = 3 };

inline constexpr uint64_t kNoLine = std::numeric_limits<uint64_t>::max();

/// Half-open token range [begin, end).
struct TokenRange {
    uint32_t begin = 0;
    uint32_t end = 0;
    bool empty() const { return begin >= end; }
};

struct ParsedAssignmentTarget {
    uint32_t nameIndex = 0;                 // token position of the base name
    std::vector<TokenRange> indexRanges;    // the key expressions of name[k1][k2]...
    std::vector<FastExpression> indexFast;  // their fast forms, parallel to indexRanges
};

/// How the statement executor runs a simple assignment, decided once by line preparation from
/// the line's shape so that no statement re-reads its operator and targets to find out.
enum class AssignmentForm : uint8_t {
    Undecided = 0,   // not prepared (or not an assignment): decided when it runs
    Plain = 1,       // "=" in any shape but the one below
    OneElement = 2,  // name[k] = e: one target with exactly one key, "=", one right side
    Compound = 3,    // "+=", "-=", ... in any shape
};

struct ParsedScriptLine {
    std::string text;
    uint64_t lineNumber = 0;  // 0-based physical line where the statement begins
    TokenList tokens;
    AnalysisList analyses;
    StatementKind kind = StatementKind::Empty;
    uint64_t matchingEnd = kNoLine;
    uint64_t nextBranch = kNoLine;
    ScopeModifier scopeModifier = ScopeModifier::None;

    // --- Filled by line preparation ---
    // Simple statements: whether the statement is an assignment, where its operator stands,
    // its targets, and its right-side ranges (in exprRanges). Targets start after the scope
    // modifier word when there is one.
    bool isAssignment = false;
    uint32_t assignOperatorIndex = 0;
    AssignmentForm assignmentForm = AssignmentForm::Undecided;
    std::vector<ParsedAssignmentTarget> assignmentTargets;
    // Expression ranges the executors evaluate, by kind:
    //   if/elseif/while/until: the condition, tokens 1 to the end (always one range, which
    //     is empty for a bare keyword);
    //   return: each value, split at top-level commas (none for a bare return);
    //   numeric for (4+ tokens, name, "="): start from token 3, then stop, then step, split
    //     at the first two top-level commas, so a leftover token stays inside its range
    //     (start "1 2" -> "Expected ',' after for start value"; a third comma stays in step);
    //   generic for: the iterator after "in" (none when the names and "in" are malformed);
    //   simple assignment: each right side, split at top-level commas (at least one range,
    //     possibly empty: "x =" fails when it runs); simple expression statement: the whole
    //     statement; every other kind, function forms included: none.
    // "Top-level" counts (), [] and {} together.
    std::vector<TokenRange> exprRanges;
    std::vector<FastExpression> exprFast;  // parallel to exprRanges (root -1 = general path)
};

using ParsedLines = std::vector<ParsedScriptLine>;

} // namespace cobalt
