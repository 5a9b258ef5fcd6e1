// The direct matcher for simple class patterns. Parsing follows the class-pattern translation
// byte for byte and declines everything whose regular-expression meaning is not a plain
// sequence of single-byte items with plain groups (nested or repeated groups, anchors in the
// middle, stacked repetitions, unusual sets); those keep going through the regular-expression
// engine.

#include "engine/stdlib/simple_pattern.h"

#include <algorithm>
#include <string_view>

namespace cobalt::patterns {
namespace {

using Bytes = std::array<uint64_t, 4>;

void addByte(Bytes& bytes, unsigned char c) { bytes[c >> 6] |= uint64_t{1} << (c & 63); }

void addRange(Bytes& bytes, unsigned char first, unsigned char last)
{
    for (unsigned c = first; c <= last; ++c) addByte(bytes, static_cast<unsigned char>(c));
}

Bytes complement(const Bytes& bytes) { return {~bytes[0], ~bytes[1], ~bytes[2], ~bytes[3]}; }

void addAll(Bytes& into, const Bytes& from)
{
    for (size_t i = 0; i < into.size(); ++i) into[i] |= from[i];
}

/// The bytes of "%" + a lower-case class letter (as the regular-expression engine reads the
/// translated class in the classic locale); false for other letters.
bool classBytes(char letter, Bytes& out)
{
    out = {};
    switch (letter) {
    case 'a': addRange(out, 'A', 'Z'); addRange(out, 'a', 'z'); return true;
    case 'd': addRange(out, '0', '9'); return true;
    case 'l': addRange(out, 'a', 'z'); return true;
    case 'u': addRange(out, 'A', 'Z'); return true;
    case 'x': addRange(out, '0', '9'); addRange(out, 'A', 'F'); addRange(out, 'a', 'f'); return true;
    case 's': addRange(out, '\t', '\r'); addByte(out, ' '); return true;
    case 'w': addRange(out, '0', '9'); addRange(out, 'A', 'Z'); addRange(out, 'a', 'z'); addByte(out, '_'); return true;
    case 'p': addRange(out, '!', '/'); addRange(out, ':', '@'); addRange(out, '[', '`'); addRange(out, '{', '~'); return true;
    default: return false;
    }
}

bool isUpperClassLetter(char c) { return std::string_view("ADLUXSWP").find(c) != std::string_view::npos; }
char lowerOf(char c) { return static_cast<char>(c - 'A' + 'a'); }

/// A set from the byte after "[" to its "]"; `i` ends past the "]". False when the set's
/// regular-expression meaning is not simply a collection of bytes.
bool parseSet(std::string_view pattern, size_t& i, Bytes& out)
{
    out = {};
    if (i < pattern.size() && pattern[i] == ']') return false;  // "[]" is no set at all
    bool previousIsPlainByte = false;
    bool atStart = true;
    unsigned char previous = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        const bool wasStart = atStart;
        atStart = false;
        if (c == ']') {
            ++i;
            return true;
        }
        if (c == '%') {
            if (i + 1 >= pattern.size()) return false;
            const char next = pattern[i + 1];
            i += 2;
            Bytes members;
            if (classBytes(next, members)) {
                addAll(out, members);
            } else if (next == 'D' || next == 'S' || next == 'W') {
                classBytes(lowerOf(next), members);
                addAll(out, complement(members));
            } else if (isUpperClassLetter(next)) {
                return false;  // becomes a "^" inside the set: negation or a caret by position
            } else {
                addByte(out, static_cast<unsigned char>(next));
                previousIsPlainByte = false;  // escaped: keep ranges to plain bytes
                continue;
            }
            previousIsPlainByte = false;
            continue;
        }
        if (c == '[') return false;  // may open a named class such as "[:alpha:]"
        if (c == '-') {
            // A dash first or last in the set is a member; between two plain bytes it makes a
            // range; anywhere else the engine decides.
            const bool last = i + 1 < pattern.size() && pattern[i + 1] == ']';
            if (wasStart || last) {
                addByte(out, '-');
                ++i;
                previousIsPlainByte = false;
                continue;
            }
            if (!previousIsPlainByte || i + 1 >= pattern.size()) return false;
            const char to = pattern[i + 1];
            if (to == '%' || to == '[' || to == '\\' || to == '^' || to == '-') return false;
            const auto end = static_cast<unsigned char>(to);
            if (end < previous) return false;
            addRange(out, previous, end);
            i += 2;
            previousIsPlainByte = false;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        addByte(out, byte);
        // "\" and "^" are escaped in the translation; ranges from them are left to the engine.
        previousIsPlainByte = c != '\\' && c != '^';
        previous = byte;
        ++i;
    }
    return false;  // no closing "]"
}

} // namespace

std::optional<SimplePattern> SimplePattern::fromClassPattern(std::string_view pattern)
{
    SimplePattern simple;
    bool groupOpen = false;
    size_t i = 0;
    if (i < pattern.size() && pattern[i] == '^') {
        simple.m_anchoredStart = true;
        ++i;
    }
    while (i < pattern.size()) {
        const char c = pattern[i];
        Item item;
        switch (c) {
        case '$':
            if (i + 1 != pattern.size()) return std::nullopt;
            simple.m_anchoredEnd = true;
            ++i;
            continue;
        case '(':
            if (groupOpen) return std::nullopt;  // nested
            groupOpen = true;
            simple.m_groups.push_back(Group{simple.m_items.size(), 0});
            ++i;
            continue;
        case ')':
            if (!groupOpen) return std::nullopt;
            groupOpen = false;
            simple.m_groups.back().endItem = simple.m_items.size();
            ++i;
            if (i < pattern.size() && (pattern[i] == '*' || pattern[i] == '+' || pattern[i] == '?')) {
                return std::nullopt;  // a repeated group
            }
            continue;
        case '^': case '*': case '+': case '?': return std::nullopt;
        case '.':
            item.bytes = complement({});
            item.bytes[0] &= ~((uint64_t{1} << '\n') | (uint64_t{1} << '\r') | (uint64_t{1} << '\f'));
            ++i;
            break;
        case '%': {
            if (i + 1 == pattern.size()) {
                addByte(item.bytes, '%');
                ++i;
                break;
            }
            const char next = pattern[i + 1];
            i += 2;
            if (classBytes(next, item.bytes)) break;
            if (isUpperClassLetter(next)) {
                classBytes(lowerOf(next), item.bytes);
                item.bytes = complement(item.bytes);
                break;
            }
            addByte(item.bytes, static_cast<unsigned char>(next));
            break;
        }
        case '[':
            ++i;
            if (!parseSet(pattern, i, item.bytes)) return std::nullopt;
            break;
        default:
            // Includes "-" where no item stands before it to repeat: then it is a dash.
            addByte(item.bytes, static_cast<unsigned char>(c));
            ++i;
            break;
        }
        if (i < pattern.size()) {
            switch (pattern[i]) {
            case '*': item.repeat = Repeat::Star; ++i; break;
            case '+': item.repeat = Repeat::Plus; ++i; break;
            case '?': item.repeat = Repeat::Optional; ++i; break;
            case '-': item.repeat = Repeat::Lazy; ++i; break;
            default: break;
            }
            // A second repetition ("+?", "*-" as "*?*") means something else to the engine.
            if (item.repeat != Repeat::One && i < pattern.size() &&
                (pattern[i] == '*' || pattern[i] == '+' || pattern[i] == '?')) {
                return std::nullopt;
            }
        }
        simple.m_items.push_back(item);
        if (simple.m_items.size() > kMaxItems) return std::nullopt;
    }
    if (groupOpen) return std::nullopt;
    return simple;
}

bool SimplePattern::matchFrom(Search& search, size_t item, size_t position) const
{
    if (!matchItem(search, item, position)) return false;
    search.itemStart[item] = position;  // only frames on the successful path get here
    return true;
}

bool SimplePattern::matchItem(Search& search, size_t item, size_t position) const
{
    if (search.stepsLeft == 0) return false;
    --search.stepsLeft;
    const std::string_view subject = search.subject;
    if (item == m_items.size()) {
        if (m_anchoredEnd && position != subject.size()) return false;
        if (search.rejectEmpty && position == search.matchStart) return false;
        search.matchEnd = position;
        return true;
    }
    const Item& current = m_items[item];
    auto matchesAt = [&](size_t at) {
        return at < subject.size() && current.matches(static_cast<unsigned char>(subject[at]));
    };
    switch (current.repeat) {
    case Repeat::One: return matchesAt(position) && matchFrom(search, item + 1, position + 1);
    case Repeat::Optional:
        if (matchesAt(position) && matchFrom(search, item + 1, position + 1)) return true;
        return matchFrom(search, item + 1, position);
    case Repeat::Star:
    case Repeat::Plus: {
        size_t count = 0;
        while (matchesAt(position + count)) ++count;
        // The scan is work too: charge it, so stacked repetitions cannot run for ever.
        search.stepsLeft -= std::min<uint64_t>(count, search.stepsLeft);
        const size_t least = current.repeat == Repeat::Plus ? 1 : 0;
        for (size_t take = count + 1; take-- > least;) {
            if (matchFrom(search, item + 1, position + take)) return true;
            if (search.stepsLeft == 0) return false;
        }
        return false;
    }
    case Repeat::Lazy:
        for (size_t take = 0;; ++take) {
            if (matchFrom(search, item + 1, position + take)) return true;
            if (search.stepsLeft == 0 || !matchesAt(position + take)) return false;
        }
    }
    return false;
}

SimplePattern::Result SimplePattern::search(std::string_view subject, size_t from, bool anchorAtFrom,
                                            bool nonEmptyAt, MatchSpans& out) const
{
    Search state;
    state.subject = subject;
    state.rejectEmpty = nonEmptyAt;
    // Enough for any sensible pattern over the subject; past it the engine takes over.
    state.stepsLeft = 100000 + 64 * static_cast<uint64_t>(subject.size() - from);
    const bool firstNeedsByte = !m_items.empty() && (m_items[0].repeat == Repeat::One || m_items[0].repeat == Repeat::Plus);
    for (size_t at = from; at <= subject.size(); ++at) {
        if (m_anchoredStart && at != (anchorAtFrom ? from : 0)) break;
        if (firstNeedsByte && !nonEmptyAt) {
            // Skip straight to a byte the first item accepts.
            while (at < subject.size() && !m_items[0].matches(static_cast<unsigned char>(subject[at]))) ++at;
            if (at == subject.size()) break;
            if (m_anchoredStart && at != (anchorAtFrom ? from : 0)) break;
        }
        state.matchStart = at;
        if (matchFrom(state, 0, at)) {
            out.resize(1 + m_groups.size());
            out[0] = MatchSpan{at, state.matchEnd, true};
            for (size_t g = 0; g < m_groups.size(); ++g) {
                out[g + 1] = MatchSpan{state.itemStart[m_groups[g].firstItem], state.itemStart[m_groups[g].endItem], true};
            }
            return Result::Found;
        }
        if (state.stepsLeft == 0) return Result::GaveUp;
        if (nonEmptyAt) break;
    }
    return Result::NotFound;
}

} // namespace cobalt::patterns
