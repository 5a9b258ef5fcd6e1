#pragma once
// Building a library table (`math`, `io`, `os`, ...): a table whose entries are native
// function values named "<table>.<key>", so that a name with a builtin id keeps it.

#include <initializer_list>
#include <string_view>

#include "engine/stdlib/core_builtins.h"
#include "engine/stdlib/script_callable.h"
#include "engine/value/variable.h"

namespace cobalt {

/// A native function object that runs `body` on this engine with the call's arguments.
NativeFunction bindBuiltin(CobaltScript& engine, builtins::Body body);

struct LibraryEntry {
    const char* key;
    builtins::Body body;
};

/// A new table holding one function value per entry, made in the order given.
Variable makeLibraryTable(CobaltScript& engine, std::string_view tableName, std::initializer_list<LibraryEntry> entries);

} // namespace cobalt
