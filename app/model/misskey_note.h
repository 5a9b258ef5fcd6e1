#pragma once

#include "app/model/misskey_renote.h"

#include <QDateTime>

#include <optional>

namespace quill {

/// One note of a timeline, or a note just created. Lists identify notes by `id`.
struct MisskeyNote {
    QString id;
    /// ISO 8601 timestamp, kept as the server sent it.
    QString createdAt;
    std::optional<QString> text;
    std::optional<QString> cw;
    MisskeyUser user;
    std::optional<QString> visibility;
    std::optional<QString> replyID;
    std::optional<QString> renoteID;
    std::optional<MisskeyRenote> renote;
    std::optional<ReactionCounts> reactions;
    std::optional<QString> myReaction;
    std::optional<QList<MisskeyFile>> files;
    /// Whether the note carries a poll (its contents are not shown).
    bool hasPoll = false;

    /**
     * @brief A renote with nothing of its own: no text, content warning, reply, poll or files.
     *
     * Misskey shows it as the embedded note, and renoting, reacting to or replying to it acts on
     * that note. A quote (a renote with content of its own) is a note in its own right.
     */
    bool isPureRenote() const;

    /**
     * @brief When the shown content was written: the renoted note's time for a pure renote.
     *
     * Absent when the timestamp is not an RFC 3339 date-time.
     */
    std::optional<QDateTime> createdDate() const;

    bool operator==(const MisskeyNote &) const = default;
};

} // namespace quill
