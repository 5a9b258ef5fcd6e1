// Block links and the look-ups the executors make through them.

#include "engine/parser/block_links.h"

#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {

namespace {

struct OpenBlock {
    StatementKind kind;
    uint64_t opener;
    std::vector<uint64_t> branches;  // if chains: the if line, then each elseif / else line
};

bool opensBlock(StatementKind kind)
{
    switch (kind) {
    case StatementKind::While:
    case StatementKind::For:
    case StatementKind::Repeat:
    case StatementKind::Function:
    case StatementKind::DecayFunction:
    case StatementKind::NativeFunction:
    case StatementKind::LocalFunction:
    case StatementKind::Nest:
        return true;
    default:
        return false;
    }
}

void closeWithEnd(ParsedLines& lines, const OpenBlock& block, uint64_t endLine)
{
    if (block.kind == StatementKind::If) {
        for (uint64_t branch : block.branches) lines[branch].matchingEnd = endLine;
    } else {
        lines[block.opener].matchingEnd = endLine;
    }
}

/// The opener line of a "position just after the opener" argument, or null when the
/// position is 0 or past the list.
const ParsedScriptLine* openerAt(const ParsedLines& lines, uint64_t position)
{
    if (position == 0 || position > lines.size()) return nullptr;
    return &lines[position - 1];
}

bool validLink(const ParsedLines& lines, uint64_t link) { return link != kNoLine && link < lines.size(); }

} // namespace

void linkBlocks(ParsedLines& lines)
{
    std::vector<OpenBlock> open;
    for (uint64_t i = 0; i < lines.size(); ++i) {
        const StatementKind kind = lines[i].kind;
        if (kind == StatementKind::If) {
            open.push_back({kind, i, {i}});
        } else if (kind == StatementKind::ElseIf || kind == StatementKind::Else) {
            if (!open.empty() && open.back().kind == StatementKind::If) {
                lines[open.back().branches.back()].nextBranch = i;
                open.back().branches.push_back(i);
            }
        } else if (opensBlock(kind)) {
            open.push_back({kind, i, {}});
        } else if (kind == StatementKind::End) {
            if (open.empty()) continue;  // a stray "end" does nothing
            closeWithEnd(lines, open.back(), i);
            open.pop_back();
        } else if (kind == StatementKind::Until) {
            if (!open.empty() && open.back().kind == StatementKind::Repeat) {
                lines[open.back().opener].matchingEnd = i;
                open.pop_back();
            }
        }
    }
}

uint64_t CobaltScript::findMatchingEnd(const ParsedLines& lines, uint64_t position) const
{
    const ParsedScriptLine* opener = openerAt(lines, position);
    if (!opener || !validLink(lines, opener->matchingEnd)) fail("Missing 'end' for block");
    return opener->matchingEnd;
}

uint64_t CobaltScript::findMatchingElseOrEnd(const ParsedLines& lines, uint64_t position, bool& isBranch) const
{
    const ParsedScriptLine* opener = openerAt(lines, position);
    if (opener && validLink(lines, opener->nextBranch)) {
        isBranch = true;
        return opener->nextBranch;
    }
    if (opener && validLink(lines, opener->matchingEnd)) {
        isBranch = false;
        return opener->matchingEnd;
    }
    fail("Missing 'end' for if block");
}

uint64_t CobaltScript::findMatchingUntil(const ParsedLines& lines, uint64_t position) const
{
    const ParsedScriptLine* opener = openerAt(lines, position);
    if (!opener || !validLink(lines, opener->matchingEnd)) fail("Missing 'until' for repeat block");
    return opener->matchingEnd;
}

} // namespace cobalt
