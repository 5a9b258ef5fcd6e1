// What scripts cannot observe of their streams: descriptors and child processes after the
// engine is gone, close-on-exec, and SIGPIPE kept away from the process.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/cobalt_script.h"

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

/// A fresh folder under the system's temporary folder, removed again by the destructor.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quill-io-XXXXXX").string();
        if (::mkdtemp(pattern.data())) m_path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

std::string run(CobaltScript& engine, std::string_view source)
{
    std::string output;
    engine.printHandler = [&output](std::string_view line) { output += std::string(line) + "\n"; };
    const ParsedLines lines = engine.parseLines(source);
    size_t index = 0;
    BlockSignal signal = BlockSignal::None;
    engine.executeParsedBlock(lines, index, signal);
    engine.printHandler = nullptr;
    return output;
}

TEST(IoStreams, DestroyingTheEngineClosesEveryStreamAndReapsEveryChild)
{
    TemporaryFolder folder;
    ASSERT_FALSE(folder.path().empty());
    ASSERT_TRUE(hasNoChildren());
    const std::set<int> before = openDescriptors();
    {
        CobaltScript engine;
        // Streams left open in every way: a file of each role, a reader of an endless
        // command read only once, a writer, and a command whose output is never read.
        const std::string source = "dir = \"" + folder.path() + "/\"\n" +
                                   "w = io[\"open\"](dir + \"a.txt\", \"w\")\n"
                                   "w[\"write\"](\"line\\n\")\n"
                                   "r = io[\"open\"](dir + \"a.txt\")\n"
                                   "rw = io[\"open\"](dir + \"b.txt\", \"a+\")\n"
                                   "endless = io[\"popen\"](\"yes\")\n"
                                   "print(endless[\"read\"]())\n"
                                   "writer = io[\"popen\"](\"cat > /dev/null\", \"w\")\n"
                                   "writer[\"write\"](\"x\")\n"
                                   "silent = io[\"popen\"](\"echo unread\")\n"
                                   "keep = {file: r, twice: [r, r]}\n"
                                   "keep[\"self\"] = keep\n";
        EXPECT_EQ(run(engine, source), "y\n");

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
    CobaltScript engine;
    EXPECT_EQ(run(engine, "p = io[\"popen\"](\"echo hi\")\nprint(p[\"read\"]())\np[\"close\"]()\n"
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

    CobaltScript engine;
    const std::string output = run(engine,
                                   "p = io[\"popen\"](\"exit 0\", \"w\")\n"
                                   "block = \"0123456789abcdef\"\n"
                                   "for i = 1, 10\n block = block + block\nend\n"
                                   "ok = true\nn = 0\n"
                                   "while ok and n < 100\n ok, message = pcall(p[\"write\"], block)\n n += 1\nend\n"
                                   "print(ok, message)\n"
                                   "p[\"close\"]()");
    EXPECT_EQ(output, "false file['write'] failed to write to the stream\n");

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

} // namespace
} // namespace cobalt
