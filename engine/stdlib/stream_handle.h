#pragma once
// One open stream of a script's file object: a file or a process pipe. The three functions of
// a file object share one handle, and the stream lives until the script closes it or the last
// of them goes, whichever is first; the destructor closes what is still open, so no
// descriptor or child process outlives the values that reach it.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace cobalt {

class StreamHandle {
public:
    enum class Kind { File, Pipe };
    enum class ReadStatus { Data, EndOfInput, TooLarge, Failed };

    /// Longest text one read returns, so that an endless input cannot take all memory.
    static constexpr size_t kMaxReadBytes = size_t{256} << 20;

    /// Opens a file in binary mode with the roles the mode letters ask for (see the .cpp);
    /// null when it cannot be opened or is a directory.
    static std::shared_ptr<StreamHandle> openFile(const std::string& path, std::string_view mode);
    /// Starts `command` through the shell connected to its standard output ("r" modes) or
    /// input ("w" modes); null when the mode is refused or the process cannot be started.
    static std::shared_ptr<StreamHandle> openPipe(const std::string& command, std::string_view mode);

    ~StreamHandle();
    StreamHandle(const StreamHandle&) = delete;
    StreamHandle& operator=(const StreamHandle&) = delete;

    Kind kind() const { return m_kind; }
    bool isOpen() const { return m_stream != nullptr; }
    bool readable() const { return m_readable; }
    bool writable() const { return m_writable; }

    /// The bytes up to the next line feed (not included). EndOfInput when nothing is left.
    ReadStatus readLine(std::string& out);
    /// Everything up to the end of input (possibly nothing).
    ReadStatus readAll(std::string& out);
    /// Writes and flushes; false when the stream refused the bytes (a full disk, a pipe whose
    /// reader has gone). A reader that has gone never raises SIGPIPE here.
    bool write(std::string_view bytes);
    /// Closes the stream (waiting for a pipe's process to end); later calls see !isOpen().
    void close();

private:
    StreamHandle(Kind kind, std::FILE* stream, bool readable, bool writable);
    /// A stream that is read and written must be repositioned between a read and a write.
    void prepareForWrite();

    Kind m_kind;
    std::FILE* m_stream;
    bool m_readable;
    bool m_writable;
    bool m_lastWasRead = false;
};

} // namespace cobalt
