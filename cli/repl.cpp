#include "cli/repl.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "cli/large_stack.h"
#include "cli/repl_input.h"
#include "cli/script_run.h"
#include "engine/bytecode/load_failure.h"
#include "engine/cobalt_script.h"

namespace cobalt::cli {

namespace {

enum class LineRead { Line, TooLong, EndOfInput };

/// Reads one line without its line feed. A last line without a line feed still counts as a
/// line; only an end of input before any byte is EndOfInput. A line longer than `limit` is
/// read to its end but not kept, so one endless line cannot exhaust memory.
LineRead readLine(std::FILE* in, std::string& line, size_t limit)
{
    line.clear();
    bool any = false;
    bool tooLong = false;
    for (int c = std::getc(in); c != EOF; c = std::getc(in)) {
        any = true;
        if (c == '\n') break;
        if (line.size() >= limit) {
            tooLong = true;
            line.clear();
            limit = 0;
            continue;
        }
        line.push_back(static_cast<char>(c));
    }
    if (!any) return LineRead::EndOfInput;
    return tooLong ? LineRead::TooLong : LineRead::Line;
}

void writeText(std::FILE* out, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

class ReplSession {
public:
    ReplSession(std::FILE* out, std::FILE* err) : m_out(out), m_err(err)
    {
        m_engine.printHandler = [out](std::string_view line) {
            std::fwrite(line.data(), 1, line.size(), out);
            std::fputc('\n', out);
            std::fflush(out);
        };
    }

    void run(const std::string& text)
    {
        const LoadedChunk chunk = loadTextChunk(m_engine, text, kStdinChunkName);
        std::string failure = chunk.loaded() ? callChunk(m_engine, chunk.function, kStdinChunkName) : chunk.errorText;
        // A failed input must not leave anything behind that the next one would trip over.
        m_engine.softError = SoftErrorState{};
        m_engine.loader.jumpPending = false;
        m_engine.loader.pendingJumpLabel.clear();
        if (!failure.empty()) report(std::move(failure));
    }

    void report(std::string errorText)
    {
        std::fflush(m_out);
        reportFailure(m_err, std::move(errorText));
    }

private:
    CobaltScript m_engine;
    std::FILE* m_out;
    std::FILE* m_err;
};

} // namespace

int runRepl(std::FILE* in, std::FILE* out, std::FILE* err)
{
    ReplSession session(out, err);
    ReplInput input;
    std::string line;
    for (;;) {
        writeText(out, input.blank() ? kPrompt : kContinuationPrompt);
        const size_t room = kMaxScriptTextBytes - std::min(kMaxScriptTextBytes, input.text().size());
        const LineRead read = readLine(in, line, room);
        if (read == LineRead::EndOfInput) {
            // An unfinished input still runs, so that what it lacks is reported.
            if (!input.blank()) session.run(input.text());
            writeText(out, "\n");
            return kExitFinished;
        }
        if (read == LineRead::Line) input.addLine(line);
        if (read == LineRead::TooLong || input.text().size() > kMaxScriptTextBytes) {
            input.clear();
            session.report(oversizedInputText());
            continue;
        }
        if (!input.complete()) continue;
        if (!input.blank()) session.run(input.text());
        input.clear();
    }
}

int runInteractive()
{
    int status = kExitFinished;
    try {
        runOnLargeStack([&] { status = runRepl(stdin, stdout, stderr); });
    } catch (...) {
        reportFailure(stderr, describeEscapedFailure());
        return kExitFailed;
    }
    return status;
}

} // namespace cobalt::cli
