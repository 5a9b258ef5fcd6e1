#pragma once
// What keeps a statement open across line ends: a string (with its escapes, which may run over
// a line end) or an unclosed bracket. The line splitter and the interactive prompt read script
// text the same way through this one scanner.

#include <cstdint>

namespace cobalt {

struct OpenStatement {
    bool inString = false;
    bool escaped = false;
    char quote = '"';
    uint32_t parens = 0;
    uint32_t squares = 0;
    uint32_t braces = 0;

    /// Follows one byte inside a string; the closing quote ends it.
    void scanStringByte(char c)
    {
        if (escaped) {
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == quote) {
            inString = false;
        }
    }

    /// Follows one byte outside a string: opens a string or moves a bracket depth, which never
    /// drops below zero.
    void scanCodeByte(char c)
    {
        const auto lower = [](uint32_t& depth) { depth = depth > 0 ? depth - 1 : 0; };
        switch (c) {
        case '"':
        case '\'':
            inString = true;
            quote = c;
            break;
        case '(': ++parens; break;
        case ')': lower(parens); break;
        case '[': ++squares; break;
        case ']': lower(squares); break;
        case '{': ++braces; break;
        case '}': lower(braces); break;
        default: break;
        }
    }

    bool atTopLevel() const { return parens == 0 && squares == 0 && braces == 0; }
    bool open() const { return inString || !atTopLevel(); }
};

} // namespace cobalt
