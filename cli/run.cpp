#include "cli/run.h"

#include <string>

#include "cli/script_run.h"

namespace cobalt::cli {

int runScriptFile(const std::string& path)
{
    return runWithEngine([&](CobaltScript& engine) { return runFile(engine, path); });
}

int runStandardInput()
{
    std::string text;
    if (std::string failure = readStandardInput(text); !failure.empty()) {
        reportFailure(stderr, std::move(failure));
        return kExitFailed;
    }
    return runWithEngine([&](CobaltScript& engine) {
        const LoadedChunk chunk = loadTextChunk(engine, text, kStdinChunkName);
        if (!chunk.loaded()) return chunk.errorText;
        return callChunk(engine, chunk.function, kStdinChunkName);
    });
}

} // namespace cobalt::cli
