#include "app/api/misskey_stream.h"

#include "app/api/stream_connection_loop.h"
#include "app/api/transport_security.h"

#include <utility>

namespace quill {

MisskeyStream::MisskeyStream(StreamTimings timings, QObject *parent)
    : QObject(parent), m_timings(std::move(timings)), m_generation(QUuid::createUuid())
{
}

MisskeyStream::~MisskeyStream()
{
    // Closes the socket while this object is still whole; the children go afterwards.
    stop();
}

APIResult<QUrl> MisskeyStream::streamingURL(const QUrl &instanceURL, const QString &token)
{
    if (const std::optional<MisskeyAPIError> refusal = transportRefusal(instanceURL))
        return Failure{*refusal};
    QUrl url;
    url.setScheme(instanceURL.scheme().compare(u"http", Qt::CaseInsensitive) == 0 ? QStringLiteral("ws")
                                                                                 : QStringLiteral("wss"));
    url.setHost(instanceURL.host());
    url.setPort(instanceURL.port());
    url.setPath(QStringLiteral("/streaming"));
    // Encoded by hand: a token with "&", "+" or "=" must arrive as the one value it is.
    url.setQuery(QStringLiteral("i=") + QString::fromLatin1(QUrl::toPercentEncoding(token)), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return Failure{MisskeyAPIError::invalidInstance()};
    return url;
}

QString MisskeyStream::displayAddress(const QUrl &streamingURL)
{
    return streamingURL.adjusted(QUrl::RemoveQuery | QUrl::RemoveUserInfo | QUrl::RemoveFragment).toString();
}

void MisskeyStream::start(const QUrl &instanceURL, const QString &token, TimelineKind timeline, StreamHandlers handlers)
{
    stop();
    const APIResult<QUrl> url = streamingURL(instanceURL, token);
    if (!url) {
        if (handlers.onFailure)
            handlers.onFailure(url.error());
        return;
    }
    auto *loop = new StreamConnectionLoop(this, m_generation, url.value(), streamChannel(timeline), std::move(handlers),
                                          m_timings);
    m_loop = loop;
    loop->begin();
}

bool MisskeyStream::isRunning() const
{
    return !m_loop.isNull();
}

void MisskeyStream::stop()
{
    m_generation = QUuid::createUuid();
    if (StreamConnectionLoop *loop = m_loop.data()) {
        m_loop.clear();
        loop->end();
        // Later, not now: stop may be called from a handler running inside the loop.
        loop->deleteLater();
    }
}

} // namespace quill
