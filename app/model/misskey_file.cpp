#include "app/model/misskey_file.h"

namespace quill {

std::optional<QUrl> MisskeyFile::previewURL() const
{
    const std::optional<QString> &text = thumbnailURLString ? thumbnailURLString : urlString;
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty())
        return std::nullopt;
    return url;
}

} // namespace quill
