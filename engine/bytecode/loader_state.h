#pragma once
// Script loading state: the directory and path stacks, the loaded-file cache and the
// jumpTo label registry.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/bytecode/bytecode_program.h"
#include "engine/bytecode/load_failure.h"

namespace cobalt {

struct ScriptCallable;

/// The stack of script directories or of script paths. Only its top is ever read, and every
/// script-function call makes its own file's text the top. Each entry carries an id that no
/// other entry gets in the life of the process (a copy of the stack keeps the ids, as the text
/// under an id never changes), so a function that has once found its text on top knows that
/// entry again by its id: a call within one file compares one number instead of a path.
class SourceStack {
public:
    bool empty() const { return m_texts.empty(); }
    size_t size() const { return m_texts.size(); }
    const std::string& back() const { return m_texts.back(); }
    /// The id of the top entry; only meaningful when the stack is not empty.
    uint64_t topId() const { return m_ids.back(); }

    /// Pushes `text` and returns the id of the new entry.
    uint64_t push_back(std::string text)
    {
        m_texts.push_back(std::move(text));
        m_ids.push_back(nextId());
        return m_ids.back();
    }
    /// Makes `text` the top entry unless it already is; returns the top entry's id.
    uint64_t pushUnlessOnTop(const std::string& text)
    {
        if (!empty() && back() == text) return topId();
        return push_back(text);
    }
    template <class... Args>
    void emplace_back(Args&&... args)
    {
        push_back(std::string(std::forward<Args>(args)...));
    }
    /// Cuts the stack back to `size` entries (a larger size appends empty texts).
    void resize(size_t size)
    {
        while (m_texts.size() < size) push_back(std::string());
        if (size < m_texts.size()) {
            m_texts.resize(size);
            m_ids.resize(size);
        }
    }
    void clear()
    {
        m_texts.clear();
        m_ids.clear();
    }
    friend void swap(SourceStack& a, SourceStack& b) noexcept
    {
        a.m_texts.swap(b.m_texts);
        a.m_ids.swap(b.m_ids);
    }

private:
    static uint64_t nextId()
    {
        static std::atomic<uint64_t> counter{0};
        return counter.fetch_add(1, std::memory_order_relaxed) + 1;
    }

    std::vector<std::string> m_texts;
    std::vector<uint64_t> m_ids;
};

struct LoadedFileEntry {
    ProgramRef program;
    uint64_t size = 0;
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;
    std::shared_ptr<ScriptCallable> function;
};

struct JumpTarget {
    std::weak_ptr<ScriptCallable> function;
    std::weak_ptr<BytecodeProgram> program;
    uint32_t chunk = 0;
    uint32_t nestIndex = 0;
};

struct LoaderState {
    SourceStack directoryStack;
    SourceStack pathStack;
    std::unordered_map<std::string, LoadedFileEntry> loadedFiles;
    std::unordered_map<std::string, JumpTarget> jumpTargets;
    bool jumpPending = false;
    std::string pendingJumpLabel;
    uint64_t loadedChunkDepth = 0;
    LoadFailure lastFailure;  // the latest load or loadFile that failed to compile
};

struct ActiveChunk {
    ProgramRef program;
    uint32_t chunk = 0;
};

} // namespace cobalt
