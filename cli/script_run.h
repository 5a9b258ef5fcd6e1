#pragma once
// The pieces every `cobalt` mode shares: loading a script file or a text into the engine the
// way every host does, calling it, and turning any failure into the one error text users see.

#include <cstdio>
#include <functional>
#include <string>

#include "engine/value/variable.h"

namespace cobalt {
class CobaltScript;
}

namespace cobalt::cli {

inline constexpr int kExitFinished = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

/// The chunk name of a script read from standard input, as its error texts show it.
inline constexpr const char* kStdinChunkName = "stdin";

/// Scripts handed in on standard input are held in memory whole; beyond this they are refused
/// rather than left to exhaust memory (an endless pipe, a wrong file redirected in).
inline constexpr size_t kMaxScriptTextBytes = size_t{64} * 1024 * 1024;

/// A compiled chunk, or the error text (in the usual layout) of why there is none.
struct LoadedChunk {
    Variable function;
    std::string errorText;
    bool loaded() const { return errorText.empty(); }
};

/// Resolves, reads and compiles the file at `path` without running it (the road a run takes,
/// stopping before the call), so a check reports exactly what a run would.
LoadedChunk loadFileChunk(CobaltScript& engine, const std::string& path);

/// Compiles `text` as a chunk named `name` (the name error texts show) without running it.
LoadedChunk loadTextChunk(CobaltScript& engine, const std::string& text, const std::string& name);

/// Calls a loaded chunk in the engine's top-level scope; returns the error text, or an empty
/// text when the chunk finished (whatever it returned).
std::string callChunk(CobaltScript& engine, const Variable& function, const std::string& name);

/// Runs the script at `path` (resolve, read, compile, call chunk 0); returns the error text,
/// or an empty text when it finished.
std::string runFile(CobaltScript& engine, const std::string& path);

/// The text of a failure that escaped everything else (the engine could not even be built).
std::string describeEscapedFailure();

/// Reads the whole of standard input into `out`; returns the error text when it cannot be
/// read or holds more than kMaxScriptTextBytes, else an empty text.
std::string readStandardInput(std::string& out);

/// The error text for input beyond kMaxScriptTextBytes.
std::string oversizedInputText();

/// Builds a bare engine on the large-stack thread and runs `task` with it; the error text the
/// task returns (or that of any failure escaping it) goes to standard error. Returns the exit
/// status: 0 for an empty error text, else 1.
int runWithEngine(const std::function<std::string(CobaltScript&)>& task);

/// Writes an error text to `stream` so that it ends with exactly one line feed. Standard output
/// is flushed first, so what the script printed before its failure stays before it.
void reportFailure(std::FILE* stream, std::string errorText);

} // namespace cobalt::cli
