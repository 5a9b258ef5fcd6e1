#pragma once
// Entry points of the expression paths that the fast function bodies use (fast_callable.cpp):
// the ones that let a call skip work whose outcome the body's shape already tells.

#include <cstddef>

#include "engine/cobalt_script.h"

namespace cobalt {

/// What CobaltScript::tryEvaluateFastCallableScalar decides, the argument at position i being
/// `*args[i]`: a call whose arguments are all names (combine(x, y, z)) binds its parameters
/// straight from the caller's variables. The arguments must stay where they are until the
/// call returns: nothing may run between reading them and this call.
bool tryEvaluateFastBodyScalarInPlace(CobaltScript& engine, const ScriptCallable& function,
                                      const Variable* const* args, size_t count, FastScalarValue& out);

/// What CobaltScript::evaluateFastExpression gives for a return line's expression, without
/// the general entry's look for a flat form where the expression has none.
Variable evaluateFastBodyReturn(CobaltScript& engine, const FastExpression& expression, const ParsedScriptLine& line);

} // namespace cobalt
