// The tree-walking executor: runs a range of parsed lines statement by statement, recursing
// into nested blocks through the block links that the parser recorded. It runs the bodies of
// functions that hold parsed lines; compiled code takes the bytecode road but shares the
// statement helpers and the loops.

#include <exception>
#include <string>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/exec/line_access.h"
#include "engine/exec/scope_stack_guard.h"

namespace cobalt {
namespace {

bool closesBlock(StatementKind kind)
{
    return kind == StatementKind::ElseIf || kind == StatementKind::Else || kind == StatementKind::End ||
           kind == StatementKind::Until;
}

bool isFunctionDeclaration(StatementKind kind)
{
    return kind == StatementKind::Function || kind == StatementKind::DecayFunction ||
           kind == StatementKind::NativeFunction || kind == StatementKind::LocalFunction;
}

/// for name = ...: at least four tokens, a name second and "=" third.
bool isNumericFor(const ParsedScriptLine& line)
{
    return line.tokens.size() >= 4 && tokenIsIdentifier(line, 1) && line.tokens[2] == "=";
}

class TreeWalker {
public:
    TreeWalker(CobaltScript& engine, const ParsedLines& lines, size_t& index, BlockSignal& signal)
        : m_engine(engine), m_lines(lines), m_index(index), m_signal(signal)
    {
    }

    /// Runs the statement at the index, leaving the index on the next statement to run.
    /// Returns the value that goes with a return or break signal.
    Variable run(Variable& lastValue)
    {
        const ParsedScriptLine& line = m_lines[m_index];
        switch (line.kind) {
        case StatementKind::If: return runIfChain();
        case StatementKind::While: return runWhile();
        case StatementKind::Repeat: return runRepeat();
        case StatementKind::For: return runFor();
        case StatementKind::Nest: return runNest();
        case StatementKind::Return: {
            Variable value = m_engine.evaluateReturnValues(line);
            m_signal = BlockSignal::Return;
            return value;
        }
        case StatementKind::Break: m_signal = BlockSignal::Break; return lastValue;
        default: break;
        }
        if (isFunctionDeclaration(line.kind)) {
            declare();
        } else {
            m_engine.executeSimpleStatement(line, lastValue);
            ++m_index;
        }
        return Variable();
    }

private:
    /// Runs the block that starts after line `opener`; the block's own index ends on the line
    /// that closed it.
    Variable runBlockAfter(size_t opener, BlockSignal& signal, size_t& stoppedAt)
    {
        stoppedAt = opener + 1;
        return m_engine.executeParsedBlock(m_lines, stoppedAt, signal);
    }

    bool passSignal(BlockSignal signal)
    {
        if (signal == BlockSignal::None) return false;
        m_signal = signal;
        return true;
    }

    /// Looks up a block link of `line` with failures positioned at that line.
    template <typename Lookup>
    uint64_t linkOf(const ParsedScriptLine& line, Lookup lookup)
    {
        m_engine.setPositionContext(line);
        try {
            return lookup();
        } catch (const std::exception&) {
            m_engine.rethrowPositioned(line);
        }
    }

    // if cond ... [elseif cond ...] [else ...] end
    Variable runIfChain()
    {
        size_t branch = m_index;
        while (true) {
            const ParsedScriptLine& line = m_lines[branch];
            bool hasNext = false;
            const uint64_t next =
                linkOf(line, [&] { return m_engine.findMatchingElseOrEnd(m_lines, branch + 1, hasNext); });
            const bool taken = line.kind == StatementKind::Else ||
                               m_engine.evaluateCondition(line, "Unexpected token after if condition");
            if (taken) {
                BlockSignal signal = BlockSignal::None;
                size_t stoppedAt = 0;
                Variable value = runBlockAfter(branch, signal, stoppedAt);
                if (passSignal(signal)) return value;
                if (m_engine.softErrorUnwinding()) return Variable();
                m_index = linkOf(line, [&] { return m_engine.findMatchingEnd(m_lines, branch + 1); }) + 1;
                return Variable();
            }
            if (!hasNext) {
                m_index = next + 1;
                return Variable();
            }
            branch = next;
        }
    }

    // while cond ... end
    Variable runWhile()
    {
        const size_t opener = m_index;
        const uint64_t end = m_engine.findMatchingEnd(m_lines, opener + 1);
        BlockSignal signal = BlockSignal::None;
        Variable value = m_engine.runWhileLoop(m_lines[opener], signal, [&](BlockSignal& bodySignal) {
            size_t stoppedAt = 0;
            Variable result = runBlockAfter(opener, bodySignal, stoppedAt);
            if (bodySignal == BlockSignal::None && !m_engine.softErrorUnwinding() &&
                (stoppedAt >= m_lines.size() || m_lines[stoppedAt].kind != StatementKind::End)) {
                m_engine.setPositionContext(m_lines[opener]);
                m_engine.throwError("Missing 'end' for while block", "end");
            }
            return result;
        });
        if (passSignal(signal)) return value;
        m_index = end + 1;
        return Variable();
    }

