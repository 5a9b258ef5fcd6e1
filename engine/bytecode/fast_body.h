#pragma once
// Entry points of the expression paths that the fast function bodies use (fast_callable.cpp):
// the ones that let a call skip work whose outcome the body's shape already tells.

#include <cstddef>
#include <cstdint>

#include "engine/cobalt_script.h"

namespace cobalt {

/// What CobaltScript::tryEvaluateFastCallableScalar decides, the argument at position i being
/// `*args[i]`: a call whose arguments are all names (combine(x, y, z)) binds its parameters
/// straight from the caller's variables. The arguments must stay where they are until the
/// call returns: nothing may run between reading them and this call.
bool tryEvaluateFastBodyScalarInPlace(CobaltScript& engine, const ScriptCallable& function,
                                      const Variable* const* args, size_t count, FastScalarValue& out);

/// The lines [first, end) of a script function's body: its own list, or, for a compiled body,
/// the lines between its declaration and the declaration's `end` (found from the line of the
/// chunk's first instruction; empty lines after the declaration are not in the range). False
/// when the chunk does not tell.
bool functionBodyRange(const ScriptCallable& function, uint64_t& first, uint64_t& end);

/// What CobaltScript::evaluateFastExpression gives for a return line's expression, without
/// the general entry's look for a flat form where the expression has none.
Variable evaluateFastBodyReturn(CobaltScript& engine, const FastExpression& expression, const ParsedScriptLine& line);

} // namespace cobalt
