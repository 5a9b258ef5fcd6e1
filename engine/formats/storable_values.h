#pragma once
// Which values a state snapshot can hold. Scalars can; pointers cannot; a script function
// can when it is a plain (not coroutine) function with its own program; a container can when
// all it holds can, it does not contain itself, and it is not nested deeper than the snapshot
// reader accepts, so that every snapshot written can be read again. A value whose written
// form would be absurdly large (shared containers written once per reference can grow
// exponentially) is left out as well.

#include <cstdint>
#include <unordered_map>

#include "engine/value/variable.h"

namespace cobalt::formats {

/// Values nested deeper than this are refused by the snapshot reader (the outermost value
/// is at depth 0).
inline constexpr uint32_t kMaxSnapshotDepth = 256;
/// Written size above which one global is left out of a snapshot, and the size the whole
/// snapshot's entries may take together.
inline constexpr uint64_t kMaxStoredValueBytes = uint64_t{256} << 20;
inline constexpr uint64_t kMaxSnapshotBytes = uint64_t{1} << 30;

/// Storability of values, remembered per container and program over one export, so that
/// shared containers are examined once. Walks iteratively: nesting depth costs no stack.
class StorableValues {
public:
    struct Facts {
        bool storable = true;
        uint32_t height = 0;  // deepest element's depth below the value, capped
        uint64_t bytes = 0;   // written size, saturating
    };

    /// The facts of a value as a snapshot entry would hold it.
    Facts examine(const Variable& value);
    /// Whether a value may be written as a snapshot entry.
    bool storableEntry(const Variable& value)
    {
        const Facts facts = examine(value);
        return facts.storable && facts.height <= kMaxSnapshotDepth && facts.bytes <= kMaxStoredValueBytes;
    }

private:
    Facts leafFacts(const Variable& value);

    struct Known {
        bool inProgress = false;
        Facts facts;
    };
    std::unordered_map<const void*, Known> m_containers;
    std::unordered_map<const void*, uint64_t> m_programBytes;
};

} // namespace cobalt::formats
