#include "app/credentials/miauth.h"

#include <QUrlQuery>

namespace quill {

QStringList miAuthPermissions()
{
    return {
        QStringLiteral("read:account"),   QStringLiteral("write:notes"),    QStringLiteral("read:notifications"),
        QStringLiteral("write:notifications"), QStringLiteral("read:reactions"), QStringLiteral("write:reactions"),
        QStringLiteral("read:following"), QStringLiteral("write:following"), QStringLiteral("read:mutes"),
        QStringLiteral("write:mutes"),    QStringLiteral("read:blocks"),    QStringLiteral("write:blocks"),
        QStringLiteral("read:drive"),     QStringLiteral("write:drive"),    QStringLiteral("read:favorites"),
        QStringLiteral("write:favorites"), QStringLiteral("read:channels"), QStringLiteral("write:channels"),
        QStringLiteral("write:votes"),
    };
}

APIResult<QUrl> miAuthURL(const QUrl &instanceURL, const QString &sessionID)
{
    if (!instanceURL.isValid() || instanceURL.host().isEmpty() || sessionID.isEmpty() ||
        sessionID.contains(QLatin1Char('/')))
        return Failure{MisskeyAPIError::invalidInstance()};
    QUrl url = instanceURL;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + QStringLiteral("miauth/") + sessionID);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("name"), QStringLiteral("Quill"));
    query.addQueryItem(QStringLiteral("permission"), miAuthPermissions().join(QLatin1Char(',')));
    url.setQuery(query);
    if (!url.isValid())
        return Failure{MisskeyAPIError::invalidInstance()};
    return url;
}

} // namespace quill
