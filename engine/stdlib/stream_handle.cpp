#include "engine/stdlib/stream_handle.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cobalt {
namespace {

/// Keeps SIGPIPE away from the process while a stream is written or closed: a pipe whose
/// reader has gone then fails the write with EPIPE instead of ending the whole host. The
/// signal is blocked for this thread only, and one raised meanwhile is taken off the pending
/// set before the old mask returns, so the process-wide disposition is never touched.
class SigpipeGuard {
public:
    SigpipeGuard()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        // A SIGPIPE that was already waiting is somebody else's: it is left alone.
        m_alreadyPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
    }

    ~SigpipeGuard()
    {
        const int savedErrno = errno;
        if (!m_alreadyPending) {
            sigset_t pending;
            sigemptyset(&pending);
            if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
                const timespec noWait{0, 0};
                while (sigtimedwait(&m_pipe, nullptr, &noWait) == -1 && errno == EINTR) {
                }
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
        errno = savedErrno;
    }

    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_previous;
    bool m_alreadyPending = false;
};

bool hasLetter(std::string_view text, char letter)
{
    return text.find(letter) != std::string_view::npos;
}

/// A NUL byte would silently cut a path or mode short at the system call.
bool hasNul(std::string_view text)
{
    return hasLetter(text, '\0');
}

} // namespace

StreamHandle::StreamHandle(Kind kind, std::FILE* stream, bool readable, bool writable)
    : m_kind(kind), m_stream(stream), m_readable(readable), m_writable(writable)
{
}

StreamHandle::~StreamHandle()
{
    close();
}

std::shared_ptr<StreamHandle> StreamHandle::openFile(const std::string& path, std::string_view mode)
{
    if (hasNul(path)) return nullptr;
    // The roles come from the letters present, whatever their order; others are ignored:
    // none of "w", "a", "+" reads only; otherwise "r" reads and writes, and without "r"
    // the file is written, and read too with "+". "a" appends every write, and "w" without
    // "a" empties the file on opening.
    const bool writes = hasLetter(mode, 'w') || hasLetter(mode, 'a') || hasLetter(mode, '+');
    const bool reads = !writes || hasLetter(mode, 'r') || hasLetter(mode, '+');
    const bool appends = hasLetter(mode, 'a');
    const bool truncates = hasLetter(mode, 'w') && !appends;

    int flags = O_CLOEXEC;
    const char* streamMode = "rb";
    if (!writes) {
        flags |= O_RDONLY;
    } else {
        flags |= reads ? O_RDWR : O_WRONLY;
        if (appends) {
            flags |= O_CREAT | O_APPEND;
            streamMode = reads ? "a+b" : "ab";
        } else if (truncates || !reads) {
            // Writing alone always creates and empties, as a write-only open has nothing to keep.
            flags |= O_CREAT | O_TRUNC;
            streamMode = reads ? "w+b" : "wb";
        } else {
            streamMode = "r+b";  // read and write an existing file in place
        }
    }

    int descriptor = -1;
    do {
        descriptor = ::open(path.c_str(), flags, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) return nullptr;
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
        ::close(descriptor);
        return nullptr;
    }
    std::FILE* stream = ::fdopen(descriptor, streamMode);
    if (!stream) {
        ::close(descriptor);
        return nullptr;
    }
    return std::shared_ptr<StreamHandle>(new StreamHandle(Kind::File, stream, reads, writes));
}

std::shared_ptr<StreamHandle> StreamHandle::openPipe(const std::string& command, std::string_view mode)
{
    if (hasNul(command) || hasNul(mode)) return nullptr;
    std::string pipeMode(mode);
#ifdef __GLIBC__
    // Close-on-exec from the start, so no other child inherits this pipe's end.
    pipeMode += 'e';
#endif
    std::FILE* stream = ::popen(command.c_str(), pipeMode.c_str());
    if (!stream) return nullptr;
#ifndef __GLIBC__
    ::fcntl(::fileno(stream), F_SETFD, FD_CLOEXEC);
#endif
    return std::shared_ptr<StreamHandle>(
        new StreamHandle(Kind::Pipe, stream, hasLetter(mode, 'r'), hasLetter(mode, 'w')));
}

StreamHandle::ReadStatus StreamHandle::readLine(std::string& out)
{
    out.clear();
    m_lastWasRead = true;
    bool readAnything = false;
    for (;;) {
        const int c = getc_unlocked(m_stream);
        if (c == EOF) break;
        readAnything = true;
        if (c == '\n') return ReadStatus::Data;
        if (out.size() >= kMaxReadBytes) return ReadStatus::TooLarge;
        out.push_back(static_cast<char>(c));
    }
    const bool failed = std::ferror(m_stream) != 0;
    std::clearerr(m_stream);
    if (failed) return ReadStatus::Failed;
    return readAnything ? ReadStatus::Data : ReadStatus::EndOfInput;
}

StreamHandle::ReadStatus StreamHandle::readAll(std::string& out)
{
    out.clear();
    m_lastWasRead = true;
    std::array<char, 4096> chunk;
    for (;;) {
        const size_t got = std::fread(chunk.data(), 1, chunk.size(), m_stream);
        if (got == 0) break;
        if (out.size() + got > kMaxReadBytes) return ReadStatus::TooLarge;
        out.append(chunk.data(), got);
    }
    const bool failed = std::ferror(m_stream) != 0;
    std::clearerr(m_stream);
    return failed ? ReadStatus::Failed : ReadStatus::Data;
}

void StreamHandle::prepareForWrite()
{
    // C streams need a positioning call between reading and writing the same stream; the
    // position is where reading stopped.
    if (m_lastWasRead && m_kind == Kind::File) std::fseek(m_stream, 0, SEEK_CUR);
    m_lastWasRead = false;
}

bool StreamHandle::write(std::string_view bytes)
{
    prepareForWrite();
    SigpipeGuard guard;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), m_stream) == bytes.size();
    const bool flushed = std::fflush(m_stream) == 0;
    if (written && flushed) return true;
    std::clearerr(m_stream);
    return false;
}

void StreamHandle::close()
{
    if (!m_stream) return;
    std::FILE* stream = m_stream;
    m_stream = nullptr;
    // Closing flushes what a refused write left in the buffer, which can meet a gone reader.
    SigpipeGuard guard;
    if (m_kind == Kind::Pipe) {
        ::pclose(stream);  // also waits for the process, so no zombie is left behind
    } else {
        std::fclose(stream);
    }
}

} // namespace cobalt
