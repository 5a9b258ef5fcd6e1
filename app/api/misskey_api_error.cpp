#include "app/api/misskey_api_error.h"

namespace quill {

MisskeyAPIError MisskeyAPIError::http(int statusCode, const QString &bodyText)
{
    MisskeyAPIError error(Kind::http);
    error.m_statusCode = statusCode;
    error.m_text = bodyText;
    return error;
}

MisskeyAPIError MisskeyAPIError::server(const QString &message, const std::optional<QString> &code)
{
    MisskeyAPIError error(Kind::server);
    error.m_text = message;
    error.m_code = code;
    return error;
}

MisskeyAPIError MisskeyAPIError::invalidInstance()
{
    return MisskeyAPIError(Kind::invalidInstance);
}

MisskeyAPIError MisskeyAPIError::insecureInstance()
{
    return MisskeyAPIError(Kind::insecureInstance);
}

MisskeyAPIError MisskeyAPIError::invalidEndpoint()
{
    return MisskeyAPIError(Kind::invalidEndpoint);
}

MisskeyAPIError MisskeyAPIError::invalidResponse()
{
    return MisskeyAPIError(Kind::invalidResponse);
}

MisskeyAPIError MisskeyAPIError::cancelled()
{
    return MisskeyAPIError(Kind::cancelled);
}

MisskeyAPIError MisskeyAPIError::transport(QNetworkReply::NetworkError networkError, const QString &description)
{
    MisskeyAPIError error(Kind::transport);
    error.m_networkError = networkError;
    error.m_text = description;
    return error;
}

QString MisskeyAPIError::errorDescription() const
{
    switch (m_kind) {
    case Kind::http:
        return QStringLiteral("Misskey returned HTTP ") + QString::number(m_statusCode) + QStringLiteral(": ") +
               m_text;
    case Kind::server:
        if (m_code)
            return m_text + QStringLiteral(" (") + *m_code + QLatin1Char(')');
        return m_text;
    case Kind::invalidInstance:
        return QStringLiteral("Enter a valid Misskey instance address.");
    case Kind::insecureInstance:
        return QStringLiteral("Misskey instances must use HTTPS unless they run on this Mac.");
    case Kind::invalidEndpoint:
        return QStringLiteral("The Misskey API endpoint is invalid.");
    case Kind::invalidResponse:
        return QStringLiteral("The Misskey server returned an invalid response.");
    case Kind::cancelled:
        return QStringLiteral("The request was cancelled.");
    case Kind::transport:
        return m_text;
    }
    return QString();
}

} // namespace quill
