#pragma once
// A direct matcher for the class patterns bots write most ("%s+", "%a+", "@[%w_]+", "%d%d?:%d%d"):
// a short sequence of single-byte items (a byte, ".", a class or a set), each optionally
// repeated, optionally anchored, without groups. Searching those through the general regular
// expression engine costs more in set-up than in matching. The matcher explores matches in
// the same order as a backtracking regular-expression engine, so it finds exactly the match
// the compiled expression would; when a search takes too many steps it gives up and the caller
// asks the regular-expression engine instead (which then reports the pattern as too complex).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace cobalt::patterns {

class SimplePattern {
public:
    /// The direct form of a class pattern, or nothing when it needs the general engine.
    static std::optional<SimplePattern> fromClassPattern(std::string_view pattern);

    enum class Result { Found, NotFound, GaveUp };
    /// Searches from byte `from`. `anchorAtFrom`: "^" matches at `from` (else only at byte 0).
    /// `nonEmptyAt`: only a non-empty match starting exactly at `from`.
    Result search(std::string_view subject, size_t from, bool anchorAtFrom, bool nonEmptyAt, size_t& start,
                  size_t& end) const;

private:
    enum class Repeat : uint8_t { One, Optional, Star, Plus, Lazy };
    struct Item {
        std::array<uint64_t, 4> bytes{};  // which byte values the item matches
        Repeat repeat = Repeat::One;
        bool matches(unsigned char c) const { return (bytes[c >> 6] >> (c & 63)) & 1u; }
    };

    static constexpr size_t kMaxItems = 32;  // the matcher recurses once per item

    // The state of one search (a SimplePattern is shared between threads).
    struct Search {
        std::string_view subject;
        size_t matchEnd = 0;
        size_t matchStart = 0;
        bool rejectEmpty = false;
        uint64_t stepsLeft = 0;
    };
    /// True when the items from `item` on match at `position`; sets search.matchEnd.
    bool matchFrom(Search& search, size_t item, size_t position) const;

    std::vector<Item> m_items;
    bool m_anchoredStart = false;
    bool m_anchoredEnd = false;
};

} // namespace cobalt::patterns
