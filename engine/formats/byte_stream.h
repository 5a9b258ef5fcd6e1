#pragma once
// Little-endian byte writing and bounds-checked reading for the engine's binary formats
// (bytecode images and state snapshots). The reader treats its input as untrusted: every
// read checks the bytes left first, and a count read from the input is only trusted after
// the caller has checked that the remaining bytes can hold that many items.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/error/script_error.h"

namespace cobalt::formats {

using Bytes = std::vector<uint8_t>;

class ByteWriter {
public:
    explicit ByteWriter(Bytes& out) : m_out(out) {}

    void u8(uint8_t value) { m_out.push_back(value); }
    void u16(uint16_t value) { little(value, 2); }
    void u32(uint32_t value) { little(value, 4); }
    void u64(uint64_t value) { little(value, 8); }
    void raw(const void* data, size_t size)
    {
        if (size == 0) return;
        // Grow, then copy: GCC 12 at -O3 misjudges a range insert into a vector that is still
        // empty (the magic written first) as an overflow.
        const size_t at = m_out.size();
        m_out.resize(at + size);
        std::memcpy(m_out.data() + at, data, size);
    }
    /// A string: u32 byte count, then the bytes. Longer texts cannot be represented.
    void string(std::string_view text)
    {
        if (text.size() > UINT32_MAX) fail("String too long to store");
        u32(static_cast<uint32_t>(text.size()));
        raw(text.data(), text.size());
    }

private:
    void little(uint64_t value, int size)
    {
        for (int i = 0; i < size; ++i) m_out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    Bytes& m_out;
};

/// Reads from a byte range; running past its end fails with `truncatedMessage`.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size, std::string truncatedMessage)
        : m_data(data), m_size(size), m_truncated(std::move(truncatedMessage))
    {
    }

    size_t remaining() const { return m_size - m_position; }
    size_t position() const { return m_position; }
    [[noreturn]] void truncated() const { fail(m_truncated); }

    /// Fails as truncated unless `count` items of at least `itemBytes` bytes each can still
    /// follow. Call before reserving or sizing anything from a count read from the input.
    void expectItems(uint64_t count, uint64_t itemBytes) const
    {
        if (itemBytes != 0 && count > remaining() / itemBytes) truncated();
    }

    uint8_t u8() { return static_cast<uint8_t>(little(1)); }
    uint16_t u16() { return static_cast<uint16_t>(little(2)); }
    uint32_t u32() { return static_cast<uint32_t>(little(4)); }
    uint64_t u64() { return little(8); }
    const uint8_t* take(size_t size)
    {
        if (size > remaining()) truncated();
        const uint8_t* at = m_data + m_position;
        m_position += size;
        return at;
    }
    std::string string()
    {
        const uint32_t size = u32();
        const uint8_t* at = take(size);
        return std::string(reinterpret_cast<const char*>(at), size);
    }

private:
    uint64_t little(int size)
    {
        const uint8_t* at = take(static_cast<size_t>(size));
        uint64_t value = 0;
        for (int i = 0; i < size; ++i) value |= uint64_t{at[i]} << (8 * i);
        return value;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
    std::string m_truncated;
};

} // namespace cobalt::formats
