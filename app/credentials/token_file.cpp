#include "app/credentials/token_file.h"

#include "app/credentials/credential_messages.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {

namespace {

QString quotedName(const QString &path)
{
    return QLatin1Char('"') + QFileInfo(path).fileName() + QLatin1Char('"');
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Closes a descriptor on every return path.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool containsControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

Result<QString, QString> tokenFromFile(const QUrl &url, TokenFileKinds kinds)
{
    const QString path = url.toLocalFile();
    if (path.isEmpty())
        return Failure{QStringLiteral("The API key file is not a local file.")};
    const QString name = quotedName(path);

    // Non-blocking, so that opening a FIFO cannot hang; the type is then checked on the open file
    // itself, so it cannot be swapped between the check and the read.
    const QByteArray encodedPath = QFile::encodeName(path);
    FileDescriptor fd(::open(encodedPath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return Failure{QStringLiteral("The API key file ") + name + QStringLiteral(" could not be read: ") +
                       systemError(errno)};
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        return Failure{QStringLiteral("The API key file ") + name + QStringLiteral(" could not be read: ") +
                       systemError(errno)};
    const bool pipe = S_ISFIFO(status.st_mode) && kinds == TokenFileKinds::RegularFileOrPipe;
    if (!S_ISREG(status.st_mode) && !pipe)
        return Failure{QStringLiteral("The API key file ") + name + QStringLiteral(" is not a regular file.")};
    // The writer of a pipe may not have written yet: wait for it, as a shell reading it would.
    if (pipe && ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0)
        return Failure{QStringLiteral("The API key file ") + name + QStringLiteral(" could not be read: ") +
                       systemError(errno)};
    if (status.st_size > maxTokenFileBytes)
        return Failure{QStringLiteral("The API key file ") + name + QStringLiteral(" is too large to be an API key.")};

    // Read one byte past the cap, so a file that grew after the check is still refused.
    QByteArray content(maxTokenFileBytes + 1, Qt::Uninitialized);
    qint64 filled = 0;
    while (filled < content.size()) {
        const ssize_t count = ::read(fd.get(), content.data() + filled, size_t(content.size() - filled));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return Failure{QStringLiteral("The API key file ") + name + QStringLiteral(" could not be read: ") +
                           systemError(errno)};
        if (count == 0)
            break;
        filled += count;
    }
    if (filled > maxTokenFileBytes)
        return Failure{QStringLiteral("The API key file ") + name + QStringLiteral(" is too large to be an API key.")};
    content.truncate(filled);

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(content);
    if (decoder.hasError())
        return Failure{QStringLiteral("The API key file ") + name + QStringLiteral(" is not UTF-8 text.")};
    const QString token = text.trimmed();
    if (token.isEmpty())
        return Failure{credentialMessages::emptyTokenFile()};
    // A token travels in a header and a query; a control character would corrupt either.
    if (containsControlCharacter(token))
        return Failure{QStringLiteral("The API key file ") + name + QStringLiteral(" contains control characters.")};
    return token;
}

Result<void, QString> exportTokenFile(const QUrl &url, const QString &token)
{
    const QString path = url.toLocalFile();
    if (path.isEmpty())
        return Failure{QStringLiteral("The API key can only be exported to a local file.")};
    const QString name = quotedName(path);
    const auto failed = [&name](const QString &reason) {
        return Failure{QStringLiteral("Could not export the API key to ") + name + QStringLiteral(": ") + reason};
    };

    // QTemporaryFile creates its file with mode 0600 from the start.
    QTemporaryFile temporary(QFileInfo(path).absoluteDir().filePath(QStringLiteral(".quill-api-key-XXXXXX")));
    if (!temporary.open())
        return failed(temporary.errorString());
    const QByteArray content = token.toUtf8() + '\n';
    if (temporary.write(content) != content.size() || !temporary.flush())
        return failed(temporary.errorString());
    if (::fsync(temporary.handle()) != 0)
        return failed(systemError(errno));
    if (::fchmod(temporary.handle(), S_IRUSR | S_IWUSR) != 0)
        return failed(systemError(errno));
    // rename(2) replaces an existing destination in one step; QFile::rename would refuse it.
    const QByteArray from = QFile::encodeName(temporary.fileName());
    const QByteArray to = QFile::encodeName(path);
    if (::rename(from.constData(), to.constData()) != 0)
        return failed(systemError(errno));
    temporary.setAutoRemove(false);
    return {};
}

} // namespace quill
