#include "cli/check.h"

#include <string>

#include "cli/script_run.h"

namespace cobalt::cli {

int checkScriptFile(const std::string& path)
{
    return runWithEngine([&](CobaltScript& engine) { return loadFileChunk(engine, path).errorText; });
}

int checkStandardInput()
{
    std::string text;
    if (std::string failure = readStandardInput(text); !failure.empty()) {
        reportFailure(stderr, std::move(failure));
        return kExitFailed;
    }
    return runWithEngine(
        [&](CobaltScript& engine) { return loadTextChunk(engine, text, kStdinChunkName).errorText; });
}

} // namespace cobalt::cli
