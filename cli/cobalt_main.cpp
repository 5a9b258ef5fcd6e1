// cobalt: runs one CobaltScript file in a bare engine.
//
//   cobalt SCRIPT.cbs   run the script; print writes to standard output. Exit status 0 when
//                       it finishes, 1 when it fails (the error text goes to standard error)
//   cobalt --help, -h   usage on standard output, exit status 0
//   anything else       usage on standard error, exit status 2
//
// The engine runs on a thread of its own with a large stack (512 MiB), so that ordinary deeply
// recursive scripts run and runaway ones meet the engine's own recursion limit.

#include <pthread.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "cli/dry_run.h"
#include "engine/bytecode/load_failure.h"
#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define COBALT_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define COBALT_ADDRESS_SANITIZER 1
#endif
#endif

#ifdef COBALT_ADDRESS_SANITIZER
// AddressSanitizer cannot clean up after an exception thrown from deeper than 64 MiB of stack,
// which a script that recurses until the engine's limit would reach on a larger stack.
constexpr size_t kEngineStackBytes = size_t{60} * 1024 * 1024;
#else
constexpr size_t kEngineStackBytes = size_t{512} * 1024 * 1024;
#endif
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr const char* kUnknownFailure = "CobaltScript failed with an unknown error";

void printUsage(FILE* out)
{
    std::fputs("usage: cobalt SCRIPT.cbs\n"
               "       cobalt --dry-run [--responses FILE] SCRIPT.cbs\n"
               "       cobalt --help\n"
               "\n"
               "Runs a CobaltScript file. print writes to standard output. When the script fails,\n"
               "its error text goes to standard error and the exit status is 1; a script that\n"
               "finishes exits with status 0. Usage errors exit with status 2.\n",
               out);
}

struct ScriptRun {
    std::string path;
    int status = 0;
    std::string errorText;
};

void runScript(ScriptRun& run)
{
    try {
        cobalt::CobaltScript engine;
        try {
            engine.runScriptFilePath(run.path);
            run.status = 0;
        } catch (const std::exception& failure) {
            run.errorText = cobalt::describeRunFailure(engine, failure.what(), run.path);
            run.status = kExitFailed;
        } catch (...) {
            run.errorText = kUnknownFailure;
            run.status = kExitFailed;
        }
    } catch (const std::exception& failure) {
        run.errorText = failure.what()[0] != '\0' ? failure.what() : kUnknownFailure;
        run.status = kExitFailed;
    } catch (...) {
        run.errorText = kUnknownFailure;
        run.status = kExitFailed;
    }
}

void* runScriptThread(void* argument)
{
    runScript(*static_cast<ScriptRun*>(argument));
    return nullptr;
}

/// Runs the script on a thread with a large stack; on a system that refuses such a thread
/// the script runs here instead (the engine measures whatever stack it gets).
void runOnLargeStack(ScriptRun& run)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) == 0) {
        pthread_t thread;
        const bool started = pthread_attr_setstacksize(&attributes, kEngineStackBytes) == 0 &&
                             pthread_create(&thread, &attributes, &runScriptThread, &run) == 0;
        pthread_attr_destroy(&attributes);
        if (started) {
            pthread_join(thread, nullptr);
            return;
        }
    }
    runScript(run);
}

/// cobalt --dry-run [--responses FILE] SCRIPT.cbs
int dryRunMain(int argc, char** argv)
{
    cobalt::cli::DryRunOptions options;
    int next = 2;
    if (argc == 5 && std::string_view(argv[2]) == "--responses") {
        options.responsesPath = argv[3];
        next = 4;
    }
    if (next != argc - 1 || argv[next][0] == '\0' || argv[next][0] == '-' || argv[next - 1][0] == '\0') {
        printUsage(stderr);
        return kExitUsage;
    }
    options.scriptPath = argv[next];
    std::setlocale(LC_ALL, "");
    return cobalt::cli::runDryRun(options);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string_view(argv[1]) == "--dry-run") return dryRunMain(argc, argv);
    if (argc != 2) {
        printUsage(stderr);
        return kExitUsage;
    }
    const std::string_view argument = argv[1];
    if (argument == "--help" || argument == "-h") {
        printUsage(stdout);
        return 0;
    }
    if (argument.empty() || argument.front() == '-') {
        printUsage(stderr);
        return kExitUsage;
    }

    // Take the user's locale as a desktop host does: the engine writes and reads numbers the
    // same way under every locale.
    std::setlocale(LC_ALL, "");

    ScriptRun run;
    run.path = std::string(argument);
    runOnLargeStack(run);
    std::fflush(stdout);
    if (run.status != 0) {
        if (run.errorText.empty() || run.errorText.back() != '\n') run.errorText.push_back('\n');
        std::fwrite(run.errorText.data(), 1, run.errorText.size(), stderr);
        std::fflush(stderr);
    }
    return run.status;
}
