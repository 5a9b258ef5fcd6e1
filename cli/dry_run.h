#pragma once
// `cobalt --dry-run`: runs a script with the bot API installed over a host that records every
// request on standard output instead of sending it.

#include <string>

namespace cobalt::cli {

struct DryRunOptions {
    std::string scriptPath;
    std::string responsesPath;  // empty: every call answers with the empty response
};

/// Runs the script; returns the process exit status (0 finished, 1 failed with the error text
/// on standard error, as for a plain run).
int runDryRun(const DryRunOptions& options);

} // namespace cobalt::cli
