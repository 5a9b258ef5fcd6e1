// Script loading: path helpers, path resolution, the loaded-file cache, load/loadFile
// failures and the state they must leave behind, and the layout of load failures.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/bytecode/load_failure.h"
#include "engine/bytecode/paths.h"
#include "engine/cobalt_script.h"

namespace cobalt {
namespace {

namespace fs = std::filesystem;

/// A fresh folder under the system's temporary directory, removed again at the end.
class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "cobalt-loader-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        const char* made = ::mkdtemp(buffer.data());
        if (made == nullptr) throw std::runtime_error("mkdtemp failed");
        m_path = made;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string file(const std::string& relative, const std::string& text) const
    {
        const fs::path full = fs::path(m_path) / relative;
        fs::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << text;
        return full.string();
    }
    std::string path(const std::string& relative = "") const
    {
        return relative.empty() ? m_path : (fs::path(m_path) / relative).string();
    }

private:
    std::string m_path;
};

Variable callLoadFile(CobaltScript& engine, const std::string& path)
{
    const Variable argument(path);
    return engine.loadScriptFile(NativeArgs(&argument, 1));
}

Variable callLoad(CobaltScript& engine, const std::string& text, const std::string& name = "")
{
    const Variable arguments[] = {Variable(text), Variable(name)};
    return engine.loadScriptChunk(NativeArgs(arguments, name.empty() ? 1 : 2));
}

/// The message of a (not, message) failure pair; fails the test for anything else.
std::string failureMessage(const Variable& result)
{
    EXPECT_EQ(result.type, VarType::Multi);
    if (result.type != VarType::Multi) return {};
    const auto& values = result.asMulti()->values;
    EXPECT_EQ(values.size(), 2u);
    if (values.size() != 2) return {};
    EXPECT_TRUE(values[0].isNot());
    EXPECT_EQ(values[1].type, VarType::String);
    return values[1].type == VarType::String ? values[1].asString() : std::string();
}

TEST(ResolvePath, AbsoluteEmptyAndBaselessPathsAreUnchanged)
{
    CobaltScript engine;
    EXPECT_EQ(engine.resolvePath("no-such-file.cbs"), "no-such-file.cbs");
    engine.loader.directoryStack.push_back("/somewhere");
    EXPECT_EQ(engine.resolvePath(""), "");
    EXPECT_EQ(engine.resolvePath("/no/such/file.cbs"), "/no/such/file.cbs");
}

TEST(ResolvePath, RelativeToRunningScriptDirectory)
{
    TempFolder folder;
    const std::string helper = folder.file("lib/helper.cbs", "");
    CobaltScript engine;
    engine.loader.directoryStack.push_back(folder.path("lib"));
    EXPECT_EQ(engine.resolvePath("helper.cbs"), helper);
    // A missing file still resolves beside the script, so its failure names that place.
    EXPECT_EQ(engine.resolvePath("absent.cbs"), folder.path("lib") + "/absent.cbs");
}

TEST(ResolvePath, FallsBackToDirectoryOfRunningPath)
{
    TempFolder folder;
    const std::string helper = folder.file("lib/helper.cbs", "");
    CobaltScript engine;
    engine.loader.directoryStack.push_back("");
    engine.loader.pathStack.push_back(folder.path("lib/main.cbs"));
    EXPECT_EQ(engine.resolvePath("helper.cbs"), helper);
}

TEST(ResolvePath, ResourcesRootAndBundledScripts)
{
    TempFolder folder;
    const std::string shared = folder.file("App/Resources/shared.cbs", "");
    const std::string bundled = folder.file("App/Resources/scripts/bot/tool.cbs", "");
    folder.file("App/Resources/bots/main.cbs", "");
    CobaltScript engine;
    engine.loader.directoryStack.push_back(folder.path("App/Resources/bots"));
    EXPECT_EQ(engine.resolvePath("shared.cbs"), shared);
    EXPECT_EQ(engine.resolvePath("ast/scripts/bot/tool.cbs"), bundled);
    EXPECT_EQ(engine.resolvePath("ast/scripts/bot/none.cbs"), folder.path("App/Resources/bots") + "/ast/scripts/bot/none.cbs");

    // "Resources" must end a path component.
    folder.file("ResourcesX/shared.cbs", "");
    folder.file("ResourcesX/bots/main.cbs", "");
    engine.loader.directoryStack.push_back(folder.path("ResourcesX/bots"));
    EXPECT_EQ(engine.resolvePath("shared.cbs"), folder.path("ResourcesX/bots") + "/shared.cbs");
}

TEST(LoadFile, MissingFileOrDirectoryNamesTheResolvedPath)
{
    TempFolder folder;
    CobaltScript engine;
    EXPECT_EQ(failureMessage(callLoadFile(engine, folder.path())), "Failed to open script file: " + folder.path());
    engine.loader.directoryStack.push_back(folder.path());
    EXPECT_EQ(failureMessage(callLoadFile(engine, "absent.cbs")),
              "Failed to open script file: " + folder.path() + "/absent.cbs");
}

TEST(LoadFile, NonStringArgumentsThrow)
{
    CobaltScript engine;
    const Variable number(int32_t{3});
    EXPECT_THROW(engine.loadScriptFile(NativeArgs(&number, 1)), std::runtime_error);
    EXPECT_THROW(engine.loadScriptFile(NativeArgs()), std::runtime_error);
    EXPECT_THROW(engine.loadScriptChunk(NativeArgs(&number, 1)), std::runtime_error);
}

TEST(LoadFile, UnchangedFileGivesSameFunction)
{
    TempFolder folder;
    const std::string script = folder.file("a.cbs", "x = 1\n");
    CobaltScript engine;
    const Variable first = callLoadFile(engine, script);
    const Variable second = callLoadFile(engine, script);
    ASSERT_EQ(first.type, VarType::Function);
    ASSERT_EQ(second.type, VarType::Function);
    EXPECT_EQ(first.asCallable(), second.asCallable());
    EXPECT_TRUE(first.asCallable()->isLoadedChunk);
    EXPECT_EQ(first.asCallable()->sourcePath, script);
    EXPECT_EQ(first.asCallable()->sourceDirectory, folder.path());
}

TEST(LoadFile, NewModificationTimeCompilesAgain)
{
    TempFolder folder;
    const std::string script = folder.file("a.cbs", "x = 1\n");
    CobaltScript engine;
    const Variable first = callLoadFile(engine, script);
    ASSERT_EQ(first.type, VarType::Function);

    // Same size, a different modification time: the cache entry is stale.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123}};
    ASSERT_EQ(::utimensat(AT_FDCWD, script.c_str(), times, 0), 0);
    const Variable second = callLoadFile(engine, script);
    ASSERT_EQ(second.type, VarType::Function);
    EXPECT_NE(first.asCallable(), second.asCallable());
    EXPECT_NE(first.asCallable()->program, second.asCallable()->program);
}

TEST(LoadFile, DeclarationsCarryTheFileLocation)
{
    TempFolder folder;
    const std::string script = folder.file("lib/f.cbs", "function f()\n  return 1\nend\n");
    CobaltScript engine;
    const Variable loaded = callLoadFile(engine, script);
    ASSERT_EQ(loaded.type, VarType::Function);
    const BytecodeProgram& program = *loaded.asCallable()->program;
    EXPECT_EQ(program.path, script);
    EXPECT_EQ(program.directory, folder.path("lib"));
    ASSERT_EQ(program.functionDecls.size(), 1u);
    EXPECT_EQ(program.functionDecls[0].path, script);
    EXPECT_EQ(program.functionDecls[0].directory, folder.path("lib"));
}

TEST(LoadFile, CompileFailureLeavesStacksAndContext)
{
    TempFolder folder;
    const std::string script = folder.file("broken.cbs", "if true\n  x = 1\n");
    CobaltScript engine;
    engine.loader.directoryStack.push_back("outer");
    engine.loader.pathStack.push_back("outer/main.cbs");
    const std::string running = "y = loadFile(p)";
    engine.errorContext.sourceText = &running;
    engine.errorContext.currentLine = 41;
    engine.errorContext.nearToken = "loadFile";

    EXPECT_EQ(failureMessage(callLoadFile(engine, script)), "Missing 'end' for if block");
    EXPECT_EQ(engine.loader.directoryStack, std::vector<std::string>{"outer"});
    EXPECT_EQ(engine.loader.pathStack, std::vector<std::string>{"outer/main.cbs"});
    EXPECT_EQ(engine.errorContext.sourceText, &running);
    EXPECT_EQ(engine.errorContext.currentLine, 41u);
    EXPECT_EQ(engine.errorContext.nearToken, "loadFile");
    EXPECT_TRUE(engine.loader.loadedFiles.find(script) == engine.loader.loadedFiles.end());
    EXPECT_EQ(engine.loader.lastFailure.message, "Missing 'end' for if block");
    EXPECT_EQ(engine.loader.lastFailure.path, script);
}

TEST(Load, CompileFailureReturnsBareMessageAndRestoresState)
{
    CobaltScript engine;
    engine.loader.pathStack.push_back("main.cbs");
    const std::string running = "f, e = load(t)";
    engine.errorContext.sourceText = &running;
    engine.errorContext.currentLine = 7;

    EXPECT_EQ(failureMessage(callLoad(engine, "while true\n", "chunk")), "Missing 'end' for while block");
    EXPECT_EQ(engine.loader.pathStack, std::vector<std::string>{"main.cbs"});
    EXPECT_EQ(engine.errorContext.sourceText, &running);
    EXPECT_EQ(engine.errorContext.currentLine, 7u);
}

TEST(Load, ChunkNameBecomesSourcePath)
{
    CobaltScript engine;
    engine.loader.directoryStack.push_back("scripts");
    engine.loader.pathStack.push_back("scripts/main.cbs");
    const Variable named = callLoad(engine, "x = 1", "my-chunk");
    ASSERT_EQ(named.type, VarType::Function);
    EXPECT_EQ(named.asCallable()->sourcePath, "my-chunk");
    EXPECT_EQ(named.asCallable()->sourceDirectory, "scripts");
    const Variable unnamed = callLoad(engine, "x = 1");
    ASSERT_EQ(unnamed.type, VarType::Function);
    EXPECT_EQ(unnamed.asCallable()->sourcePath, "scripts/main.cbs");
    EXPECT_NE(named.asCallable(), callLoad(engine, "x = 1", "my-chunk").asCallable());
}

TEST(Load, NestLabelsOutsideFunctionsAreRegistered)
{
    CobaltScript engine;
    const Variable loaded = callLoad(engine, "nest \"outer\"\n  if true\n    nest \"inner\"\n    end\n  end\nend\n"
                                             "function f()\n  nest \"hidden\"\n  end\nend\n");
    ASSERT_EQ(loaded.type, VarType::Function);
    EXPECT_EQ(engine.loader.jumpTargets.count("outer"), 1u);
    EXPECT_EQ(engine.loader.jumpTargets.count("inner"), 1u);
    EXPECT_EQ(engine.loader.jumpTargets.count("hidden"), 0u);

    const JumpTarget& inner = engine.loader.jumpTargets.at("inner");
    const BytecodeProgram& program = *loaded.asCallable()->program;
    uint32_t instruction = 0;
    uint32_t nest = 0;
    ASSERT_TRUE(engine.findNestLabelInBytecodeChunk(program, inner.chunk, "inner", instruction, nest));
    EXPECT_EQ(nest, inner.nestIndex);
    EXPECT_EQ(program.instructions[instruction].opcode, Opcode::Nest);
    EXPECT_FALSE(engine.findNestLabelInBytecodeChunk(program, inner.chunk, "outer", instruction, nest));
    EXPECT_FALSE(engine.findNestLabelInBytecodeChunk(program, 9999, "inner", instruction, nest));
}

TEST(JumpTo, ValidatesItsArgument)
{
    CobaltScript engine;
    const Variable empty(std::string{});
    const Variable label("there");
    EXPECT_THROW(engine.jumpToFunction(NativeArgs()), std::runtime_error);
    EXPECT_THROW(engine.jumpToFunction(NativeArgs(&empty, 1)), std::runtime_error);
    EXPECT_FALSE(engine.loader.jumpPending);
    EXPECT_TRUE(engine.jumpToFunction(NativeArgs(&label, 1)).isNot());
    EXPECT_TRUE(engine.loader.jumpPending);
    EXPECT_EQ(engine.loader.pendingJumpLabel, "there");
}

TEST(JumpTo, ExpiredTargetsAreIgnored)
{
    CobaltScript engine;
    {
        const Variable loaded = callLoad(engine, "nest \"gone\"\nend\n");
        ASSERT_EQ(loaded.type, VarType::Function);
    }
    EXPECT_FALSE(engine.executeRegisteredJumpTarget("gone"));
    EXPECT_FALSE(engine.executeRegisteredJumpTarget("never"));
}

TEST(LoadFailureText, Layouts)
{
    const std::string hint = "  hint: check spelling, operators, parentheses, and quote matching\n";
    EXPECT_EQ(formatScriptFailure("Unterminated string literal", "bot.cbs", 2, "x = \"abc", "\"abc"),
              "CobaltScript error: Unterminated string literal\n"
              "  at bot.cbs:3, near token '\"abc'\n"
              "  x = \"abc\n"
              "      ^~~~\n" + hint);
    // without a position
    EXPECT_EQ(formatScriptFailure("Failed to open script file: gone.cbs", "gone.cbs", UINT64_MAX, "", ""),
              "CobaltScript error: Failed to open script file: gone.cbs\n  at gone.cbs\n  \n  ^\n" + hint);
    // a token that is not in the text puts the caret past the end
    EXPECT_EQ(formatScriptFailure("Expected closing parenthesis", "", 11, "t = (q + 1", ")"),
              "CobaltScript error: Expected closing parenthesis\n"
              "  at line 12, near token ')'\n"
              "  t = (q + 1\n"
              "            ^\n" + hint);
}

} // namespace
} // namespace cobalt
