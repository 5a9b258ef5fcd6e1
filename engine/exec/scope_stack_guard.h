#pragma once
// Scope bookkeeping that must be undone on every exit from a block, loop or call, whether it
// ends normally, by a signal or by a failure unwinding through it.

#include <cstddef>

#include "engine/cobalt_script.h"

namespace cobalt {

/// Pops the block and loop scopes pushed after construction.
class ScopeStackGuard {
public:
    explicit ScopeStackGuard(CobaltScript& engine)
        : m_engine(engine), m_blocks(engine.scopes.blocks.size()), m_loops(engine.scopes.loops.size())
    {
    }
    ~ScopeStackGuard()
    {
        while (m_engine.scopes.blocks.size() > m_blocks) m_engine.popBlockScope();
        while (m_engine.scopes.loops.size() > m_loops) m_engine.popLoopScope();
    }
    ScopeStackGuard(const ScopeStackGuard&) = delete;
    ScopeStackGuard& operator=(const ScopeStackGuard&) = delete;

    size_t loopDepth() const { return m_loops; }

private:
    CobaltScript& m_engine;
    size_t m_blocks;
    size_t m_loops;
};

} // namespace cobalt
