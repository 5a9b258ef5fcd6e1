// cobalt: runs CobaltScript in a bare engine (only the engine's own builtins).
//
//   cobalt SCRIPT.cbs                               run the script
//   cobalt --check SCRIPT.cbs|-                     compile only, report the first error
//   cobalt --dry-run [--responses FILE] SCRIPT.cbs  run with the bot API recording its requests
//   cobalt [-]                                      the script on standard input; with no
//                                                   argument and a terminal there, a prompt
//   cobalt --help, -h                               usage on standard output, exit status 0
//
// Exit status 0 when the script finishes (or checks clean), 1 when it fails (its error text
// goes to standard error), 2 for a usage error (usage on standard error).

#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <clocale>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "cli/check.h"
#include "cli/dry_run.h"
#include "cli/repl.h"
#include "cli/run.h"
#include "cli/script_run.h"

namespace {

using namespace cobalt::cli;

constexpr std::string_view kStandardInputArgument = "-";

void printUsage(FILE* out)
{
    std::fputs("usage: cobalt SCRIPT.cbs\n"
               "       cobalt --check SCRIPT.cbs|-\n"
               "       cobalt --dry-run [--responses FILE] SCRIPT.cbs\n"
               "       cobalt [-]\n"
               "       cobalt --help\n"
               "\n"
               "Runs a CobaltScript file. print writes to standard output. When the script fails,\n"
               "its error text goes to standard error and the exit status is 1; a script that\n"
               "finishes exits with status 0. Usage errors exit with status 2.\n"
               "\n"
               "  --check      compile the script without running it; report the first error\n"
               "               as a run would (exit status 1), or print nothing (exit status 0)\n"
               "  --dry-run    run the script with the bot API answering from a recording host\n"
               "               that prints every request instead of sending it\n"
               "  --responses FILE\n"
               "               (with --dry-run) the answers the recording host gives\n"
               "  -            read the script from standard input (also --check -)\n"
               "\n"
               "Without a script, cobalt reads the script from standard input; when that is a\n"
               "terminal it starts an interactive prompt instead (end it with Ctrl-D).\n",
               out);
}

enum class Mode { Run, Check, DryRun };

struct Command {
    Mode mode = Mode::Run;
    std::optional<std::string> script;  // none: standard input
    std::optional<std::string> responses;
    bool help = false;
};

/// Reads the arguments; nullopt for a usage error.
std::optional<Command> parseArguments(int argc, char** argv)
{
    Command command;
    bool modeGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if ((argument == "--help" || argument == "-h") && argc == 2) {
            command.help = true;
            return command;
        }
        if (argument == "--check" || argument == "--dry-run") {
            if (modeGiven) return std::nullopt;
            modeGiven = true;
            command.mode = argument == "--check" ? Mode::Check : Mode::DryRun;
            continue;
        }
        if (argument == "--responses") {
            if (command.responses || i + 1 >= argc || argv[i + 1][0] == '\0') return std::nullopt;
            command.responses = argv[++i];
            continue;
        }
        if (argument.empty() || (argument.front() == '-' && argument != kStandardInputArgument)) return std::nullopt;
        if (command.script) return std::nullopt;
        command.script = std::string(argument);
    }
    if (command.responses && command.mode != Mode::DryRun) return std::nullopt;
    // A check names what it checks ("-" for standard input); the recording host reads its
    // script from a file.
    if (command.mode == Mode::Check && !command.script) return std::nullopt;
    if (command.mode == Mode::DryRun && (!command.script || *command.script == kStandardInputArgument)) {
        return std::nullopt;
    }
    if (command.script && *command.script == kStandardInputArgument) command.script.reset();
    return command;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Command> command = parseArguments(argc, argv);
    if (!command) {
        printUsage(stderr);
        return kExitUsage;
    }
    if (command->help) {
        printUsage(stdout);
        return kExitFinished;
    }

    // Take the user's locale as a desktop host does: the engine writes and reads numbers the
    // same way under every locale.
    std::setlocale(LC_ALL, "");

#if defined(__GLIBC__)
    // A script that builds large arrays round after round would otherwise have each one mapped
    // afresh, or the heap's top handed back to the system when they go, and pay for every page
    // again (as much system time as the script's own). Blocks up to 512 KiB come from the
    // heap, and the process keeps what it freed for the next round, at the price of a somewhat
    // higher peak of resident memory.
    mallopt(M_MMAP_THRESHOLD, 512 << 10);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif

    switch (command->mode) {
    case Mode::Check: return command->script ? checkScriptFile(*command->script) : checkStandardInput();
    case Mode::DryRun: {
        DryRunOptions options;
        options.scriptPath = *command->script;
        options.responsesPath = command->responses.value_or(std::string());
        return runDryRun(options);
    }
    case Mode::Run: break;
    }
    if (command->script) return runScriptFile(*command->script);
    // With no script at all, a person at a terminal gets a prompt; `cobalt -` always reads a
    // whole script, as does a pipe or a redirected file.
    if (argc == 1 && ::isatty(STDIN_FILENO) == 1) return runInteractive();
    return runStandardInput();
}
