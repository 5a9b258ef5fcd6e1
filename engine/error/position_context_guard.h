#pragma once
// Keeps a statement's position context across code that runs elsewhere in between (a
// script function call, compiling a chunk with `load`): whatever that code sets, the
// statement's own line, text and near-token are back when the guard ends, and the error
// text never reads a line that the inner code has since freed.

#include <cstdint>
#include <string>

#include "engine/error/error_context.h"

namespace cobalt {

class PositionContextGuard {
public:
    explicit PositionContextGuard(ErrorContext& context)
        : m_context(context),
          m_line(context.currentLine),
          m_source(context.sourceText),
          m_nearTokenIndex(context.nearTokenIndex),
          m_sourceIsOwned(context.sourceText == &context.ownedSource)
    {
        if (m_sourceIsOwned) m_ownedSource = context.ownedSource;
        m_nearToken.saveFrom(context.nearToken);
    }

    ~PositionContextGuard()
    {
        m_context.currentLine = m_line;
        m_context.nearToken.restoreFrom(std::move(m_nearToken));
        m_context.nearTokenIndex = m_nearTokenIndex;
        if (m_sourceIsOwned) {
            m_context.ownedSource = std::move(m_ownedSource);
            m_context.sourceText = &m_context.ownedSource;
        } else {
            m_context.sourceText = m_source;
        }
    }

    PositionContextGuard(const PositionContextGuard&) = delete;
    PositionContextGuard& operator=(const PositionContextGuard&) = delete;

private:
    ErrorContext& m_context;
    uint64_t m_line;
    const std::string* m_source;
    NearToken m_nearToken;
    uint64_t m_nearTokenIndex;
    bool m_sourceIsOwned;
    std::string m_ownedSource;
};

} // namespace cobalt
