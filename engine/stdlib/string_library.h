#pragma once
// The `string` and `utf8` library tables and the global `gsub`. Strings are byte strings:
// every index counts bytes, 1-based; only the two utf8 functions look at UTF-8 structure.
// Each builtin takes the argument array directly so the dispatcher can call it by id.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/value/variable.h"

namespace cobalt {

class CobaltScript;

namespace builtins {

/// Largest string a library function builds from script values (repetitions, widths,
/// replacements): asking for more fails with a script error instead of exhausting memory.
inline constexpr size_t kMaxStringResultBytes = size_t{256} << 20;
/// Fails with "<function>: result would be larger than 256 MiB" when `size` is over the cap.
void checkStringResultSize(size_t size, const char* function);

Variable stringLen(CobaltScript& engine, const Variable* args, size_t count);
Variable stringUpper(CobaltScript& engine, const Variable* args, size_t count);
Variable stringLower(CobaltScript& engine, const Variable* args, size_t count);
Variable stringSub(CobaltScript& engine, const Variable* args, size_t count);
Variable stringByte(CobaltScript& engine, const Variable* args, size_t count);
Variable stringChar(CobaltScript& engine, const Variable* args, size_t count);
Variable stringRep(CobaltScript& engine, const Variable* args, size_t count);
Variable stringFormat(CobaltScript& engine, const Variable* args, size_t count);
Variable stringFind(CobaltScript& engine, const Variable* args, size_t count);
Variable stringMatch(CobaltScript& engine, const Variable* args, size_t count);
Variable stringGmatch(CobaltScript& engine, const Variable* args, size_t count);
/// `string.gsub` and the global `gsub`.
Variable stringGsub(CobaltScript& engine, const Variable* args, size_t count);
Variable utf8Len(CobaltScript& engine, const Variable* args, size_t count);
Variable utf8Offset(CobaltScript& engine, const Variable* args, size_t count);

/// The bytes `string.byte` would read, as 0-based offsets [first, last), with its argument
/// checks. False when the subject is empty (the result is then the absent value).
struct ByteRange {
    size_t first = 0;
    size_t last = 0;
};
bool stringByteRange(const Variable* args, size_t count, ByteRange& out);

/// The library tables, entries in their registration order.
Variable makeStringLibrary(CobaltScript& engine);
Variable makeUtf8Library(CobaltScript& engine);

} // namespace builtins
} // namespace cobalt
