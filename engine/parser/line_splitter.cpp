// Splitting a script into statements. A statement is normally one physical line; ";"
// separates statements on one line, and a statement goes on over the next lines while a
// bracket or a string is open.

#include <algorithm>
#include <string_view>

#include "engine/cobalt_script.h"
#include "engine/parser/nesting_limit.h"
#include "engine/parser/open_statement.h"

namespace cobalt {

namespace {

std::string_view trimSpacesAndTabs(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

class LineSplitter {
public:
    LineSplitter(CobaltScript& engine, ParsedLines& lines) : m_engine(engine), m_lines(lines) {}

    void splitLine(std::string_view line, uint64_t lineNumber)
    {
        const bool pendingAtStart = !m_pending.empty();
        size_t segmentStart = 0;
        size_t usefulEnd = line.size();
        for (size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (m_open.inString) {
                m_open.scanStringByte(c);
                continue;
            }
            if (c == '@' && i + 1 < line.size() && line[i + 1] == '@') {
                usefulEnd = i;  // "@@" starts a comment
                break;
            }
            m_open.scanCodeByte(c);
            if (c == ';' && m_open.atTopLevel()) {
                appendSegment(line.substr(segmentStart, i - segmentStart), lineNumber);
                finishStatement();
                segmentStart = i + 1;
            }
        }
        if (segmentStart < usefulEnd) appendSegment(line.substr(segmentStart, usefulEnd - segmentStart), lineNumber);
        // An empty line, or a comment from the first column, keeps its place as an empty
        // statement; a line of blanks does not.
        if (usefulEnd == 0 && !pendingAtStart) addEmptyStatement(lineNumber);
        if (!m_open.open()) finishStatement();
    }

    /// At the end of the text an open bracket or string no longer holds the statement back.
    void finishText() { finishStatement(); }

private:
    void appendSegment(std::string_view segment, uint64_t lineNumber)
    {
        segment = trimSpacesAndTabs(segment);
        if (segment.empty()) return;
        if (m_pending.empty()) {
            m_pendingLine = lineNumber;
        } else {
            m_pending += ' ';
        }
        m_pending += segment;
    }

    void addEmptyStatement(uint64_t lineNumber)
    {
        ParsedScriptLine statement;
        statement.lineNumber = lineNumber;
        m_lines.push_back(std::move(statement));
    }

    void finishStatement()
    {
        if (m_pending.empty()) return;
        ParsedScriptLine statement;
        statement.lineNumber = m_pendingLine;
        statement.text = std::move(m_pending);
        m_pending.clear();
        // An unterminated string fails here, reported on the statement's own line.
        m_engine.errorContext.currentLine = statement.lineNumber;
        statement.tokens = m_engine.tokenise(statement.text);
        if (const size_t at = findExcessiveNesting(statement.tokens); at < statement.tokens.size()) {
            m_engine.throwError(kNestingTooDeep, statement.tokens[at]);
        }
        statement.analyses.reserve(statement.tokens.size());
        for (const Token& token : statement.tokens) statement.analyses.push_back(analyseToken(token));
        m_lines.push_back(std::move(statement));
    }

    CobaltScript& m_engine;
    ParsedLines& m_lines;
    std::string m_pending;
    uint64_t m_pendingLine = 0;
    OpenStatement m_open;
};

} // namespace

ParsedLines CobaltScript::parseLines(std::string_view source)
{
    ParsedLines lines;
    lines.reserve(static_cast<size_t>(std::count(source.begin(), source.end(), '\n')) + 1);
    LineSplitter splitter(*this, lines);
    uint64_t lineNumber = 0;
    // Physical lines end at a line feed; the last one need not have one. A carriage return
    // before it stays in the text (the tokeniser treats it as white space).
    while (!source.empty()) {
        const size_t end = source.find('\n');
        splitter.splitLine(source.substr(0, end), lineNumber++);
        if (end == std::string_view::npos) break;
        source.remove_prefix(end + 1);
    }
    splitter.finishText();
    prepareParsedLines(lines);
    return lines;
}

} // namespace cobalt
