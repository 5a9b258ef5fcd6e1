// Fuzz target for the state snapshot reader. Every input is imported as raw snapshot bytes
// into a fresh engine. Whatever an import left behind (all entries, or those before a
// failure) is exported again, and that export must import cleanly: every snapshot the writer
// makes is readable. A failure must arrive as an exception; anything else is a finding.

#include <span>

#include "tests/engine/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quill_fuzz::runOnLargeStack([&] {
        quill_fuzz::QuietEngine engine;
        try {
            engine.importState(std::span<const uint8_t>(data, size), "<raw-state>");
        } catch (const std::exception&) {
            // A damaged snapshot: expected.
        }
        try {
            quill_fuzz::QuietEngine fresh;
            fresh.importState(engine.exportState(), "<raw-state>");
        } catch (const std::exception& failure) {
            quill_fuzz::invariantBroken("an exported snapshot does not import", failure.what());
        }
    });
    return 0;
}
