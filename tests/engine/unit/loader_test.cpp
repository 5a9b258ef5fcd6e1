// Script loading behind what the scripts in loader/ see: path edges, which nest labels a load
// registers, and expired jump targets. (The text of a file that cannot be opened: tests/embed; the
// state a failed load leaves: loader/load_file_compile_failure.cbs and failure_positions.cbs.)

#include "engine/bytecode/paths.h"
#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

Variable callLoad(CobaltScript& engine, const std::string& text)
{
    const Variable argument(text);
    return engine.loadScriptChunk(NativeArgs(&argument, 1));
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
