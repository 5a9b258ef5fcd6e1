#pragma once
// `cobalt --check`: compiles a script without running it, for editors and CI. The first
// compile error is reported exactly as a run would report it (same text, exit status 1);
// a script that compiles prints nothing and exits with 0.

#include <string>

namespace cobalt::cli {

/// Checks the script file at `path`; returns the exit status.
int checkScriptFile(const std::string& path);

/// Checks the script text on standard input (chunk name "stdin"); returns the exit status.
int checkStandardInput();

} // namespace cobalt::cli
