#pragma once

#include "sandbox/sandbox_api.h"

#include <QByteArray>

#include <optional>

namespace quill::sandbox {

/// Reads a multipart/form-data body: the part named "file" becomes the upload, every other part a
/// text field. None when the content type has no boundary, the body is malformed or has no file.
std::optional<UploadedFile> parseMultipartForm(const QByteArray &contentType, const QByteArray &body);

} // namespace quill::sandbox
