#pragma once
// A fast function body evaluated on the pure paths with its arguments read where they live:
// a call whose arguments are all names (combine(x, y, z)) binds its parameters straight from
// the caller's variables, with no argument values built in between.

#include <cstddef>

#include "engine/cobalt_script.h"

namespace cobalt {

/// What CobaltScript::tryEvaluateFastCallableScalar decides, the argument at position i being
/// `*args[i]`. The arguments must stay where they are until the call returns: nothing may run
/// between reading them and this call.
bool tryEvaluateFastBodyScalarInPlace(CobaltScript& engine, const ScriptCallable& function,
                                      const Variable* const* args, size_t count, FastScalarValue& out);

} // namespace cobalt
