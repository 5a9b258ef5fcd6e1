// The positioned error text and the position context it is built from.

#include <string>
#include <string_view>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {

namespace {

constexpr std::string_view kHint = "  hint: check spelling, operators, parentheses, and quote matching\n";

struct ErrorPosition {
    std::string_view scriptName;  // empty: the "line N" form
    uint64_t lineNumber = 0;      // 0-based
    std::string_view source;
};

// The caret stands under the first occurrence of the near-token, or just past the end of
// the statement when there is no near-token, it is "EOF", or it does not occur.
size_t caretColumn(std::string_view source, std::string_view nearToken)
{
    if (nearToken.empty() || nearToken == "EOF") return source.size();
    size_t found = source.find(nearToken);
    return found == std::string_view::npos ? source.size() : found;
}

std::string buildErrorText(std::string_view message, std::string_view nearToken, const ErrorPosition& where)
{
    const size_t column = caretColumn(where.source, nearToken);
    std::string text;
    text.reserve(kErrorPrefix.size() + message.size() + 2 * where.source.size() + nearToken.size() +
                 where.scriptName.size() + kHint.size() + 64);
    text.append(kErrorPrefix).append(message).append("\n  at ");
    if (where.scriptName.empty()) {
        text.append("line ");
    } else {
        text.append(where.scriptName).append(":");
    }
    text.append(std::to_string(where.lineNumber + 1));
    if (!nearToken.empty()) text.append(", near token '").append(nearToken).append("'");
    text.append("\n  ").append(where.source).append("\n  ");
    text.append(column, ' ').append("^");
    if (nearToken.size() >= 2 && column + nearToken.size() <= where.source.size()) {
        text.append(nearToken.size() - 1, '~');
    }
    text.append("\n").append(kHint);
    return text;
}

std::string_view scriptNameOf(const CobaltScript& engine)
{
    return engine.loader.pathStack.empty() ? std::string_view() : std::string_view(engine.loader.pathStack.back());
}

std::string_view currentSource(const ErrorContext& context)
{
    if (!context.overrideSource.empty()) return context.overrideSource;
    return context.sourceText ? std::string_view(*context.sourceText) : std::string_view();
}

} // namespace

void CobaltScript::throwError(std::string_view message, std::string_view nearToken)
{
    ErrorPosition where{scriptNameOf(*this), errorContext.currentLine, currentSource(errorContext)};
    throw std::runtime_error(buildErrorText(message, nearToken, where));
}

void CobaltScript::rethrowPositioned(const ParsedScriptLine& line)
{
    std::string message;
    bool stopping = false;
    try {
        throw;
    } catch (const ScriptStopRequested& error) {
        message = error.what();
        stopping = true;
    } catch (const RaisedScriptError& error) {
        message = error.message();
    } catch (const std::exception& error) {
        message = error.what();
    } catch (const CoroutineTerminated&) {
        throw;
    } catch (...) {
        message = "Unknown error";
    }
    // Positioned deeper down (for example inside a called function): keeps that position.
    if (std::string_view(message).starts_with(kPositionedPrefix)) throw;

    // The statement itself names the line and text: code that ran in between (a call) may
    // have moved the context elsewhere.
    ErrorPosition where{scriptNameOf(*this), line.lineNumber,
                        errorContext.overrideSource.empty() ? std::string_view(line.text)
                                                            : std::string_view(errorContext.overrideSource)};
    std::string_view nearToken = errorContext.nearToken;
    if (nearToken.empty() && !line.tokens.empty()) nearToken = line.tokens.front();
    // A stop keeps its kind through positioning, so protected calls further out still let
    // it pass.
    if (stopping) throw ScriptStopRequested(buildErrorText(message, nearToken, where));
    throw std::runtime_error(buildErrorText(message, nearToken, where));
}

// Kept out of line: markNearToken runs on every call and must stay a few instructions.
[[gnu::noinline]] void CobaltScript::setNearToken(const Token& token, size_t index)
{
    errorContext.nearToken.assign(token);
    errorContext.nearTokenIndex = index;
}

void CobaltScript::markNearTokenOf(const TokenList& tokens, size_t index)
{
    // The token evaluator reads the running statement's own tokens nearly always: those are
    // held by reference, like markNearToken's, and only other lists' tokens are copied.
    if (&tokens == errorContext.sourceTokens && errorContext.sourceText == errorContext.sourceTokensText) {
        errorContext.nearToken.refer(tokens[index]);
        errorContext.nearTokenIndex = index;
        return;
    }
    setNearToken(tokens[index], index);
}

void CobaltScript::markNearToken(const ParsedScriptLine& line, size_t index)
{
    // Held by reference only while the error text reads that very statement, whose tokens
    // then live as long as its text; any other line's token is copied.
    if (errorContext.sourceText != &line.text) return setNearToken(line.tokens[index], index);
    errorContext.nearToken.refer(line.tokens[index]);
    errorContext.nearTokenIndex = index;
}

} // namespace cobalt
