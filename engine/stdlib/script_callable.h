#pragma once
// The object behind a function value: a native function, or a script function whose body
// is a chunk of a compiled program or a list of parsed lines.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/bytecode/bytecode_program.h"
#include "engine/parser/parsed_script_line.h"
#include "engine/stdlib/builtin_id.h"
#include "engine/value/variable.h"

namespace cobalt {

using NativeArgs = std::span<const Variable>;
using NativeFunction = std::function<Variable(NativeArgs)>;

/// The body shapes that run without a bytecode activation (see prepareFastCallableBody):
/// one `return` line; an `if` guard that raises a literal error, then a `return`; an `if`
/// whose body is one `return`, then a `return` (the base case of a recursion).
enum class FastBodyKind : uint8_t { None = 0, SingleReturn = 1, ErrorGuard = 2, GuardedReturn = 3 };

/// Whether a function runs as an int function (engine/bytecode/int_function.h): not known
/// until its first call, then compiled, or not one (never tried again, as after too many
/// runs that gave up).
enum class IntCodeState : uint8_t { Unknown = 0, Ready = 1, None = 2 };
struct IntFunctionCode;

struct ScriptCallable {
    bool isNative = false;
    bool isCoroutine = false;
    bool isVariadic = false;
    NativeFunction native;
    std::string name;
    BuiltinId builtinId = BuiltinId::None;
    std::vector<std::string> parameters;

    ProgramRef program;
    uint32_t chunkIndex = 0;
    bool isLoadedChunk = false;

    ParsedLines bodyLines;  // parsed-line body (no program)

    std::string sourceDirectory;
    std::string sourcePath;
    uint64_t capturedScope = 0;
    // The ids of the directory and path stack entries last found to hold sourceDirectory and
    // sourcePath (SourceStack): lets a call recognise its own file on top without comparing
    // texts. 0 when none; a copy of the callable may keep them, as its texts are the same.
    mutable uint64_t directoryEntryId = 0;
    mutable uint64_t pathEntryId = 0;
    // Entry lists of this function's parameter scope, kept from its last calls with the names
    // in place and every value absent, so that a call binds its arguments without building a
    // name (see parameter_scope.h); a recursion takes one per level. The first
    // `keptParameterLists` of them are kept lists, the others are empty slots.
    mutable std::vector<std::vector<std::pair<std::string, Variable>>> spareParameters;
    mutable std::vector<uint64_t> spareParameterIds;  // the scope id of each kept list
    mutable uint32_t keptParameterLists = 0;
    // scopeNameBit of every parameter, or 0 while unknown or when two parameters share a
    // name (a list of such a function is never kept).
    mutable uint64_t parameterMask = 0;

    // Fast body (see prepareFastCallableBody): indices of the guard `if` line and the last
    // `return` line, into program->lines for compiled bodies or bodyLines otherwise.
    FastBodyKind fastBodyKind = FastBodyKind::None;
    uint32_t fastGuardLine = 0;
    uint32_t fastReturnLine = 0;
    // Whether the fast body can be evaluated on the pure scalar paths (fastBodyHasScalarForm),
    // decided once with the fast body: it depends on the function alone.
    bool fastScalarForm = false;
    // The body's int function form (engine/bytecode/int_function.h), compiled on the first
    // call; `intGiveUps` counts the runs that gave up, after a few of which it is not tried
    // again.
    mutable IntCodeState intCodeState = IntCodeState::Unknown;
    mutable uint8_t intGiveUps = 0;
    mutable std::shared_ptr<const IntFunctionCode> intCode;

    /// The lines the body indices refer to.
    const ParsedLines& lines() const { return program ? program->lines : bodyLines; }
};

} // namespace cobalt
