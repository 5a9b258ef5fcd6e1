#pragma once

#include <QString>

namespace quill::credentialMessages {

// The user-facing texts of the credential commands' own failures.

inline QString emptyTokenFile()
{
    return QStringLiteral("The selected text file does not contain an API key.");
}

inline QString unsupportedFile()
{
    return QStringLiteral("Quill accepts CobaltScript .cbs files and API key .txt files.");
}

inline QString safariUnavailable()
{
    return QStringLiteral("Safari is not available on this Mac.");
}

inline QString authenticationTimedOut()
{
    return QStringLiteral("Misskey login timed out before authorisation completed.");
}

} // namespace quill::credentialMessages
