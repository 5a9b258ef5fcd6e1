#pragma once
// The engine's random generator: the 32-bit Mersenne Twister MT19937 with the standard
// parameters, giving exactly the numbers std::mt19937 gives for the same seed. It is our own
// so that its state can be saved in snapshots as exactly the 624 state words X(i-624) ..
// X(i-1) in generation order, whatever the standard library's stream operators would write
// (some add the position in their buffer), and read back the same way.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cobalt {

class MersenneTwister {
public:
    using result_type = uint32_t;
    static constexpr size_t kStateWords = 624;

    MersenneTwister() { seed(5489u); }
    explicit MersenneTwister(uint32_t value) { seed(value); }

    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return 0xFFFFFFFFu; }

    void seed(uint32_t value)
    {
        m_state[0] = value;
        for (uint32_t i = 1; i < kStateWords; ++i) {
            m_state[i] = 1812433253u * (m_state[i - 1] ^ (m_state[i - 1] >> 30)) + i;
        }
        m_next = 0;
    }

    /// Generates X(i) from the window in place of X(i-624), so the buffer always holds the
    /// last 624 words, oldest at m_next.
    result_type operator()()
    {
        constexpr size_t kShift = 397;
        const size_t i = m_next;
        const uint32_t mixed = (m_state[i] & 0x80000000u) | (m_state[(i + 1) % kStateWords] & 0x7FFFFFFFu);
        uint32_t word = m_state[(i + kShift) % kStateWords] ^ (mixed >> 1) ^ ((mixed & 1u) ? 0x9908B0DFu : 0u);
        m_state[i] = word;
        m_next = (i + 1) % kStateWords;
        word ^= word >> 11;
        word ^= (word << 7) & 0x9D2C5680u;
        word ^= (word << 15) & 0xEFC60000u;
        word ^= word >> 18;
        return word;
    }

    /// The 624 state words in decimal, oldest first, separated by single spaces.
    std::string text() const
    {
        std::string out;
        out.reserve(kStateWords * 11);
        for (size_t k = 0; k < kStateWords; ++k) {
            if (k != 0) out.push_back(' ');
            out += std::to_string(m_state[(m_next + k) % kStateWords]);
        }
        return out;
    }

    /// Parses text() output: exactly 624 decimal words below 2^32, separated by white space.
    /// Nothing but white space may follow. Returns no generator when the text is malformed.
    static std::optional<MersenneTwister> fromText(std::string_view text)
    {
        auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        MersenneTwister parsed;
        size_t at = 0;
        for (size_t k = 0; k < kStateWords; ++k) {
            while (at < text.size() && isSpace(text[at])) ++at;
            const size_t start = at;
            uint64_t value = 0;
            while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
                value = value * 10 + static_cast<uint64_t>(text[at] - '0');
                if (value > 0xFFFFFFFFu) return std::nullopt;
                ++at;
            }
            if (at == start || (at < text.size() && !isSpace(text[at]))) return std::nullopt;
            parsed.m_state[k] = static_cast<uint32_t>(value);
        }
        while (at < text.size() && isSpace(text[at])) ++at;
        if (at != text.size()) return std::nullopt;
        return parsed;
    }

private:
    std::array<uint32_t, kStateWords> m_state{};
    size_t m_next = 0;  // index of X(i-624), the oldest word
};

} // namespace cobalt
