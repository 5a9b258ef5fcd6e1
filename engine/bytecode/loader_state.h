#pragma once
// Script loading state: the directory and path stacks, the loaded-file cache and the
// jumpTo label registry.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/bytecode/bytecode_program.h"
#include "engine/bytecode/load_failure.h"

namespace cobalt {

struct ScriptCallable;

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
    std::vector<std::string> directoryStack;
    std::vector<std::string> pathStack;
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
