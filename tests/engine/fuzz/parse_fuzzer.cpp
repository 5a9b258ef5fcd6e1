// Fuzz target for the readers of script text: the tokeniser with its token analysis, the line
// parser (which also prepares lines and compiles their fast expressions) and the bytecode
// compiler, on arbitrary bytes. Nothing is run. A failure must be an exception carrying a
// message; anything else (a crash, a sanitizer report, a hang, a message-less failure, an
// analysis that contradicts the strict number parser) is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "engine/bytecode/disassembler.h"
#include "engine/cobalt_script.h"
#include "engine/lexer/token_analysis.h"
#include "tests/engine/fuzz/large_stack.h"

namespace {

[[noreturn]] void invariantBroken(const char* what, std::string_view detail)
{
    std::fprintf(stderr, "fuzz invariant broken: %s [%.*s]\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

void requireMessage(const std::exception& failure, const char* stage)
{
    if (failure.what() == nullptr || failure.what()[0] == '\0') invariantBroken("failure without a message", stage);
}

/// The facts token analysis records must agree with the strict parsers the library uses.
void checkToken(const cobalt::CobaltScript& engine, const std::string& token)
{
    if (token.empty()) invariantBroken("empty token", token);
    const cobalt::TokenAnalysis analysis = engine.analyseToken(token);
    if (analysis.isNumeric && !analysis.hasFloatMarker && analysis.isInteger) {
        int32_t parsed = 0;
        if (!cobalt::parseIntStrict(token, parsed) || parsed != analysis.intValue) {
            invariantBroken("integer analysis disagrees with parseIntStrict", token);
        }
    }
    float ignoredFloat = 0.0f;
    (void)cobalt::parseFloatStrict(token, ignoredFloat);
    void* ignoredPointer = nullptr;
    (void)cobalt::parsePointerLiteral(token, ignoredPointer);
    (void)cobalt::decodeStringToken(token);
    (void)cobalt::tokenLooksNumeric(token);
}

void readText(const std::string& text)
{
    cobalt::CobaltScript engine;
    engine.printHandler = [](std::string_view) {};

    try {
        for (const std::string& token : engine.tokenise(text)) checkToken(engine, token);
    } catch (const std::exception& failure) {
        requireMessage(failure, "tokenise");
    }

    try {
        (void)engine.parseLines(text);
    } catch (const std::exception& failure) {
        requireMessage(failure, "parseLines");
    }

    try {
        const cobalt::ProgramRef program = engine.compileToBytecodeInternal(text);
        (void)cobalt::disassembleProgram(*program);
    } catch (const std::exception& failure) {
        requireMessage(failure, "compileToBytecodeInternal");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    quill_fuzz::runOnLargeStack([&text] { readText(text); });
    return 0;
}
