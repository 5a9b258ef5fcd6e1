// The road every script takes: a path or a text becomes a compiled program, and the program's
// chunk 0 becomes a script function value. Files are cached per resolved path and reused while
// their size and modification time stay the same.

#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "engine/bytecode/load_failure.h"
#include "engine/bytecode/paths.h"
#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {

namespace {

constexpr const char* kOpenFailure = "Failed to open script file: ";

/// Restores the path stacks and the running statement's position context when a load ends,
/// however it ends. Compiling tokenises the new text, which repoints the error context at
/// statements that die with a failed program; the statement that called load must find its
/// own context again.
class LoadContextGuard {
public:
    explicit LoadContextGuard(CobaltScript& engine)
        : m_engine(engine),
          m_directoryDepth(engine.loader.directoryStack.size()),
          m_pathDepth(engine.loader.pathStack.size()),
          m_context(engine.errorContext)
    {
    }
    ~LoadContextGuard()
    {
        m_engine.loader.directoryStack.resize(m_directoryDepth);
        m_engine.loader.pathStack.resize(m_pathDepth);
        m_engine.errorContext = m_context;
    }
    LoadContextGuard(const LoadContextGuard&) = delete;
    LoadContextGuard& operator=(const LoadContextGuard&) = delete;

private:
    CobaltScript& m_engine;
    size_t m_directoryDepth;
    size_t m_pathDepth;
    ErrorContext m_context;
};

Variable loadFailed(const std::string& message)
{
    std::vector<Variable> values;
    values.emplace_back();
    values.emplace_back(message);
    return Variable::makeMulti(std::move(values));
}

/// Reads a whole file; false when it cannot be opened or read (a directory, for one).
bool readWholeFile(const std::string& path, std::string& out)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return false;
    out.clear();
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) out.append(buffer, got);
    return std::ferror(file.get()) == 0;
}

/// Every function declared in a program carries the program's source location.
void stampProgramLocation(BytecodeProgram& program, const std::string& directory, const std::string& path)
{
    program.directory = directory;
    program.path = path;
    for (BytecodeFunctionDecl& decl : program.functionDecls) {
        decl.directory = directory;
        decl.path = path;
    }
}

CallableRef makeChunkFunction(const CobaltScript& engine, const ProgramRef& program, const std::string& directory,
                              const std::string& path)
{
    auto function = std::make_shared<ScriptCallable>();
    function->program = program;
    function->chunkIndex = 0;
    function->isLoadedChunk = true;
    function->sourceDirectory = directory;
    function->sourcePath = path;
    function->capturedScope = engine.scopes.currentFrame;
    return function;
}

/// Compiles with the position context cleared, so that whatever the parser or the compiler
/// records about a failure can be told from what the calling statement had, and keeps that
/// record for hosts that show a failed main script.
ProgramRef compileRecordingFailure(CobaltScript& engine, std::string_view source, const std::string& name)
{
    LoadFailure& record = engine.loader.lastFailure;
    record = LoadFailure{};
    engine.errorContext.currentLine = kNoLine;
    engine.errorContext.sourceText = nullptr;
    engine.errorContext.overrideSource.clear();
    engine.errorContext.nearToken.clear();
    try {
        return engine.compileToBytecodeInternal(source);
    } catch (const std::exception& failure) {
        record.message = failure.what();
        record.path = name;
        record.line = engine.errorContext.currentLine;
        record.nearToken = engine.errorContext.nearToken.text();
        if (!engine.errorContext.overrideSource.empty()) {
            record.sourceText = engine.errorContext.overrideSource;
        } else if (record.sourceText.empty() && engine.errorContext.sourceText == &engine.errorContext.ownedSource) {
            // A failure while the text was parsed (a bad nest label) names a statement that
            // died with the parse; the context kept a copy of it.
            record.sourceText = engine.errorContext.ownedSource;
        }
        throw;
    }
}

} // namespace

