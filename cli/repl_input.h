#pragma once
// The interactive prompt's input buffer: collects physical lines until they form whole
// statements. Input is complete when no string or bracket is left open at the end of the
// last line (statements go on over line ends while one is, as in a script file) and every
// block opener (if, while, for, repeat, the function forms, nest) has found its "end" or
// "until". Block structure is read by the engine's own line parser, so the prompt and a
// script file agree on where a block closes.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/parser/open_statement.h"

namespace cobalt {
class CobaltScript;
}

namespace cobalt::cli {

class ReplInput {
public:
    ReplInput();
    ~ReplInput();
    ReplInput(const ReplInput&) = delete;
    ReplInput& operator=(const ReplInput&) = delete;

    /// Adds one physical line (without its line feed).
    void addLine(std::string_view line);
    /// True when the collected text can run: nothing is open any more.
    bool complete();
    /// True when nothing but blanks, empty lines and comments has been collected.
    bool blank() const;
    /// The collected lines, joined by line feeds.
    const std::string& text() const { return m_text; }
    void clear();

private:
    void scanLine(std::string_view line);
    bool lexicallyOpen() const;
    bool blocksOpen();

    std::string m_text;
    bool m_hasLine = false;
    bool m_blank = true;
    // The line splitter's state at the end of the last line.
    OpenStatement m_open;
    // False while the blocks were open at the last look and no line since could have closed
    // one: only a statement beginning with "end" or "until" closes a block, so the text need
    // not be parsed again for every line of a long block.
    bool m_mayClose = true;
    // Parses the collected text to find its blocks; kept apart from the session's engine so
    // that looking at unfinished input leaves no trace in the running script's state.
    std::unique_ptr<CobaltScript> m_parser;
};

} // namespace cobalt::cli
