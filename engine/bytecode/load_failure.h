#pragma once
// Where a script failed to load or compile, kept so that a host can show the failure of its
// main script in the same layout as every other script error.

#include <cstdint>
#include <string>
#include <string_view>

namespace cobalt {

class CobaltScript;

struct LoadFailure {
    std::string message;     // the bare message that load/loadFile handed back
    std::string path;        // resolved path, or the chunk name given to load
    uint64_t line = UINT64_MAX;  // 0-based statement line, UINT64_MAX when unknown
    std::string sourceText;  // the failing statement, when known
    std::string nearToken;

    bool hasLine() const { return line != UINT64_MAX; }
};

/// The error text layout for a failure that carries no position of its own:
///   CobaltScript error: <message>
///     at <script>[:<line>][, near token '<token>']
///     <statement>
///     <caret under the token>
///     hint: ...
/// `line` is 0-based (printed plus one); UINT64_MAX leaves the line out.
std::string formatScriptFailure(std::string_view message, std::string_view script, uint64_t line,
                                std::string_view sourceText, std::string_view nearToken);

/// The text a host shows for a failure of the script it ran at `path`. Errors raised while the
/// script ran already carry their position; a script that could not be read or compiled is put
/// into the same layout, with the line when the loader knows it.
std::string describeRunFailure(const CobaltScript& engine, const std::string& message, const std::string& path);

} // namespace cobalt
