#pragma once
// How bot functions read their positional arguments. A missing argument and the absent value
// count alike as "not given"; every check fails with a message that names the argument, so a
// script author sees which one was wrong.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/stdlib/script_callable.h"
#include "engine/value/variable.h"

namespace cobalt::bot {

/// The argument at `index`, or null when it is missing or the absent value.
const Variable* givenArgument(NativeArgs args, size_t index);

/// A required string: fails with "<name> must be a string".
const std::string& stringArgument(NativeArgs args, size_t index, const char* name);

/// A required string that travels to the host as a C text (endpoint, file path, URL): besides
/// being a string it must be valid UTF-8 without NUL bytes, or the host would see another text.
const std::string& hostTextArgument(NativeArgs args, size_t index, const char* name);

/// An optional integer: `fallback` when not given, ints as they are, floats truncated toward
/// zero; anything else fails with "<name> must be a number".
int32_t integerArgument(NativeArgs args, size_t index, const char* name, int32_t fallback);

/// "limit": an optional integer defaulting to 20, clamped to 1..100.
int32_t limitArgument(NativeArgs args, size_t index);

/// A fresh table: empty when not given, else a copy of the given table's entries (the script's
/// own table is never changed). Anything else fails with "options must be a table".
Variable tableOptions(NativeArgs args, size_t index);

/// "public" when not given; otherwise exactly "public", "home" or "followers".
std::string optionalVisibility(NativeArgs args, size_t index);

/// Writes `value` under `key` into a body table made by tableOptions (or Variable::makeTable).
void setField(Variable& body, const char* key, Variable value);

} // namespace cobalt::bot
