// What most engine unit tests need: an engine whose printed lines are collected, the two ways
// of running text (the tree-walker over parsed lines, and a loaded chunk), and the failure
// text of anything that may throw.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

#include <stdlib.h>

namespace cobalt {

/// What `work` throws, or "(no failure)" when it runs through.
template <typename Work>
std::string failureOf(Work&& work)
{
    try {
        std::forward<Work>(work)();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no failure)";
}

/// The first line of a failure text, without the "CobaltScript error: " prefix.
inline std::string firstLine(std::string text)
{
    text = text.substr(0, text.find('\n'));
    if (text.starts_with(kErrorPrefix)) text.erase(0, kErrorPrefix.size());
    return text;
}

/// Runs `work` on a thread with a stack of `bytes`, like the small worker threads an embedder
/// may use, so that recursion limits are tested against a stack of known size.
inline void onSmallStack(size_t bytes, const std::function<void()>& work)
{
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, bytes), 0);
    pthread_t thread;
    auto entry = [](void* task) -> void* {
        (*static_cast<const std::function<void()>*>(task))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, entry, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

struct EngineFixture {
    EngineFixture()
    {
        engine.printHandler = [this](std::string_view line) { output += std::string(line) + "\n"; };
    }

    /// Parses `source` and runs it through the tree-walker as one top-level block; returns
    /// everything printed so far. The lines stay alive, since functions declared there keep them.
    std::string run(std::string_view source)
    {
        lines = std::make_shared<ParsedLines>(engine.parseLines(source));
        size_t index = 0;
        BlockSignal signal = BlockSignal::None;
        engine.executeParsedBlock(*lines, index, signal);
        return output;
    }

    /// Runs `source` as a loaded chunk (compiled, through the bytecode interpreter).
    Variable load(const std::string& source)
    {
        const Variable text(source);
        const Variable chunk = engine.loadScriptChunk(NativeArgs(&text, 1));
        if (chunk.type != VarType::Function) throw std::runtime_error("not loaded: " + chunk.toString());
        return engine.invokeCallableFast(chunk, nullptr, 0);
    }
    /// `text` as one statement, tokenised and analysed, as the parser would leave it.
    ParsedScriptLine lineOf(const std::string& text)
    {
        ParsedScriptLine line;
        line.text = text;
        line.tokens = engine.tokenise(line.text);
        for (const Token& token : line.tokens) line.analyses.push_back(engine.analyseToken(token));
        return line;
    }

    /// The first line of the failure of running `source` through the tree-walker.
    std::string message(std::string_view source)
    {
        return firstLine(failureOf([&] { run(source); }));
    }

    Variable global(const std::string& name)
    {
        const Variable* slot = engine.resolveVariablePtr(name);
        return slot ? *slot : Variable();
    }

    void defineNative(const std::string& name, NativeFunction function)
    {
        engine.pushVariable(name, engine.makeNativeCallable(std::move(function), name, BuiltinId::None));
    }

    CobaltScript engine;
    std::string output;
    std::shared_ptr<ParsedLines> lines;
};

/// A fresh folder under the system's temporary folder, removed again by the destructor.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quill-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    std::string path(const std::string& relative = "") const
    {
        return relative.empty() ? m_path : (std::filesystem::path(m_path) / relative).string();
    }

    /// Writes `text` to a file at `relative`, making its folders; returns its full path.
    std::string file(const std::string& relative, const std::string& text) const
    {
        const std::filesystem::path full = path(relative);
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << text;
        return full.string();
    }

private:
    std::string m_path;
};

} // namespace cobalt
