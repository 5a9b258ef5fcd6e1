#pragma once
// Small helpers the statement executors share for reading a parsed line.

#include <cstddef>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/eval/arithmetic.h"

namespace cobalt {

/// The line's analyses when they match its tokens one for one, else none.
inline const AnalysisList* analysesOf(const ParsedScriptLine& line)
{
    return line.analyses.size() == line.tokens.size() ? &line.analyses : nullptr;
}

inline bool tokenIsIdentifier(const ParsedScriptLine& line, size_t index)
{
    if (index >= line.tokens.size()) return false;
    if (const AnalysisList* analyses = analysesOf(line)) return (*analyses)[index].isIdentifier;
    return isIdentifierToken(line.tokens[index]);
}

inline const TokenAnalysis* analysisAt(const ParsedScriptLine& line, size_t index)
{
    const AnalysisList* analyses = analysesOf(line);
    return analyses && index < analyses->size() ? &(*analyses)[index] : nullptr;
}

inline ScopeTarget scopeTargetOf(ScopeModifier modifier)
{
    switch (modifier) {
    case ScopeModifier::Native: return ScopeTarget::Native;
    case ScopeModifier::Local: return ScopeTarget::Local;
    case ScopeModifier::External: return ScopeTarget::External;
    case ScopeModifier::None: break;
    }
    return ScopeTarget::Default;
}

/// Evaluates prepared range `rangeIndex` of the line when line preparation recorded it;
/// otherwise evaluates from token `start` to the end of the statement. Either way a token left
/// over fails with `leftoverMessage` naming that token.
Variable evaluateLineExpression(CobaltScript& engine, const ParsedScriptLine& line, size_t rangeIndex, size_t start,
                                const char* leftoverMessage);

/// Evaluates tokens [range.begin, range.end) with its fast form when it has one; a token left
/// over inside the range fails with `leftoverMessage`.
Variable evaluateTokenRange(CobaltScript& engine, const ParsedScriptLine& line, const TokenRange& range,
                            const FastExpression* fast, const char* leftoverMessage, std::string_view leftoverToken);

/// Stores `value` at name[keys[0]]...[keys[n-1]]. A name that resolves to nothing gets a new
/// container (stored with `target`); missing or absent intermediate entries become arrays when
/// the next key prefers array storage, else tables.
/// `count` is at least 1.
void storeIndexed(CobaltScript& engine, std::string_view name, const TokenAnalysis* analysis, const Variable* keys,
                  size_t count, Variable value, ScopeTarget target);

/// Runs a line prepared as AssignmentForm::OneElement (name[k] = e); failures leave unpositioned.
void executeOneElementAssignment(CobaltScript& engine, const ParsedScriptLine& line);
/// x op= n for an int x and an int n, in place; false for the operators that need more than
/// the wrapping kernels (and for an x that holds no int).
inline bool applyIntCompound(Variable& target, char op, int32_t right)
{
    int32_t* value = target.type == VarType::Int ? std::get_if<int32_t>(&target.value) : nullptr;
    if (value == nullptr) return false;
    switch (op) {
    case '+': *value = wrappingAdd(*value, right); return true;
    case '-': *value = wrappingSubtract(*value, right); return true;
    case '*': *value = wrappingMultiply(*value, right); return true;
    default: return false;
    }
}
/// Runs a line prepared as AssignmentForm::Compound (x op= e, x[k] op= e) with the operator
/// byte `op`; failures leave unpositioned.
void executeCompoundAssignment(CobaltScript& engine, const ParsedScriptLine& line, char op);

} // namespace cobalt
