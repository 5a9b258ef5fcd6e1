#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace quill {

/// A name fit for a quoted header parameter: line breaks removed, double quotes made single.
QString headerSafe(QString name);

/// The multipart/form-data body of a drive upload: the form fields in order, then the file part.
QByteArray multipartBody(const QString &boundary, const QList<QPair<QString, QString>> &fields,
                         const QString &fileName, const QString &contentType, const QByteArray &fileBytes);

} // namespace quill
