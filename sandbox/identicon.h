#pragma once

#include <QByteArray>

namespace quill::sandbox {

/// A small symmetric picture derived from a name, as an uncompressed BMP: every image loader
/// reads it, so avatars show without any image plugin.
QByteArray identiconBitmap(const QByteArray &name);

} // namespace quill::sandbox
