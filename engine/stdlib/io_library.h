#pragma once
// The `io` table: io.open and io.popen, each giving a file object (a table with `read`,
// `write` and `close` bound to one stream handle), or the absent value when the file or
// process cannot be opened.

#include <cstddef>

#include "engine/value/variable.h"

namespace cobalt {

class CobaltScript;

namespace builtins {

Variable ioOpen(CobaltScript& engine, const Variable* args, size_t count);
Variable ioPopen(CobaltScript& engine, const Variable* args, size_t count);

Variable makeIoLibrary(CobaltScript& engine);

} // namespace builtins
} // namespace cobalt
