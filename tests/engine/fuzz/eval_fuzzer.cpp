// Fuzz target for running scripts: arbitrary text goes the road every script takes (compile,
// wrap chunk 0 in a function, call it) on a fresh engine. Inputs that could run for ever are
// turned away before they reach the engine: any text containing a loop or function keyword,
// or a builtin that loads more code, jumps or reaches files, is skipped, so every accepted
// input runs each statement at most once. A script failure must arrive as an exception;
// anything else (a crash, a sanitizer report, a leak, a hang) is a finding.

#include "tests/engine/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text = quill_fuzz::textOf(data, size);
    if (quill_fuzz::mayRunUnbounded(text)) return -1;  // keep it out of the corpus
    quill_fuzz::runOnLargeStack([&text] {
        quill_fuzz::QuietEngine engine;
        quill_fuzz::runScriptText(engine, text);
    });
    return 0;
}
