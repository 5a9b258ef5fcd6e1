#pragma once
#include <cstdint>

namespace cobalt {

/// Where a plain-name assignment stores: found-or-global, the frame scope ("native"),
/// the innermost block scope ("local") or the external scope ("external").
enum class ScopeTarget : uint8_t { Default = 0, Native = 1, Local = 2, External = 3 };

} // namespace cobalt
