#include "sandbox/multipart_form.h"

#include <QList>

namespace quill::sandbox {

namespace {

// The value of a parameter in a header such as `form-data; name="file"; filename="a.png"`.
QByteArray headerParameter(const QByteArray &header, const QByteArray &name)
{
    for (const QByteArray &piece : header.split(';')) {
        const QByteArray trimmed = piece.trimmed();
        if (!trimmed.toLower().startsWith(name.toLower() + '='))
            continue;
        QByteArray value = trimmed.mid(name.size() + 1);
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

} // namespace

std::optional<UploadedFile> parseMultipartForm(const QByteArray &contentType, const QByteArray &body)
{
    if (!contentType.trimmed().toLower().startsWith("multipart/form-data"))
        return std::nullopt;
    const QByteArray boundary = headerParameter(contentType, "boundary");
    if (boundary.isEmpty())
        return std::nullopt;
    const QByteArray delimiter = "--" + boundary;

    UploadedFile upload;
    bool haveFile = false;
    qsizetype position = body.indexOf(delimiter);
    while (position >= 0) {
        position += delimiter.size();
        if (body.mid(position, 2) == "--")
            break; // the closing delimiter
        if (body.mid(position, 2) != "\r\n")
            return std::nullopt;
        position += 2;
        const qsizetype headersEnd = body.indexOf("\r\n\r\n", position);
        const qsizetype next = body.indexOf("\r\n" + delimiter, position);
        if (headersEnd < 0 || next < 0 || headersEnd > next)
            return std::nullopt;

        QByteArray disposition;
        QByteArray partType;
        for (const QByteArray &line : body.mid(position, headersEnd - position).split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            if (name == "content-disposition")
                disposition = line.mid(colon + 1).trimmed();
            else if (name == "content-type")
                partType = line.mid(colon + 1).trimmed();
        }
        const QByteArray content = body.mid(headersEnd + 4, next - headersEnd - 4);
        const QByteArray fieldName = headerParameter(disposition, "name");
        if (fieldName == "file") {
            haveFile = true;
            upload.fileName = headerParameter(disposition, "filename").toStdString();
            upload.contentType = partType.toStdString();
            upload.bytes = content.toStdString();
        } else if (!fieldName.isEmpty()) {
            upload.fields[fieldName.toStdString()] = content.toStdString();
        }
        position = next + 2;
    }
    if (!haveFile)
        return std::nullopt;
    return upload;
}

} // namespace quill::sandbox
