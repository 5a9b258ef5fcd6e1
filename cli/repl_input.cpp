#include "cli/repl_input.h"

#include <exception>

#include "engine/cobalt_script.h"

namespace cobalt::cli {

namespace {

bool opensBlock(StatementKind kind)
{
    switch (kind) {
    case StatementKind::If:
    case StatementKind::While:
    case StatementKind::Repeat:
    case StatementKind::For:
    case StatementKind::Function:
    case StatementKind::DecayFunction:
    case StatementKind::NativeFunction:
    case StatementKind::LocalFunction:
    case StatementKind::Nest: return true;
    default: return false;
    }
}

} // namespace

ReplInput::ReplInput() = default;
ReplInput::~ReplInput() = default;

void ReplInput::addLine(std::string_view line)
{
    if (m_hasLine) m_text.push_back('\n');
    m_text.append(line);
    m_hasLine = true;
    if (line.find("end") != std::string_view::npos || line.find("until") != std::string_view::npos) {
        m_mayClose = true;
    }
    scanLine(line);
}

// Follows the bytes with the engine line splitter's scanner: strings with their escapes (an
// escape may even run over the line end), "@@" comments, and the three bracket depths, which
// never drop below zero. A ";" does not matter here: it only splits at the top level, where
// every depth is already zero.
void ReplInput::scanLine(std::string_view line)
{
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (m_open.inString) {
            m_blank = false;
            m_open.scanStringByte(c);
            continue;
        }
        if (c == '@' && i + 1 < line.size() && line[i + 1] == '@') break;
        if (c != ' ' && c != '\t' && c != '\r') m_blank = false;
        m_open.scanCodeByte(c);
    }
}

bool ReplInput::lexicallyOpen() const { return m_open.open(); }

bool ReplInput::blocksOpen()
{
    if (!m_parser) m_parser = std::make_unique<CobaltScript>();
    ParsedLines lines;
    try {
        lines = m_parser->parseLines(m_text);
    } catch (const std::exception&) {
        // A statement the parser refuses will not get better with more lines: let it run,
        // so that its compile error is shown.
        return false;
    }
    for (const ParsedScriptLine& line : lines) {
        if (opensBlock(line.kind) && line.matchingEnd == kNoLine) {
            m_mayClose = false;
            return true;
        }
    }
    return false;
}

bool ReplInput::complete()
{
    if (m_blank) return true;
    if (lexicallyOpen() || !m_mayClose) return false;
    return !blocksOpen();
}

bool ReplInput::blank() const { return m_blank; }

void ReplInput::clear()
{
    m_text.clear();
    m_hasLine = false;
    m_mayClose = true;
    m_blank = true;
    m_open = OpenStatement();
}

} // namespace cobalt::cli
