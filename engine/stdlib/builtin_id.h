#pragma once
// Numeric identifiers of the builtins the interpreter may call directly, without building an
// argument list or going through a function object. The id is fixed when the function value
// is made, from its full name.

#include <cstdint>
#include <string_view>

namespace cobalt {

#define COBALT_BUILTIN_IDS(X)                                                                     \
    X(Assert, 1, "assert") X(GetTimeMs, 2, "getTimeMs") X(ToString, 3, "toString")                \
    X(ToNumber, 4, "toNumber") X(Error, 5, "error") X(Pcall, 6, "pcall") X(Load, 7, "load")        \
    X(Pairs, 8, "pairs") X(Ipairs, 9, "ipairs") X(Next, 10, "next") X(Select, 11, "select")        \
    X(CollectGarbage, 12, "collectGarbage") X(Len, 13, "len") X(StringLen, 14, "string.len")      \
    X(StringUpper, 15, "string.upper") X(StringSub, 16, "string.sub")                             \
    X(StringFind, 17, "string.find") X(StringMatch, 18, "string.match")                           \
    X(StringGmatch, 19, "string.gmatch") X(StringByte, 20, "string.byte")                         \
    X(StringFormat, 21, "string.format") X(StringGsub, 22, "string.gsub")                         \
    X(TableInsert, 23, "table.insert") X(TableRemove, 24, "table.remove")                         \
    X(TableConcat, 25, "table.concat") X(TableSort, 26, "table.sort")                             \
    X(MathFloor, 27, "math.floor") X(MathCeil, 28, "math.ceil") X(MathAbs, 29, "math.abs")        \
    X(MathMin, 30, "math.min") X(MathMax, 31, "math.max") X(MathSin, 32, "math.sin")               \
    X(MathCos, 33, "math.cos") X(MathRad, 34, "math.rad") X(MathLog, 35, "math.log")               \
    X(MathSqrt, 36, "math.sqrt") X(Utf8Len, 37, "utf8.len")

enum class BuiltinId : uint8_t {
    None = 0,
#define COBALT_BUILTIN_ENUM(name, id, text) name = id,
    COBALT_BUILTIN_IDS(COBALT_BUILTIN_ENUM)
#undef COBALT_BUILTIN_ENUM
};

inline constexpr uint8_t kMaxBuiltinId = 37;

/// Maps a full builtin name ("string.len") to its id; every other name gives None.
BuiltinId builtinIdFromName(std::string_view name);

} // namespace cobalt
