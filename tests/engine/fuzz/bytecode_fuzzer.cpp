// Fuzz target for the bytecode image reader. Every input is read as an image; one that reads
// must write back to bytes that read again to the same bytes. The program's nest labels are
// registered from every chunk (a walk over hostile body links), and when the program can
// only run briefly and touches no files (no loop opcodes, no token naming a loop, function,
// code-loading or snapshot word) chunk 0 runs too, so the interpreter's index checks meet
// hostile records. A failure must arrive as an exception; anything else is a finding.

#include <memory>
#include <span>

#include "tests/engine/fuzz/harness.h"

namespace {

bool mayRunUnbounded(const cobalt::BytecodeProgram& program)
{
    for (const cobalt::Instruction& instruction : program.instructions) {
        switch (instruction.opcode) {
        case cobalt::Opcode::While:
        case cobalt::Opcode::Repeat:
        case cobalt::Opcode::NumericFor:
        case cobalt::Opcode::GenericFor: return true;
        default: break;
        }
    }
    for (const cobalt::ParsedScriptLine& line : program.lines) {
        for (const cobalt::Token& token : line.tokens) {
            if (quill_fuzz::mayRunUnbounded(token)) return true;
        }
    }
    return false;
}

void readImage(std::span<const uint8_t> bytes)
{
    quill_fuzz::QuietEngine engine;
    cobalt::ProgramRef program;
    try {
        program = engine.deserialiseBytecode(bytes, "fuzz");
    } catch (const std::exception&) {
        return;
    }
    const std::vector<uint8_t> written = engine.serialiseBytecode(*program);
    try {
        if (engine.serialiseBytecode(*engine.deserialiseBytecode(written, "again")) != written) {
            quill_fuzz::invariantBroken("a written image reads back to other bytes", "");
        }
    } catch (const std::exception& failure) {
        quill_fuzz::invariantBroken("a written image does not read again", failure.what());
    }
    auto function = std::make_shared<cobalt::ScriptCallable>();
    function->program = program;
    function->isLoadedChunk = true;
    for (uint32_t chunk = 0; chunk < program->chunks.size() && chunk < 256; ++chunk) {
        engine.registerCallableNestLabelsRecursive(function, chunk);
    }
    if (program->chunks.empty() || mayRunUnbounded(*program)) return;
    try {
        (void)engine.invokeCallableFast(cobalt::Variable(function), nullptr, 0).toString();
    } catch (const std::exception&) {
        // A failure of the hostile program: expected.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quill_fuzz::runOnLargeStack([&] { readImage(std::span<const uint8_t>(data, size)); });
    return 0;
}
