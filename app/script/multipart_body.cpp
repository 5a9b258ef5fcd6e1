#include "app/script/multipart_body.h"

namespace quill {

QString headerSafe(QString name)
{
    name.remove(QLatin1Char('\r'));
    name.remove(QLatin1Char('\n'));
    name.replace(QLatin1Char('"'), QLatin1Char('\''));
    return name;
}

QByteArray multipartBody(const QString &boundary, const QList<QPair<QString, QString>> &fields,
                         const QString &fileName, const QString &contentType, const QByteArray &fileBytes)
{
    const QByteArray crlf = QByteArrayLiteral("\r\n");
    const QByteArray delimiter = QByteArrayLiteral("--") + boundary.toUtf8() + crlf;

    QByteArray body;
    body.reserve(fileBytes.size() + 1024);
    for (const auto &[name, value] : fields) {
        body += delimiter;
        body += QByteArrayLiteral("Content-Disposition: form-data; name=\"") + headerSafe(name).toUtf8() + "\"" + crlf;
        body += crlf;
        body += value.toUtf8() + crlf;
    }
    body += delimiter;
    body += QByteArrayLiteral("Content-Disposition: form-data; name=\"file\"; filename=\"") + headerSafe(fileName).toUtf8()
            + "\"" + crlf;
    body += QByteArrayLiteral("Content-Type: ") + contentType.toUtf8() + crlf;
    body += crlf;
    body += fileBytes;
    body += crlf + QByteArrayLiteral("--") + boundary.toUtf8() + QByteArrayLiteral("--") + crlf;
    return body;
}

} // namespace quill
