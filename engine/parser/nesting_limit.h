#pragma once
// How deeply one statement nests. The evaluator, the expression skipper and the fast-form
// compiler all descend once per bracket, per prefix operator and per right-associative
// operator of a chain, so a statement nested absurdly deep (a million "(", or "- - - ... 1")
// would run them down to the native stack guard, slowly and through gigabytes of stack.
// Statements are refused when they are made, long before.

#include <cstddef>

#include "engine/lexer/token_analysis.h"

namespace cobalt {

/// Syntax levels one statement may nest: far beyond what a person or a generator writes,
/// and cheap to evaluate even on the small stacks of sanitizer builds.
inline constexpr size_t kMaxStatementNesting = 10000;

inline constexpr const char* kNestingTooDeep = "Expression nesting too deep";

/// The index of the first token at which `tokens` nest deeper than `limit` levels, or
/// `tokens.size()` when they never do. Brackets count one level each; a prefix operator or
/// a right-associative operator (^ <- ->) counts one more until a binary operator or a
/// comma at the same bracket level ends its operand.
size_t findExcessiveNesting(const TokenList& tokens, size_t limit = kMaxStatementNesting);

} // namespace cobalt
