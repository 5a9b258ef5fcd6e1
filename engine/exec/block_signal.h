#pragma once
#include <cstdint>

namespace cobalt {

/// How a block ended.
enum class BlockSignal : uint8_t { None = 0, Return = 1, Break = 2, Jump = 3 };

} // namespace cobalt
