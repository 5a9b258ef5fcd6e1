#pragma once
// Compiles one fuzz input as a script chunk and runs it. A script failure (the stop included)
// is the expected outcome for most random texts, so it is swallowed; anything worse is the
// fuzzer's to find.

#include <exception>
#include <string>

#include "engine/cobalt_script.h"

namespace quill_fuzz {

inline void runScriptText(cobalt::CobaltScript& engine, const std::string& text)
{
    try {
        const cobalt::Variable source(text);
        const cobalt::Variable chunk = engine.loadScriptChunk(cobalt::NativeArgs(&source, 1));
        if (chunk.type != cobalt::VarType::Function) return;  // did not compile: (not, message)
        const cobalt::Variable result = engine.invokeCallableFast(chunk, nullptr, 0);
        (void)result.toString();
    } catch (const std::exception&) {
    }
}

} // namespace quill_fuzz
