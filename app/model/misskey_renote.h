#pragma once

#include "app/model/misskey_file.h"
#include "app/model/misskey_user.h"

#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace quill {

/// Reaction text (an emoji or ":name@host:") to how many times it was given.
using ReactionCounts = QMap<QString, qint64>;

/**
 * @brief The note embedded in another note's "renote" key.
 *
 * It carries no reply or renote links of its own, so nesting stops at one level.
 */
struct MisskeyRenote {
    QString id;
    /// ISO 8601 timestamp, kept as the server sent it.
    QString createdAt;
    std::optional<QString> text;
    /// Content warning.
    std::optional<QString> cw;
    MisskeyUser user;
    /// Kept raw: a remote server may send visibilities the composer does not offer.
    std::optional<QString> visibility;
    std::optional<ReactionCounts> reactions;
    std::optional<QString> myReaction;
    std::optional<QList<MisskeyFile>> files;

    bool operator==(const MisskeyRenote &) const = default;
};

} // namespace quill
