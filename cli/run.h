#pragma once
// Running a whole script: a file named on the command line, or the text on standard input.
// print writes to standard output; a failure's error text goes to standard error.

#include <string>

namespace cobalt::cli {

/// Runs the script file at `path` the way every host does; returns the exit status (0 when it
/// finished, whatever it returned; 1 when it failed).
int runScriptFile(const std::string& path);

/// Reads standard input to its end and runs it as a script named "stdin"; returns the exit
/// status as runScriptFile does.
int runStandardInput();

} // namespace cobalt::cli
