#pragma once

#include "app/model/misskey_note.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace quill {

/**
 * @brief What a note row shows: the note, or for a pure renote the embedded note with the renoter.
 *
 * Pure formatting over the model, kept apart from painting so it can be checked on its own.
 */
struct ShownNote {
    MisskeyUser author;
    /// The renoter's display name when the row shows an embedded renote.
    std::optional<QString> renotedBy;
    std::optional<QString> contentWarning;
    /// The text, or "Media note" when there is none.
    QString text;
    QList<MisskeyFile> files;
    /// Ascending by reaction text.
    QList<QPair<QString, qint64>> reactions;
    std::optional<QString> myReaction;
    std::optional<QDateTime> createdDate;
};

ShownNote shownNote(const MisskeyNote &note);

/// The reactions the row's "React" menu offers, as their UTF-8 texts.
QStringList offeredReactions();

} // namespace quill
