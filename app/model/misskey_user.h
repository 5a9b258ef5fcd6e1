#pragma once

#include <QString>

#include <optional>

namespace quill {

/// One Misskey account as the instance describes it.
struct MisskeyUser {
    QString id;
    std::optional<QString> name;
    QString username;
    /// Absent for accounts of the instance itself.
    std::optional<QString> host;
    std::optional<QString> avatarURLString;
    /// Three states: true, false, or absent when the server did not say.
    std::optional<bool> isBot;

    /// The trimmed name, or the username when the name is absent or blank.
    QString displayName() const;
    /// "@username", followed by "@host" for accounts of other instances.
    QString handle() const;

    bool operator==(const MisskeyUser &) const = default;
};

} // namespace quill