    // repeat ... until cond
    Variable runRepeat()
    {
        const size_t opener = m_index;
        const uint64_t until = m_engine.findMatchingUntil(m_lines, opener + 1);
        BlockSignal signal = BlockSignal::None;
        Variable value = m_engine.runRepeatLoop(m_lines[until], signal, [&](BlockSignal& bodySignal) {
            size_t stoppedAt = 0;
            Variable result = runBlockAfter(opener, bodySignal, stoppedAt);
            if (bodySignal == BlockSignal::None && !m_engine.softErrorUnwinding() && stoppedAt != until) {
                m_engine.setPositionContext(m_lines[until]);
                m_engine.throwError("repeat block did not terminate at matching until", "until");
            }
            return result;
        });
        if (passSignal(signal)) return value;
        m_index = until + 1;
        return Variable();
    }

    // for name = start, stop [, step] ... end   and   for names in expression ... end
    Variable runFor()
    {
        const size_t opener = m_index;
        const ParsedScriptLine& line = m_lines[opener];
        const uint64_t end = m_engine.findMatchingEnd(m_lines, opener + 1);
        auto body = [&](BlockSignal& bodySignal) {
            size_t stoppedAt = 0;
            return runBlockAfter(opener, bodySignal, stoppedAt);
        };
        BlockSignal signal = BlockSignal::None;
        Variable value = isNumericFor(line) ? m_engine.runNumericFor(line, signal, body)
                                            : m_engine.runGenericFor(line, signal, body);
        if (passSignal(signal)) return value;
        m_index = end + 1;
        return Variable();
    }

    // nest "label" ... end: an ordinary block run in place (its label is for jumpTo)
    Variable runNest()
    {
        const size_t opener = m_index;
        const uint64_t end = m_engine.findMatchingEnd(m_lines, opener + 1);
        BlockSignal signal = BlockSignal::None;
        size_t stoppedAt = 0;
        Variable value = runBlockAfter(opener, signal, stoppedAt);
        if (passSignal(signal)) return value;
        m_index = end + 1;
        return Variable();
    }

    void declare()
    {
        const size_t opener = m_index;
        uint64_t end = kNoLine;
        m_engine.declareFunction(m_lines[opener], [&](ScriptCallable& function) {
            end = m_engine.findMatchingEnd(m_lines, opener + 1);
            function.bodyLines = CobaltScript::copyFunctionBody(m_lines, opener + 1, end);
        });
        m_index = end + 1;
    }

    CobaltScript& m_engine;
    const ParsedLines& m_lines;
    size_t& m_index;
    BlockSignal& m_signal;
};

} // namespace

Variable CobaltScript::executeParsedBlock(const ParsedLines& lines, size_t& index, BlockSignal& signal)
{
    checkNativeStack();
    ScopeStackGuard guard(*this);
    pushBlockScope();
    signal = BlockSignal::None;
    Variable lastValue;
    TreeWalker walker(*this, lines, index, signal);
    while (index < lines.size()) {
        if (softErrorUnwinding()) return Variable();
        checkStopBoundary();
        const ParsedScriptLine& line = lines[index];
        setPositionContext(line);
        if (line.tokens.empty()) {
            ++index;
            continue;
        }
        if (closesBlock(line.kind)) return lastValue;
        Variable value;
        try {
            value = walker.run(lastValue);
        } catch (const std::exception&) {
            rethrowPositioned(line);
        }
        if (signal != BlockSignal::None) return value;
    }
    return lastValue;
}

ParsedLines CobaltScript::copyFunctionBody(const ParsedLines& lines, uint64_t first, uint64_t end)
{
    if (end > lines.size()) end = lines.size();
    if (first >= end) return {};
    ParsedLines body(lines.begin() + static_cast<std::ptrdiff_t>(first),
                     lines.begin() + static_cast<std::ptrdiff_t>(end));
    // Links are indices into the list; in the copy they must count from its first line.
    auto rebase = [first, end](uint64_t link) { return link >= first && link < end ? link - first : kNoLine; };
    for (ParsedScriptLine& line : body) {
        if (line.matchingEnd != kNoLine) line.matchingEnd = rebase(line.matchingEnd);
        if (line.nextBranch != kNoLine) line.nextBranch = rebase(line.nextBranch);
    }
    return body;
}

} // namespace cobalt
