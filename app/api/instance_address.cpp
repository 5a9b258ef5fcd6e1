// Turning typed instance addresses and endpoint names into URLs.
#include "app/api/misskey_api.h"

#include "app/api/transport_security.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace quill {

bool isLoopbackHost(const QString &host)
{
    static const std::array<QString, 3> loopbackHosts = {
        QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), QStringLiteral("::1")};
    const QString lowered = host.toLower();
    return std::find(loopbackHosts.begin(), loopbackHosts.end(), lowered) != loopbackHosts.end();
}

std::optional<MisskeyAPIError> transportRefusal(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == u"https" && !url.host().isEmpty())
        return std::nullopt;
    if (scheme == u"http" && !url.host().isEmpty())
        return isLoopbackHost(url.host()) ? std::nullopt : std::optional(MisskeyAPIError::insecureInstance());
    return MisskeyAPIError::invalidInstance();
}

namespace {

// "https://user@host" and "https://:secret@host" both carry credentials, even when a part is empty.
bool hasUserInfo(const QUrl &url, const QString &text)
{
    if (!url.userName().isEmpty() || !url.password().isEmpty())
        return true;
    const qsizetype authorityStart = text.indexOf(QStringLiteral("://")) + 3;
    qsizetype authorityEnd = text.size();
    for (QChar delimiter : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype found = text.indexOf(delimiter, authorityStart);
        if (found >= 0 && found < authorityEnd)
            authorityEnd = found;
    }
    return text.mid(authorityStart, authorityEnd - authorityStart).contains(QLatin1Char('@'));
}

// Letters, marks and digits of any script, "-" and "_"; so "." and ".." can never be a segment.
bool isValidSegment(const QString &segment)
{
    if (segment.isEmpty())
        return false;
    for (char32_t codePoint : segment.toUcs4()) {
        const bool allowed = QChar::isLetterOrNumber(codePoint) || QChar::isMark(codePoint) ||
                             codePoint == U'-' || codePoint == U'_';
        if (!allowed)
            return false;
    }
    return true;
}

} // namespace

APIResult<QUrl> MisskeyAPI::normaliseInstance(const QString &input)
{
    QString text = input.trimmed();
    if (text.isEmpty())
        return Failure{MisskeyAPIError::invalidInstance()};
    if (!text.contains(QStringLiteral("://")))
        text.prepend(QStringLiteral("https://"));

    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return Failure{MisskeyAPIError::invalidInstance()};

    const QString scheme = url.scheme().toLower();
    if (scheme.isEmpty() || url.host().isEmpty() || hasUserInfo(url, text))
        return Failure{MisskeyAPIError::invalidInstance()};
    if (scheme != u"https" && scheme != u"http")
        return Failure{MisskeyAPIError::invalidInstance()};
    if (scheme == u"http" && !isLoopbackHost(url.host()))
        return Failure{MisskeyAPIError::insecureInstance()};

    url.setScheme(scheme);
    url.setPath(QString());
    url.setQuery(QString());
    url.setFragment(QString());
    if (!url.isValid())
        return Failure{MisskeyAPIError::invalidInstance()};
    return url;
}

APIResult<QUrl> MisskeyAPI::endpointURL(const QUrl &instanceURL, const QString &endpoint)
{
    const QStringList segments = endpoint.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (segments.isEmpty())
        return Failure{MisskeyAPIError::invalidEndpoint()};
    for (const QString &segment : segments) {
        if (!isValidSegment(segment))
            return Failure{MisskeyAPIError::invalidEndpoint()};
    }

    QString path = instanceURL.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    path += QStringLiteral("/api/") + segments.join(QLatin1Char('/'));

    QUrl url = instanceURL;
    url.setPath(path, QUrl::DecodedMode);
    if (!url.isValid())
        return Failure{MisskeyAPIError::invalidEndpoint()};
    return url;
}

} // namespace quill
