#pragma once
// The slots of the globals: one `Variable` per global name. A slot is defined from the moment
// it is appended (no operation removes a global), so "defined" is "exists". Slots are stored in fixed chunks so that their addresses stay put while new globals are defined
// in the middle of an evaluation, and so that finding a slot by index is a shift and a mask
// (every cached look-up of a global or builtin does it).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/value/variable.h"

namespace cobalt {

class GlobalSlots {
public:
    size_t size() const { return m_size; }

    Variable& operator[](size_t slot) { return m_chunks[slot >> kChunkBits][slot & kChunkMask]; }
    const Variable& operator[](size_t slot) const { return m_chunks[slot >> kChunkBits][slot & kChunkMask]; }

    /// True when `slot` exists and holds a defined global.
    bool defined(uint64_t slot) const { return slot < m_size; }

    /// Appends a slot holding `value`; returns its index.
    size_t append(Variable value)
    {
        if ((m_size & kChunkMask) == 0) m_chunks.push_back(std::make_unique<Variable[]>(kChunkSize));
        const size_t slot = m_size++;
        (*this)[slot] = std::move(value);
        return slot;
    }

private:
    static constexpr size_t kChunkBits = 6;
    static constexpr size_t kChunkSize = size_t{1} << kChunkBits;
    static constexpr size_t kChunkMask = kChunkSize - 1;

    std::vector<std::unique_ptr<Variable[]>> m_chunks;
    size_t m_size = 0;
};

} // namespace cobalt
