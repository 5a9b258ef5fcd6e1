#pragma once
// What both pattern targets do with one input: the input is cut into a pattern (its first
// line), a replacement (the second line) and a subject (the rest), and every string library
// function that takes a pattern runs on them. A script failure must arrive as an exception
// carrying a message; anything else (a crash, a sanitizer report, a hang) is a finding.

#include "engine/stdlib/string_library.h"
#include "tests/engine/fuzz/harness.h"

namespace quill_fuzz {

struct PatternInput {
    std::string pattern;
    std::string replacement;
    std::string subject;
};

/// Cuts one input into its pattern, replacement and subject.
inline PatternInput splitPatternInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    PatternInput input;
    const size_t firstBreak = text.find('\n');
    input.pattern = std::string(text.substr(0, firstBreak));
    if (firstBreak == std::string_view::npos) return input;
    text.remove_prefix(firstBreak + 1);
    const size_t secondBreak = text.find('\n');
    input.replacement = std::string(text.substr(0, secondBreak));
    if (secondBreak != std::string_view::npos) input.subject = std::string(text.substr(secondBreak + 1));
    return input;
}

/// Runs find, match, gmatch and gsub (with the text replacement and with a table) on `input`.
inline void callPatternFunctions(const PatternInput& input)
{
    using cobalt::Variable;
    QuietEngine engine;
    const Variable subject(input.subject), pattern(input.pattern), replacement(input.replacement);
    const Variable findArgs[] = {subject, pattern};
    const Variable findFromArgs[] = {subject, pattern, Variable(int32_t{2})};
    const Variable gsubArgs[] = {subject, pattern, replacement};
    const Variable gsubTableArgs[] = {subject, pattern, Variable::makeTable()};
    using Builtin = Variable (*)(cobalt::CobaltScript&, const Variable*, size_t);
    const struct {
        Builtin function;
        const Variable* args;
        size_t count;
    } calls[] = {
        {cobalt::builtins::stringFind, findArgs, 2},  {cobalt::builtins::stringFind, findFromArgs, 3},
        {cobalt::builtins::stringMatch, findArgs, 2}, {cobalt::builtins::stringGmatch, findArgs, 2},
        {cobalt::builtins::stringGsub, gsubArgs, 3},  {cobalt::builtins::stringGsub, gsubTableArgs, 3},
    };
    for (const auto& call : calls) {
        try {
            (void)call.function(engine, call.args, call.count).toString();
        } catch (const std::exception& failure) {
            requireMessage(failure, input.pattern);
        }
    }
}

} // namespace quill_fuzz
