// What scripts cannot observe of the files the engine opens. Streams: descriptors and child
// processes after the engine is gone, close-on-exec, and SIGPIPE kept away from the process.
// Script loading: path edges. (Which nest labels a load registers, and when they expire:
// bytecode/jump_to_label_of_loaded_file.cbs.)
// (The text of a file that cannot be opened: tests/embed; the state a failed load leaves:
// loader/load_file_compile_failure.cbs and failure_positions.cbs.)

#include <csignal>
#include <cstdlib>
#include <set>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/bytecode/paths.h"
#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

std::set<int> openDescriptors()
{
    std::set<int> descriptors;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        descriptors.insert(std::stoi(entry.path().filename().string()));
    }
    return descriptors;
}

/// True when this process has no child at all, running or waiting to be reaped.
bool hasNoChildren()
{
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

TEST(IoStreams, DestroyingTheEngineClosesEveryStreamAndReapsEveryChild)
{
    TemporaryFolder folder;
    ASSERT_TRUE(hasNoChildren());
    const std::set<int> before = openDescriptors();
    {
        EngineFixture engine;
        // Streams left open in every way: a file of each role, a reader of an endless
        // command read only once, a writer, and a command whose output is never read.
        EXPECT_EQ(engine.run("dir = \"" + folder.path() + "/\"\nw = io[\"open\"](dir + \"a.txt\", \"w\")\n"
                             "w[\"write\"](\"line\\n\")\nr = io[\"open\"](dir + \"a.txt\")\n"
                             "rw = io[\"open\"](dir + \"b.txt\", \"a+\")\nendless = io[\"popen\"](\"yes\")\n"
                             "print(endless[\"read\"]())\nwriter = io[\"popen\"](\"cat > /dev/null\", \"w\")\n"
                             "writer[\"write\"](\"x\")\nsilent = io[\"popen\"](\"echo unread\")\n"
                             "keep = {file: r, twice: [r, r]}\nkeep[\"self\"] = keep\n"),
                  "y\n");

        const std::set<int> during = openDescriptors();
        int added = 0;
        for (const int descriptor : during) {
            if (before.count(descriptor) != 0) continue;
            ++added;
            EXPECT_NE(::fcntl(descriptor, F_GETFD) & FD_CLOEXEC, 0) << "descriptor " << descriptor;
        }
        EXPECT_EQ(added, 6);
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(hasNoChildren());
}

TEST(IoStreams, ClosedStreamsReleaseTheirDescriptorAtOnce)
{
    const std::set<int> before = openDescriptors();
    EngineFixture engine;
    EXPECT_EQ(engine.run("p = io[\"popen\"](\"echo hi\")\nprint(p[\"read\"]())\np[\"close\"]()\n"
                         "f = io[\"open\"](\"/dev/null\")\nf[\"close\"]()"),
              "hi\n");
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(hasNoChildren());
}

TEST(IoStreams, WritingToAGoneReaderFailsWithoutSigpipe)
{
    // The default disposition would end this process on SIGPIPE.
    struct sigaction previous {};
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    ASSERT_EQ(::sigaction(SIGPIPE, &defaults, &previous), 0);
    sigset_t maskBefore;
    ::pthread_sigmask(SIG_BLOCK, nullptr, &maskBefore);

    EngineFixture engine;
    EXPECT_EQ(engine.run("p = io[\"popen\"](\"exit 0\", \"w\")\nblock = \"0123456789abcdef\"\n"
                         "for i = 1, 10\n block = block + block\nend\nok = true\nn = 0\n"
                         "while ok and n < 100\n ok, message = pcall(p[\"write\"], block)\n n += 1\nend\n"
                         "print(ok, message)\np[\"close\"]()"),
              "false file['write'] failed to write to the stream\n");

    // Nothing of the signal is left behind: not pending, not blocked, the disposition unchanged.
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
    sigset_t maskAfter;
    ::pthread_sigmask(SIG_BLOCK, nullptr, &maskAfter);
    EXPECT_EQ(sigismember(&maskAfter, SIGPIPE), sigismember(&maskBefore, SIGPIPE));
    struct sigaction now {};
    ::sigaction(SIGPIPE, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    ::sigaction(SIGPIPE, &previous, nullptr);
    EXPECT_TRUE(hasNoChildren());
}

// ----- script loading -----

// Where the scripts in loader/ cannot reach: "Resources" must end a path component. (A loaded
// text, which has no folder of its own, resolves names beside the script that runs it:
// loader/failure_positions.cbs.)
TEST(ResolvePath, ResourcesMustEndAPathComponent)
{
    TemporaryFolder folder;
    folder.file("ResourcesX/shared.cbs", "");
    CobaltScript engine;
    engine.loader.directoryStack.push_back(folder.path("ResourcesX/bots"));
    EXPECT_EQ(engine.resolvePath("shared.cbs"), folder.path("ResourcesX/bots") + "/shared.cbs");
}

} // namespace
} // namespace cobalt
