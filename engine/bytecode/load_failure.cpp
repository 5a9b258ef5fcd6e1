// The error text layout for failures that reach a host without a position of their own,
// such as a main script that cannot be read or compiled.

#include "engine/bytecode/load_failure.h"

#include <string>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {

namespace {

constexpr std::string_view kHint = "  hint: check spelling, operators, parentheses, and quote matching\n";

/// Column of the caret: the first occurrence of the near-token, else just past the text.
size_t caretColumn(std::string_view sourceText, std::string_view nearToken)
{
    if (nearToken.empty() || nearToken == "EOF") return sourceText.size();
    const size_t found = sourceText.find(nearToken);
    return found == std::string_view::npos ? sourceText.size() : found;
}

} // namespace

std::string formatScriptFailure(std::string_view message, std::string_view script, uint64_t line,
                                std::string_view sourceText, std::string_view nearToken)
{
    std::string text(kErrorPrefix);
    text.append(message).append("\n  at ");
    if (!script.empty()) {
        text.append(script);
        if (line != UINT64_MAX) text.append(":").append(std::to_string(line + 1));
    } else if (line != UINT64_MAX) {
        text.append("line ").append(std::to_string(line + 1));
    }
    if (!nearToken.empty()) text.append(", near token '").append(nearToken).append("'");
    text.append("\n  ").append(sourceText).append("\n  ");

    const size_t column = caretColumn(sourceText, nearToken);
    text.append(column, ' ').append("^");
    if (nearToken.size() >= 2 && column + nearToken.size() <= sourceText.size()) {
        text.append(nearToken.size() - 1, '~');
    }
    text.append("\n").append(kHint);
    return text;
}

std::string describeRunFailure(const CobaltScript& engine, const std::string& message, const std::string& path)
{
    if (message.starts_with(kPositionedPrefix)) return message;
    if (message.empty()) return "CobaltScript failed with an unknown error";
    const LoadFailure& load = engine.loader.lastFailure;
    if (!load.message.empty() && load.message == message) {
        return formatScriptFailure(message, path, load.line, load.sourceText, load.nearToken);
    }
    return formatScriptFailure(message, path, UINT64_MAX, "", "");
}

} // namespace cobalt
