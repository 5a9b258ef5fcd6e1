// Fuzz target for running scripts: arbitrary text goes the road every script takes (compile,
// wrap chunk 0 in a function, call it) on a fresh engine. Inputs that could run for ever are
// turned away before they reach the engine: any text containing a loop or function keyword,
// or a builtin that loads more code or jumps, is skipped, so every accepted input runs each
// statement at most once. A script failure must arrive as an exception; anything else (a
// crash, a sanitizer report, a leak, a hang) is a finding.

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "engine/cobalt_script.h"
#include "tests/engine/fuzz/large_stack.h"
#include "tests/engine/fuzz/run_script_text.h"

namespace {

// Plain substring tests: they also turn away harmless texts such as "format" or "forest",
// which costs a little coverage but keeps the filter obviously complete.
// The snapshot functions are turned away too: given a path they write or read files.
constexpr std::array<std::string_view, 10> kUnboundedWords = {
    "while", "repeat", "for", "function", "jumpTo", "load", "runFile", "nest", "exportState", "importState",
};

bool mayRunUnbounded(std::string_view text)
{
    for (std::string_view word : kUnboundedWords) {
        if (text.find(word) != std::string_view::npos) return true;
    }
    return false;
}

void runText(const std::string& text)
{
    cobalt::CobaltScript engine;
    engine.printHandler = [](std::string_view) {};
    quill_fuzz::runScriptText(engine, text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (mayRunUnbounded(text)) return -1;  // keep it out of the corpus
    quill_fuzz::runOnLargeStack([&text] { runText(text); });
    return 0;
}
