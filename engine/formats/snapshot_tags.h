#pragma once
// The value tags of a state snapshot and the snapshot's fixed header values.

#include <cstdint>
#include <string_view>

namespace cobalt::formats {

inline constexpr std::string_view kSnapshotMagic = "CSST";
inline constexpr uint32_t kSnapshotVersion = 2;
/// From this version a function record carries its captured scope index.
inline constexpr uint32_t kCapturedScopeSince = 2;

enum class ValueTag : uint8_t {
    Empty = 0,
    Int = 1,
    Float = 2,
    String = 3,
    Raw = 4,
    Bool = 5,
    Array = 6,
    Multi = 7,
    Table = 8,
    Function = 9,
};
inline constexpr uint8_t kLastValueTag = 9;

} // namespace cobalt::formats
