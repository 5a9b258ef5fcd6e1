// `cobalt --dry-run`: the script runs through the embedding C interface, exactly as the desktop
// host runs it, but over a host that records every call on standard output instead of sending
// it and answers from a responses file (or with the empty response, the absent value).

#include "cli/dry_run.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/large_stack.h"
#include "engine/embed/quill_script.h"

namespace cobalt::cli {
namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

/// Deeper responses are refused when the file is read: writing a response back out as text
/// recurses once per level, and no test needs more than a few hundred.
constexpr int kResponseDepthLimit = 1000;

/// Endpoint, file path or URL to the compact JSON text answered for it.
using Responses = std::map<std::string, std::string, std::less<>>;

void writeText(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
}

char* mallocCopy(std::string_view text)
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy) return nullptr;
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

int32_t answer(void* context, const char* kind, const char* target, const char* json, char** response)
{
    writeText(std::string(kind) + " " + target + " " + json + "\n");
    const auto& responses = *static_cast<const Responses*>(context);
    const auto found = responses.find(std::string_view(target));
    *response = mallocCopy(found == responses.end() ? std::string_view() : std::string_view(found->second));
    return *response ? 1 : 0;
}

void onLog(void*, const char* message)
{
    writeText(std::string(message) + "\n");
}

int32_t onRequest(void* context, const char* endpoint, const char* json, char** response, char**)
{
    return answer(context, "REQUEST", endpoint, json, response);
}

int32_t onUpload(void* context, const char* path, const char* json, char** response, char**)
{
    return answer(context, "UPLOAD", path, json, response);
}

int32_t onHTTP(void* context, const char* url, const char* json, char** response, char**)
{
    return answer(context, "HTTP", url, json, response);
}

/// Reads the responses file; on failure returns nothing and sets `problem`.
std::optional<Responses> loadResponses(const std::string& path, std::string& problem)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    if (!file || !(text << file.rdbuf())) {
        problem = "cannot read the responses file " + path;
        return std::nullopt;
    }
    using Json = nlohmann::json;
    bool tooDeep = false;
    const Json::parser_callback_t limitDepth = [&tooDeep](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) &&
            depth > kResponseDepthLimit) {
            tooDeep = true;
            return false;
        }
        return true;
    };
    Json document;
    try {
        document = Json::parse(text.str(), limitDepth);
    } catch (const Json::exception& error) {
        problem = "the responses file " + path + " is not valid JSON: " + error.what();
        return std::nullopt;
    }
    if (tooDeep) {
        problem = "the responses file " + path + " nests deeper than " + std::to_string(kResponseDepthLimit) +
                  " levels";
        return std::nullopt;
    }
    if (!document.is_object()) {
        problem = "the responses file " + path + " must hold a JSON object (endpoint, path or URL to response)";
        return std::nullopt;
    }
    Responses responses;
    for (const auto& [target, response] : document.items()) responses.emplace(target, response.dump());
    return responses;
}

struct DryRun {
    std::string scriptPath;
    Responses responses;
    int status = 0;
    std::string errorText;
};

void runScript(DryRun& run)
{
    QuillScriptRuntime* runtime = quill_script_runtime_create(&run.responses, onLog, onRequest, onUpload, onHTTP);
    if (!runtime) {
        run.status = kExitFailed;
        run.errorText = "cobalt: could not create a script runtime";
        return;
    }
    char* error = nullptr;
    const int32_t result = quill_script_runtime_run(runtime, run.scriptPath.c_str(), &error);
    quill_script_runtime_destroy(runtime);
    if (result == QUILL_SCRIPT_FINISHED) {
        run.status = 0;
    } else {
        run.status = kExitFailed;
        run.errorText = error ? error : "CobaltScript failed with an unknown error";
    }
    quill_script_free_string(error);
}

} // namespace

int runDryRun(const DryRunOptions& options)
{
    DryRun run;
    run.scriptPath = options.scriptPath;
    if (!options.responsesPath.empty()) {
        std::string problem;
        std::optional<Responses> responses = loadResponses(options.responsesPath, problem);
        if (!responses) {
            std::fprintf(stderr, "cobalt: %s\n", problem.c_str());
            return kExitUsage;
        }
        run.responses = std::move(*responses);
    }

    runOnLargeStack([&run] { runScript(run); });
    std::fflush(stdout);
    if (run.status != 0) {
        if (run.errorText.empty() || run.errorText.back() != '\n') run.errorText.push_back('\n');
        std::fwrite(run.errorText.data(), 1, run.errorText.size(), stderr);
        std::fflush(stderr);
    }
    return run.status;
}

} // namespace cobalt::cli
