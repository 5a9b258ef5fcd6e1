// The interactive prompt of `cobalt`: when collected lines form a complete input, and a whole
// session driven through plain streams (the terminal itself is covered by the contract test).

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/repl.h"
#include "cli/repl_input.h"

namespace cobalt::cli {
namespace {

struct CompletenessCase {
    std::vector<std::string> lines;
    bool complete;
};

TEST(ReplInput, KnowsWhenAnInputIsComplete)
{
    const std::vector<CompletenessCase> cases = {
        {{"x = 1"}, true}, {{"if x"}, false}, {{"if x", "y = 1", "elseif z", "else", "end"}, true},
        {{"while a", "if b", "end"}, false}, {{"while a", "if b", "end", "end"}, true}, {{"repeat", "x = 1"}, false},
        {{"repeat", "x = 1", "until x"}, true}, {{"for i = 1, 3"}, false}, {{"for k, v in pairs(t)", "end"}, true},
        {{"function f(a)", "return a"}, false}, {{"local function f()", "end"}, true}, {{"native function f()"}, false},
        {{"decay function f()"}, false}, {{"nest \"here\""}, false}, {{"if x; y = 1; end"}, true},
        {{"if x", "ending = 1"}, false},           // a word that merely begins with "end"
        {{"if x @@ end"}, false},                  // a comment hides the "end"
        {{"s = \"while\""}, true},                 // keywords inside strings open nothing
        {{"end"}, true},                           // stray closers are the compiler's business
        {{"until x"}, true}, {{"print(1,"}, false}, {{"print(1,", "2)"}, true},
        {{"t = {a: [1,"}, false}, {{"t = {a: [1,", "2]}"}, true},
        {{"x = 1)"}, true},                        // a closer never drives a depth below zero
        {{"s = \"abc"}, false}, {{"s = \"abc", "def\""}, true}, {{"s = 'it''s"}, false},
        {{"s = \"a\\\""}, false},                  // an escaped quote does not end the string
        {{"print(\"@@ (\")"}, true},               // "@@" and brackets inside a string are text
        {{"x = 1 @@ ( [ {"}, true},
        {{"nest x"}, true},                        // refused by the parser: runs, to be reported
    };
    for (const CompletenessCase& test : cases) {
        ReplInput input;
        std::string joined;
        for (const std::string& line : test.lines) {
            input.addLine(line);
            joined += line + "\n";
        }
        EXPECT_EQ(input.complete(), test.complete) << joined;
        EXPECT_FALSE(input.blank()) << joined;
    }
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

std::string contentsOf(std::FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    return text;
}

/// A whole session on `input`: its status, standard output and standard error, joined by "|".
std::string session(const std::string& input)
{
    File in(std::tmpfile(), &std::fclose), out(std::tmpfile(), &std::fclose), err(std::tmpfile(), &std::fclose);
    if (!in || !out || !err) return "no temporary files";
    std::fwrite(input.data(), 1, input.size(), in.get());
    std::rewind(in.get());
    const int status = runRepl(in.get(), out.get(), err.get());
    return std::to_string(status) + "|" + contentsOf(out.get()) + "|" + contentsOf(err.get());
}

TEST(Repl, RunsEachCompleteInputInOneEngineAndGoesOnAfterFailures)
{
    const std::string hint = "  hint: check spelling, operators, parentheses, and quote matching\n";
    EXPECT_EQ(session("x = 1\nfunction f(n)\n  return n + x\nend\n\nprint(f(2))\ny = 1 / 0\nx = 10; print(f(2))\n"
                      "print(\"a\",\n  \"b\")\nwhile true\n"),
              "0|> > >> >> > > 3\n> > 12\n> >> a b\n> >> \n|"
              "CobaltScript error: Division by zero\n  at stdin:1, near token '0'\n  y = 1 / 0\n          ^\n" + hint +
                  // The end of input runs the unfinished block, so what it lacks is shown.
                  "CobaltScript error: Missing 'end' for while block\n  at stdin:1\n  while true\n            ^\n" + hint);
    // End of input at once ends the session.
    EXPECT_EQ(session(""), "0|> \n|");
}

} // namespace
} // namespace cobalt::cli
