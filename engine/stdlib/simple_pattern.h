#pragma once
// A direct matcher for the class patterns bots write most ("%s+", "#(%a+)", "(%w+)=(%w+)",
// "%d%d?:%d%d"): a short sequence of single-byte items (a byte, ".", a class or a set), each
// optionally repeated, optionally anchored, with unrepeated and unnested capture groups. Searching those through the general regular
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

#include "engine/stdlib/string_patterns.h"

namespace cobalt::patterns {

class SimplePattern {
public:
    /// The direct form of a class pattern, or nothing when it needs the general engine.
    static std::optional<SimplePattern> fromClassPattern(std::string_view pattern);

    enum class Result { Found, NotFound, GaveUp };
    /// Searches from byte `from`. `anchorAtFrom`: "^" matches at `from` (else only at byte 0).
    /// `nonEmptyAt`: only a non-empty match starting exactly at `from`. A found match fills
    /// `out` with the whole match and one span per group.
    Result search(std::string_view subject, size_t from, bool anchorAtFrom, bool nonEmptyAt, MatchSpans& out) const;

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
        std::array<size_t, kMaxItems + 1> itemStart{};  // where each item began on the matching path
    };
    /// True when the items from `item` on match at `position`; records the path's positions.
    bool matchFrom(Search& search, size_t item, size_t position) const;
    bool matchItem(Search& search, size_t item, size_t position) const;

    struct Group {
        size_t firstItem = 0;
        size_t endItem = 0;  // one past the group's last item
    };
    std::vector<Item> m_items;
    std::vector<Group> m_groups;
    bool m_anchoredStart = false;
    bool m_anchoredEnd = false;
};

} // namespace cobalt::patterns
