#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace quill {

/// A drive file attached to a note.
struct MisskeyFile {
    QString id;
    std::optional<QString> name;
    /// MIME type.
    std::optional<QString> type;
    std::optional<QString> urlString;
    std::optional<QString> thumbnailURLString;

    /// The thumbnail address if there is one, else the file address; absent when neither parses.
    std::optional<QUrl> previewURL() const;

    bool operator==(const MisskeyFile &) const = default;
};

} // namespace quill
