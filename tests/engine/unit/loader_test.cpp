// Script loading behind what the scripts in loader/ see: the Resources rule's edge, the cache
// after a file changes, the state a failed loadFile leaves, which nest labels a load registers,
// expired jump targets, and the failure text of a file that cannot be opened.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "engine/bytecode/load_failure.h"
#include "engine/bytecode/paths.h"
#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

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

// A loaded text has no folder of its own: names resolve beside the script that runs it.
TEST(ResolvePath, FallsBackToDirectoryOfRunningPath)
{
    TemporaryFolder folder;
    const std::string helper = folder.file("lib/helper.cbs", "");
    CobaltScript engine;
    engine.loader.directoryStack.push_back("");
    engine.loader.pathStack.push_back(folder.path("lib/main.cbs"));
    EXPECT_EQ(engine.resolvePath("helper.cbs"), helper);
}

TEST(ResolvePath, ResourcesRootAndBundledScripts)
{
    TemporaryFolder folder;
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

TEST(LoadFile, NewModificationTimeCompilesAgain)
{
    TemporaryFolder folder;
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

TEST(LoadFile, CompileFailureLeavesStacksAndContext)
{
    TemporaryFolder folder;
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

TEST(Load, NestLabelsOutsideFunctionsAreRegistered)
{
    CobaltScript engine;
    const Variable loaded = callLoad(engine, "nest \"outer\"\n  if true\n    nest \"inner\"\n    end\n  end\nend\n"
                                             "function f()\n  nest \"hidden\"\n  end\nend\n");
    ASSERT_EQ(loaded.type, VarType::Function);
    EXPECT_EQ(engine.loader.jumpTargets.count("outer"), 1u);
    EXPECT_EQ(engine.loader.jumpTargets.count("inner"), 1u);
    EXPECT_EQ(engine.loader.jumpTargets.count("hidden"), 0u);  // inside a function: not until it runs
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

// A failure without a line (a file that cannot be opened) still has the layout of the others.
TEST(LoadFailureText, WithoutAPosition)
{
    EXPECT_EQ(formatScriptFailure("Failed to open script file: gone.cbs", "gone.cbs", UINT64_MAX, "", ""),
              "CobaltScript error: Failed to open script file: gone.cbs\n  at gone.cbs\n  \n  ^\n"
              "  hint: check spelling, operators, parentheses, and quote matching\n");
}

} // namespace
} // namespace cobalt
