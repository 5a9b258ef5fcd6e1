#pragma once
// A read position in one statement's tokens, shared by the evaluator and the skipper of the
// eval folder. Every consumed token becomes the engine's near-token, so a failure raised
// afterwards names the token where it happened.

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {

struct ExpressionCursor {
    CobaltScript& engine;
    const TokenList& tokens;
    size_t& position;
    const AnalysisList* analyses;

    bool atEnd() const { return position >= tokens.size(); }
    const Token& peek() const { return tokens[position]; }
    bool peekIs(std::string_view text) const { return !atEnd() && tokens[position] == text; }

    /// Takes the current token and makes it the near-token.
    const Token& consume()
    {
        const Token& token = tokens[position];
        engine.markNearTokenOf(tokens, position);
        ++position;
        return token;
    }

    /// Makes the token at `index` the near-token again (after a call ran other statements).
    void markNear(size_t index) { engine.markNearTokenOf(tokens, index); }

    /// The stored analysis of the token at `index`, or null when the statement has none that
    /// matches its tokens (the caller then analyses the token on the spot).
    const TokenAnalysis* storedAnalysis(size_t index) const
    {
        if (analyses == nullptr || analyses->size() != tokens.size()) return nullptr;
        return &(*analyses)[index];
    }

    /// Fails naming the current token, or `atEndText` when the tokens have run out.
    [[noreturn]] void failAtCurrent(const std::string& message, std::string_view atEndText)
    {
        if (atEnd()) failNear(message, atEndText);
        engine.setNearToken(tokens[position], position);
        fail(message);
    }

    /// Fails with an explicit near-token text.
    [[noreturn]] void failNear(const std::string& message, std::string_view nearText)
    {
        engine.setNearToken(Token(nearText), position);
        fail(message);
    }

    [[noreturn]] void failAtEnd(const std::string& message) { failNear(message, "EOF"); }
};

// Shared by the evaluator's primaries (defined in literals.cpp).
Variable evaluateArrayLiteral(ExpressionCursor& cursor);
Variable evaluateBraceLiteral(ExpressionCursor& cursor);
/// A quoted string, a bool, pointer or number literal, or a variable's value.
Variable evaluateLiteralToken(ExpressionCursor& cursor);
/// The text key of a `key: value` brace entry, as written (quoted keys decoded).
std::string braceEntryKeyText(ExpressionCursor& cursor, size_t keyIndex);

} // namespace cobalt
