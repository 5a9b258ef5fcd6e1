// Fuzz target for the readers of script text: the tokeniser with its token analysis, the line
// parser (which also prepares lines and compiles their fast expressions) and the bytecode
// compiler, on arbitrary bytes. Nothing is run. A failure must be an exception carrying a
// message; anything else (a crash, a sanitizer report, a hang, a message-less failure, an
// analysis that contradicts the strict number parser) is a finding.

#include "engine/bytecode/disassembler.h"
#include "engine/lexer/token_analysis.h"
#include "tests/engine/fuzz/harness.h"

namespace {

using quill_fuzz::invariantBroken;

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
    quill_fuzz::QuietEngine engine;
    const std::pair<const char*, std::function<void()>> stages[] = {
        {"tokenise", [&] { for (const std::string& token : engine.tokenise(text)) checkToken(engine, token); }},
        {"parseLines", [&] { (void)engine.parseLines(text); }},
        {"compileToBytecodeInternal", [&] { (void)cobalt::disassembleProgram(*engine.compileToBytecodeInternal(text)); }},
    };
    for (const auto& [stage, work] : stages) {
        try {
            work();
        } catch (const std::exception& failure) {
            quill_fuzz::requireMessage(failure, stage);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text = quill_fuzz::textOf(data, size);
    quill_fuzz::runOnLargeStack([&text] { readText(text); });
    return 0;
}
