#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace quill {

/// How one bot run ended: the engine's result code and, for a failure, its error text.
struct ScriptOutcome {
    /// QUILL_SCRIPT_FINISHED, QUILL_SCRIPT_FAILED or QUILL_SCRIPT_STOPPED.
    std::int32_t result = 0;
    std::optional<QString> failure;
};

/// What the controller is doing, as the window and the command-line runner see it.
enum class ScriptExecutionState { idle, running, stopping };

} // namespace quill
