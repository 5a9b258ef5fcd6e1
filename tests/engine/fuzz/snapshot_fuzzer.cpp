// Fuzz target for the state snapshot reader. Every input is imported as raw snapshot bytes
// into a fresh engine. Whatever an import left behind (all entries, or those before a
// failure) is exported again, and that export must import cleanly: every snapshot the writer
// makes is readable. A failure must arrive as an exception; anything else is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <span>
#include <string_view>

#include "engine/cobalt_script.h"
#include "tests/engine/fuzz/large_stack.h"

namespace {

void importBytes(std::span<const uint8_t> bytes)
{
    cobalt::CobaltScript engine;
    engine.printHandler = [](std::string_view) {};
    try {
        engine.importState(bytes, "<raw-state>");
    } catch (const std::exception&) {
        // A damaged snapshot: expected.
    }
    try {
        const std::vector<uint8_t> exported = engine.exportState();
        cobalt::CobaltScript fresh;
        fresh.importState(exported, "<raw-state>");
    } catch (const std::exception&) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quill_fuzz::runOnLargeStack([&] { importBytes(std::span<const uint8_t>(data, size)); });
    return 0;
}
