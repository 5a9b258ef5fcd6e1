#pragma once
// The interactive prompt: `cobalt` with no script while standard input is a terminal.
// Each complete input (a statement, or a block once its "end" arrives) is compiled and run
// at once in one engine kept for the whole session, so globals persist from one input to
// the next. A failure is shown and the session goes on; end of input ends it.

#include <cstdio>

namespace cobalt::cli {

/// Prompt before a new input.
inline constexpr const char* kPrompt = "> ";
/// Prompt while an input goes on (an open block, bracket or string).
inline constexpr const char* kContinuationPrompt = ">> ";

/// Runs the session on the given streams (prompts and print output on `out`, error texts on
/// `err`) until `in` ends; returns the exit status, 0. Runs on the calling thread.
int runRepl(std::FILE* in, std::FILE* out, std::FILE* err);

/// Runs the session on the standard streams, on the large-stack thread.
int runInteractive();

} // namespace cobalt::cli
