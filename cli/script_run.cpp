#include "cli/script_run.h"

#include <exception>
#include <string>
#include <vector>

#include "cli/large_stack.h"
#include "engine/bytecode/load_failure.h"
#include "engine/cobalt_script.h"

namespace cobalt::cli {

namespace {

constexpr const char* kUnknownFailure = "CobaltScript failed with an unknown error";
constexpr const char* kLoadFailedFallback = "Failed to load script file";

/// The loaders hand back (absent value, message) instead of throwing; anything else is the
/// chunk's function.
LoadedChunk fromLoaderResult(const CobaltScript& engine, Variable result, const std::string& name)
{
    LoadedChunk chunk;
    if (result.type == VarType::Multi && result.asMulti()) {
        const std::vector<Variable>& values = result.asMulti()->values;
        if (!values.empty() && values[0].isNot()) {
            const bool hasMessage = values.size() > 1 && values[1].type == VarType::String;
            chunk.errorText =
                describeRunFailure(engine, hasMessage ? values[1].asString() : kLoadFailedFallback, name);
            return chunk;
        }
    }
    chunk.function = std::move(result);
    return chunk;
}

/// The text for the exception being handled; call only from inside a catch block.
std::string describeCurrentFailure(const CobaltScript& engine, const std::string& name)
{
    try {
        throw;
    } catch (const std::exception& failure) {
        return describeRunFailure(engine, failure.what(), name);
    } catch (...) {
        return kUnknownFailure;
    }
}

} // namespace

LoadedChunk loadFileChunk(CobaltScript& engine, const std::string& path)
{
    try {
        const Variable argument(path);
        return fromLoaderResult(engine, engine.loadScriptFile(NativeArgs(&argument, 1)), path);
    } catch (...) {
        return LoadedChunk{Variable(), describeCurrentFailure(engine, path)};
    }
}

LoadedChunk loadTextChunk(CobaltScript& engine, const std::string& text, const std::string& name)
{
    try {
        const Variable arguments[] = {Variable(text), Variable(name)};
        return fromLoaderResult(engine, engine.loadScriptChunk(NativeArgs(arguments, 2)), name);
    } catch (...) {
        return LoadedChunk{Variable(), describeCurrentFailure(engine, name)};
    }
}

std::string callChunk(CobaltScript& engine, const Variable& function, const std::string& name)
{
    try {
        engine.invokeCallableFast(function, nullptr, 0);
        return {};
    } catch (...) {
        return describeCurrentFailure(engine, name);
    }
}

std::string runFile(CobaltScript& engine, const std::string& path)
{
    try {
        engine.runScriptFilePath(path);
        return {};
    } catch (...) {
        return describeCurrentFailure(engine, path);
    }
}

std::string describeEscapedFailure()
{
    try {
        throw;
    } catch (const std::exception& failure) {
        return failure.what()[0] != '\0' ? failure.what() : kUnknownFailure;
    } catch (...) {
        return kUnknownFailure;
    }
}

std::string readStandardInput(std::string& out)
{
    out.clear();
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
        if (got > kMaxScriptTextBytes - out.size()) {
            return oversizedInputText();
        }
        out.append(buffer, got);
    }
    if (std::ferror(stdin)) {
        return formatScriptFailure("Failed to read standard input", kStdinChunkName, UINT64_MAX, "", "");
    }
    return {};
}

std::string oversizedInputText()
{
    return formatScriptFailure("Script text on standard input is larger than " +
                                   std::to_string(kMaxScriptTextBytes / (1024 * 1024)) + " MiB",
                               kStdinChunkName, UINT64_MAX, "", "");
}

int runWithEngine(const std::function<std::string(CobaltScript&)>& task)
{
    std::string errorText;
    try {
        runOnLargeStack([&] {
            try {
                CobaltScript engine;
                errorText = task(engine);
            } catch (...) {
                errorText = describeEscapedFailure();
            }
        });
    } catch (...) {
        errorText = describeEscapedFailure();
    }
    std::fflush(stdout);
    if (errorText.empty()) return kExitFinished;
    reportFailure(stderr, std::move(errorText));
    return kExitFailed;
}

void reportFailure(std::FILE* stream, std::string errorText)
{
    std::fflush(stdout);
    if (errorText.empty() || errorText.back() != '\n') errorText.push_back('\n');
    std::fwrite(errorText.data(), 1, errorText.size(), stream);
    std::fflush(stream);
}

} // namespace cobalt::cli