ProgramRef CobaltScript::compileToBytecodeInternal(std::string_view source)
{
    auto program = std::make_shared<BytecodeProgram>();
    if (!loader.directoryStack.empty()) program->directory = loader.directoryStack.back();
    if (!loader.pathStack.empty()) program->path = loader.pathStack.back();
    program->lines = parseLines(source);
    // Parsing leaves the context on the last statement it made; a compile failure must not
    // be reported there unless the compiler points at the statement itself.
    errorContext.currentLine = kNoLine;
    errorContext.sourceText = nullptr;
    errorContext.nearToken.clear();
    program->instructions.reserve(program->lines.size() * 2);
    try {
        compileBytecodeChunk(*program, program->lines, 0, program->lines.size(), program->directory, 0);
    } catch (...) {
        // The failing statement's text lives in program->lines only until the program goes
        // away: keep a copy for the failure record. The pointer is only compared, never
        // followed, unless it names one of these lines.
        for (const ParsedScriptLine& line : program->lines) {
            if (errorContext.sourceText == &line.text) {
                loader.lastFailure.sourceText = line.text;
                break;
            }
        }
        throw;
    }
    return program;
}

Variable CobaltScript::loadScriptFile(NativeArgs args)
{
    if (args.empty() || args[0].type != VarType::String) fail("loadFile(path) requires a script path string");
    const std::string resolved = resolvePath(args[0].asString());
    const std::string directory = pathDirectory(resolved);

    struct stat info {};
    if (::stat(resolved.c_str(), &info) != 0) return loadFailed(kOpenFailure + resolved);
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    const int64_t seconds = static_cast<int64_t>(info.st_mtim.tv_sec);
    const int64_t nanoseconds = static_cast<int64_t>(info.st_mtim.tv_nsec);

    LoadedFileEntry* entry = nullptr;
    if (auto found = loader.loadedFiles.find(resolved); found != loader.loadedFiles.end()) {
        const LoadedFileEntry& cached = found->second;
        if (cached.program && cached.size == size && cached.modifiedSeconds == seconds &&
            cached.modifiedNanoseconds == nanoseconds) {
            entry = &found->second;
        }
    }

    if (entry == nullptr) {
        std::string source;
        if (!readWholeFile(resolved, source)) return loadFailed(kOpenFailure + resolved);
        ProgramRef program;
        {
            LoadContextGuard guard(*this);
            try {
                if (!directory.empty()) loader.directoryStack.push_back(directory);
                loader.pathStack.push_back(resolved);
                program = compileRecordingFailure(*this, source, resolved);
            } catch (const std::exception& failure) {
                return loadFailed(failure.what());
            }
        }
        stampProgramLocation(*program, directory, resolved);
        LoadedFileEntry& slot = loader.loadedFiles[resolved];
        slot.program = std::move(program);
        slot.size = size;
        slot.modifiedSeconds = seconds;
        slot.modifiedNanoseconds = nanoseconds;
        slot.function.reset();
        entry = &slot;
    }

    if (!entry->function) {
        CallableRef function = makeChunkFunction(*this, entry->program, directory, resolved);
        entry->function = function;
        if (!entry->program->chunks.empty()) registerCallableNestLabelsRecursive(function, 0);
    }
    return Variable(entry->function);
}

Variable CobaltScript::loadScriptChunk(NativeArgs args)
{
    if (args.empty() || args[0].type != VarType::String) fail("load(scriptText) requires a script string");
    const bool named = args.size() > 1 && args[1].type == VarType::String && !args[1].asString().empty();

    ProgramRef program;
    {
        LoadContextGuard guard(*this);
        try {
            if (named) loader.pathStack.push_back(args[1].asString());
            const std::string name = loader.pathStack.empty() ? std::string() : loader.pathStack.back();
            program = compileRecordingFailure(*this, args[0].asString(), name);
        } catch (const std::exception& failure) {
            return loadFailed(failure.what());
        }
    }
    CallableRef function = makeChunkFunction(*this, program, program->directory, program->path);
    if (!program->chunks.empty()) registerCallableNestLabelsRecursive(function, 0);
    return Variable(function);
}

Variable CobaltScript::runScriptFile(NativeArgs args)
{
    Variable loaded = loadScriptFile(args);
    if (loaded.type == VarType::Multi) {
        const std::vector<Variable>& values = loaded.asMulti()->values;
        if (!values.empty() && values[0].isNot()) {
            if (values.size() > 1 && values[1].type == VarType::String) fail(values[1].asString());
            fail("Failed to load script file");
        }
    }
    return invokeCallableFast(loaded, nullptr, 0);
}

Variable CobaltScript::runScriptFilePath(const std::string& path)
{
    // A host's run may come on any thread: what the script makes there belongs to this engine.
    const ActiveContainerRegistry activeContainers(containers);
    const Variable argument(path);
    return runScriptFile(NativeArgs(&argument, 1));
}

} // namespace cobalt
