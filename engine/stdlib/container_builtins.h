#pragma once
// The container functions: the globals that create, grow, shrink and search arrays and
// tables, and the `table` library (insert, remove, concat, sort). Like the core builtins
// each takes the argument array directly, so the dispatcher can call the library ones by id.

#include <cstddef>

#include "engine/value/variable.h"

namespace cobalt {

class CobaltScript;

namespace builtins {

// Globals
Variable newArray(CobaltScript& engine, const Variable* args, size_t count);
Variable push(CobaltScript& engine, const Variable* args, size_t count);
Variable pop(CobaltScript& engine, const Variable* args, size_t count);
Variable reserve(CobaltScript& engine, const Variable* args, size_t count);
Variable get(CobaltScript& engine, const Variable* args, size_t count);
Variable set(CobaltScript& engine, const Variable* args, size_t count);
Variable clear(CobaltScript& engine, const Variable* args, size_t count);
Variable erase(CobaltScript& engine, const Variable* args, size_t count);
Variable contains(CobaltScript& engine, const Variable* args, size_t count);
Variable keys(CobaltScript& engine, const Variable* args, size_t count);
Variable values(CobaltScript& engine, const Variable* args, size_t count);

// The `table` library
Variable tableInsert(CobaltScript& engine, const Variable* args, size_t count);
Variable tableRemove(CobaltScript& engine, const Variable* args, size_t count);
Variable tableConcat(CobaltScript& engine, const Variable* args, size_t count);
Variable tableSort(CobaltScript& engine, const Variable* args, size_t count);

} // namespace builtins
} // namespace cobalt
