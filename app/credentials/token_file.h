#pragma once

#include "app/common/result.h"

#include <QString>
#include <QUrl>

namespace quill {

/// A token is a short line of text; anything larger is not a key file and is not read into memory.
inline constexpr qint64 maxTokenFileBytes = 64 * 1024;

/// Whether a text holds a control character (which no token may contain).
bool containsControlCharacter(const QString &text);

/// What `tokenFromFile` agrees to read besides a regular file.
enum class TokenFileKinds {
    RegularFile,       ///< the window: a FIFO could block the main thread forever
    RegularFileOrPipe, ///< a command-line runner, where `--token-file <(command)` hands over a pipe
};

/**
 * @brief Reads the token from an API key file: its whole content without surrounding white space.
 *
 * Only a regular file is read (or also a pipe, when `kinds` allows it; a folder, a device or a FIFO
 * otherwise gives a message and is never opened for a blocking read), at most `maxTokenFileBytes`,
 * and it must be UTF-8. The error is the message for the user; it names the file, never its content.
 */
Result<QString, QString> tokenFromFile(const QUrl &url, TokenFileKinds kinds = TokenFileKinds::RegularFile);

/**
 * @brief Writes the token and one line feed to a new key file, atomically and readable by its owner only.
 *
 * The content goes to a temporary file in the same folder that is created with mode 0600, and is
 * renamed over the destination only when complete, so there is never a moment in which the token
 * is readable by others or the file is half written. The error is the message for the user.
 */
Result<void, QString> exportTokenFile(const QUrl &url, const QString &token);

} // namespace quill
