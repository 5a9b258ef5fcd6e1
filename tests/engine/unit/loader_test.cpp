// Script loading behind what the scripts in loader/ see: path edges, the cache after a file
// changes, the state a failed loadFile leaves, which nest labels a load registers, and expired
// jump targets. (The text of a file that cannot be opened: tests/embed.)

#include <fcntl.h>
#include <sys/stat.h>

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

// Where the scripts in loader/ cannot reach: a loaded text (no folder of its own) resolves names
// beside the script that runs it, and "Resources" must end a path component.
TEST(ResolvePath, RunningPathAndResourcesEdge)
{
    TemporaryFolder folder;
    const std::string helper = folder.file("lib/helper.cbs", "");
    folder.file("ResourcesX/shared.cbs", "");
    CobaltScript engine;
    engine.loader.directoryStack.push_back("");
    engine.loader.pathStack.push_back(folder.path("lib/main.cbs"));
    EXPECT_EQ(engine.resolvePath("helper.cbs"), helper);
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

TEST(Load, NestLabelsOutsideFunctionsAreRegisteredAndExpireWithTheirChunk)
{
    CobaltScript engine;
    {
        const Variable loaded = callLoad(engine, "nest \"outer\"\n  if true\n    nest \"inner\"\n    end\n  end\nend\n"
                                                 "function f()\n  nest \"hidden\"\n  end\nend\n");
        ASSERT_EQ(loaded.type, VarType::Function);
        EXPECT_EQ(engine.loader.jumpTargets.count("outer") + engine.loader.jumpTargets.count("inner"), 2u);
        EXPECT_EQ(engine.loader.jumpTargets.count("hidden"), 0u);  // inside a function: not until it runs
    }
    EXPECT_FALSE(engine.executeRegisteredJumpTarget("outer"));
    EXPECT_FALSE(engine.executeRegisteredJumpTarget("never"));
}

} // namespace
} // namespace cobalt
