// Cutting one statement into tokens. Tokens stay plain byte strings all the way to
// execution; later stages recognise punctuation and keywords by their text.

#include <string_view>

#include "engine/cobalt_script.h"

namespace cobalt {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isQuote(char c) { return c == '"' || c == '\''; }

bool isTwoByteOperator(char first, char second)
{
    switch (first) {
    case '!': case '%': case '*': case '+': case '/': case '=': case '>': case '\\': case '^': case '~':
        return second == '=';
    case '&': return second == '&';
    case '|': return second == '|';
    case '-': return second == '=' || second == '>';
    case '<': return second == '-' || second == '=';
    default: return false;
    }
}

bool isOneByteToken(char c)
{
    switch (c) {
    case '!': case '#': case '%': case '(': case ')': case '*': case '+': case ',': case '-': case '/':
    case ':': case ';': case '<': case '=': case '>': case '[': case '\\': case ']': case '^': case '{':
    case '}':
        return true;
    default:
        return false;
    }
}

/// The index just past the closing quote of the literal opening at `start`, or npos.
size_t endOfStringLiteral(std::string_view text, size_t start)
{
    const char quote = text[start];
    for (size_t i = start + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;  // the escaped byte never closes the literal
        } else if (text[i] == quote) {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

class Tokeniser {
public:
    explicit Tokeniser(std::string_view text) : m_text(text) { m_tokens.reserve(text.size() / 2 + 8); }

    /// False when a string literal is left open; `unterminatedAt` then marks its quote.
    bool run()
    {
        size_t i = 0;
        while (i < m_text.size()) {
            const char c = m_text[i];
            const char next = i + 1 < m_text.size() ? m_text[i + 1] : '\0';
            if (c == '@' && next == '@') break;  // the rest is a comment
            if (isQuote(c)) {
                flush(i);
                size_t end = endOfStringLiteral(m_text, i);
                if (end == std::string_view::npos) {
                    unterminatedAt = i;
                    return false;
                }
                m_tokens.emplace_back(m_text.substr(i, end - i));
                i = end;
                continue;
            }
            if (isBlank(c)) {
                flush(i++);
                continue;
            }
            if (i + 1 < m_text.size() && isTwoByteOperator(c, next)) {
                flush(i);
                m_tokens.emplace_back(m_text.substr(i, 2));
                i += 2;
                continue;
            }
            // count#2 stays one word: the explicit-scope suffix of a name.
            if (c == '#' && m_wordOpen && isDigit(next)) {
                ++i;
                continue;
            }
            if (isOneByteToken(c)) {
                flush(i);
                m_tokens.emplace_back(1, c);
                ++i;
                continue;
            }
            if (!m_wordOpen) {
                m_wordOpen = true;
                m_wordStart = i;
            }
            ++i;
        }
        flush(i);
        return true;
    }

    TokenList takeTokens() { return std::move(m_tokens); }

    size_t unterminatedAt = 0;

private:
    void flush(size_t position)
    {
        if (!m_wordOpen) return;
        m_tokens.emplace_back(m_text.substr(m_wordStart, position - m_wordStart));
        m_wordOpen = false;
    }

    std::string_view m_text;
    TokenList m_tokens;
    bool m_wordOpen = false;
    size_t m_wordStart = 0;
};

} // namespace

TokenList CobaltScript::tokenise(const std::string& text)
{
    // Kept as a copy: the caller's text may be a temporary, and an error text built later
    // must not read freed memory.
    errorContext.ownedSource = text;
    errorContext.sourceText = &errorContext.ownedSource;
    errorContext.nearToken.clear();
    errorContext.nearTokenIndex = 0;

    Tokeniser tokeniser(text);
    if (!tokeniser.run()) {
        throwError("Unterminated string literal", std::string_view(text).substr(tokeniser.unterminatedAt));
    }
    return tokeniser.takeTokens();
}

} // namespace cobalt
