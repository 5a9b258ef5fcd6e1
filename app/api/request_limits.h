#pragma once

#include <QtGlobal>

#include <chrono>

namespace quill {

/// Bounds on one Misskey call; tests shorten them, the application keeps the defaults.
struct RequestLimits {
    /// The whole request, from sending to the last byte of the body.
    std::chrono::milliseconds timeout{std::chrono::seconds(30)};
    /// A larger body is refused as an invalid response instead of being held in memory.
    qint64 maxResponseBytes = qint64(32) * 1024 * 1024;
};

} // namespace quill
