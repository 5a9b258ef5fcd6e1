// The token rules: names, boolean spellings, pointer literals, number shapes and string
// literals. Pure functions of the token text.

#include <charconv>
#include <cstdint>
#include <string_view>

#include "engine/cobalt_script.h"
#include "engine/lexer/token_analysis.h"

namespace cobalt {

namespace {

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHexDigit(char c) { return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

bool isNameStart(char c) { return isLetter(c) || c == '_' || c == '$'; }

bool isNameByte(char c) { return isNameStart(c) || isDigit(c); }

bool isPlainName(std::string_view token)
{
    if (token.empty() || !isNameStart(token.front())) return false;
    for (char c : token.substr(1)) {
        if (!isNameByte(c)) return false;
    }
    return true;
}

// base#N with N a decimal number from 0 to 3 (the external scope, globals, frame, block
// scopes); "count#03" names scope 3 like "count#3".
bool isExplicitScopeName(std::string_view token)
{
    const size_t hash = token.rfind('#');
    if (hash == std::string_view::npos || hash + 1 == token.size()) return false;
    std::string_view digits = token.substr(hash + 1);
    for (char c : digits) {
        if (!isDigit(c)) return false;
    }
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    return digits.size() == 1 && digits.front() <= '3' && isPlainName(token.substr(0, hash));
}

} // namespace

bool isIdentifierToken(std::string_view token)
{
    if (token.empty()) return false;
    void* pointer = nullptr;
    if (parsePointerLiteral(token, pointer)) return false;
    return isPlainName(token) || isExplicitScopeName(token);
}

bool isTrueToken(std::string_view token)
{
    return token == "true" || token == "ture" || token == "tre" || token == "tue";
}

bool isFalseToken(std::string_view token)
{
    return token == "false" || token == "flase" || token == "fasle" || token == "flse";
}

bool parsePointerLiteral(std::string_view token, void*& out)
{
    if (token.size() < 2 || token.front() != '$') return false;
    const std::string_view digits = token.substr(1);
    for (char c : digits) {
        if (!isHexDigit(c)) return false;
    }
    uint64_t address = 0;
    auto result = std::from_chars(digits.data(), digits.data() + digits.size(), address, 16);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) return false;  // > 64 bits
    if (address > UINTPTR_MAX) return false;
    out = reinterpret_cast<void*>(static_cast<uintptr_t>(address));
    return true;
}

bool tokenLooksNumeric(std::string_view token)
{
    // Optional sign (only with something after it), then digits with at most one ".",
    // and at least one digit: 7, 7., 7.25 and .5 qualify; 1e5 and "." do not.
    if (token.size() > 1 && (token.front() == '+' || token.front() == '-')) token.remove_prefix(1);
    bool sawDigit = false;
    bool sawDot = false;
    for (char c : token) {
        if (isDigit(c)) {
            sawDigit = true;
        } else if (c == '.' && !sawDot) {
            sawDot = true;
        } else {
            return false;
        }
    }
    return sawDigit;
}

bool isQuotedToken(std::string_view token)
{
    return token.size() >= 2 && (token.front() == '"' || token.front() == '\'') && token.back() == token.front();
}

std::string decodeStringToken(std::string_view token)
{
    if (!isQuotedToken(token)) return std::string(token);
    const std::string_view body = token.substr(1, token.size() - 2);
    std::string decoded;
    decoded.reserve(body.size());
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\\' || i + 1 == body.size()) {
            decoded += body[i];  // a trailing backslash stays a backslash
            continue;
        }
        const char escaped = body[++i];
        switch (escaped) {
        case 'n': decoded += '\n'; break;
        case 't': decoded += '\t'; break;
        case 'r': decoded += '\r'; break;
        default: decoded += escaped; break;
        }
    }
    return decoded;
}

TokenAnalysis analyseToken(std::string_view token)
{
    TokenAnalysis analysis;
    analysis.isIdentifier = isIdentifierToken(token);
    analysis.isTrue = isTrueToken(token);
    analysis.isFalse = isFalseToken(token);
    analysis.isNumeric = tokenLooksNumeric(token);
    analysis.noScopeMark = token.find('#') == std::string_view::npos;
    analysis.nameBit = scopeNameBit(token);
    if (analysis.isNumeric) {
        analysis.hasFloatMarker = token.find_first_of(".eE") != std::string_view::npos;
        // A leading "+" is no integer (it is read as a float later); "-" is.
        if (!analysis.hasFloatMarker) analysis.isInteger = parseIntStrict(token, analysis.intValue);
    }
    return analysis;
}

TokenAnalysis CobaltScript::analyseToken(std::string_view token) const { return cobalt::analyseToken(token); }

bool CobaltScript::isIdentifier(std::string_view token) const { return isIdentifierToken(token); }

} // namespace cobalt
