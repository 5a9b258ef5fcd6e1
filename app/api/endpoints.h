#pragma once

#include <QString>

namespace quill::endpoints {

// Misskey API endpoints the application calls itself. Timelines take theirs from TimelineKind.

/// The signed-in account.
inline QString account()
{
    return QStringLiteral("i");
}

/// Posting, replying and renoting.
inline QString createNote()
{
    return QStringLiteral("notes/create");
}

inline QString createReaction()
{
    return QStringLiteral("notes/reactions/create");
}

inline QString deleteNote()
{
    return QStringLiteral("notes/delete");
}

/// Upload of a local file to the drive.
inline QString createDriveFile()
{
    return QStringLiteral("drive/files/create");
}

/// Whether the user has authorised a MiAuth session yet.
inline QString miAuthCheck(const QString &sessionID)
{
    return QStringLiteral("miauth/") + sessionID + QStringLiteral("/check");
}

} // namespace quill::endpoints
