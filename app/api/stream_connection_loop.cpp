#include "app/api/stream_connection_loop.h"

#include <QNetworkRequest>
#include <QUrlQuery>
#include <QtGlobal>

#include <algorithm>
#include <utility>

namespace quill {

namespace {

// A closing socket gets this long to finish the closing handshake before it is dropped.
constexpr std::chrono::seconds closeGrace{5};

QNetworkReply::NetworkError networkErrorOf(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError: return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError: return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError: return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError: return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyConnectionRefusedError: return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyNotFoundError: return QNetworkReply::ProxyNotFoundError;
    default: return QNetworkReply::UnknownNetworkError;
    }
}

} // namespace

StreamConnectionLoop::StreamConnectionLoop(MisskeyStream *stream, QUuid generation, QUrl url, QString timelineChannel,
                                           StreamHandlers handlers, const StreamTimings &timings)
    : QObject(stream), m_stream(stream), m_generation(generation), m_url(std::move(url)),
      m_handlers(std::move(handlers)), m_timings(timings), m_delay(timings.firstDelay)
{
    m_subscription.timelineChannel = std::move(timelineChannel);
    if (!m_timings.waiter) {
        m_timings.waiter = [](std::chrono::milliseconds delay, QObject *context, std::function<void()> wake) {
            QTimer::singleShot(delay, context, std::move(wake));
        };
    }

    // The ping is sent on whatever socket is current; no pong is awaited.
    connect(&m_keepAlive, &QTimer::timeout, this, [this] {
        if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
            m_socket->ping();
            if (m_stream)
                Q_EMIT m_stream->keepAlivePingSent();
        }
    });
    m_handshakeDeadline.setSingleShot(true);
    connect(&m_handshakeDeadline, &QTimer::timeout, this, [this] {
        fail(MisskeyAPIError::transport(QNetworkReply::TimeoutError,
                                        describe(QStringLiteral("The streaming connection timed out"))));
    });
}

StreamConnectionLoop::~StreamConnectionLoop()
{
    end();
}

bool StreamConnectionLoop::isCurrent() const
{
    return !m_ended && m_stream && m_stream->generation() == m_generation;
}

void StreamConnectionLoop::begin()
{
    connectOnce();
}

void StreamConnectionLoop::end()
{
    if (m_ended)
        return;
    m_ended = true;
    m_keepAlive.stop();
    m_handshakeDeadline.stop();
    releaseSocket(QWebSocketProtocol::CloseCodeNormal);
}

void StreamConnectionLoop::connectOnce()
{
    if (!isCurrent())
        return;
    // Each attempt subscribes under fresh ids, as a new connection would.
    m_subscription.timelineID = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    m_subscription.mainID = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();

    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket->setMaxAllowedIncomingMessageSize(quint64(m_timings.maxMessageBytes));
    connect(m_socket, &QWebSocket::connected, this, &StreamConnectionLoop::subscribe);
    connect(m_socket, &QWebSocket::textMessageReceived, this,
            [this](const QString &text) { receive(text.toUtf8()); });
    connect(m_socket, &QWebSocket::binaryMessageReceived, this, &StreamConnectionLoop::receive);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    connect(m_socket, &QWebSocket::errorOccurred, this, &StreamConnectionLoop::socketFailed);
#else
    connect(m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            &StreamConnectionLoop::socketFailed);
#endif
    connect(m_socket, &QWebSocket::disconnected, this, &StreamConnectionLoop::socketClosed);

    m_handshakeDeadline.start(m_timings.handshakeTimeout);
    m_socket->open(QNetworkRequest(m_url));
}

void StreamConnectionLoop::subscribe()
{
    if (!isCurrent() || !m_socket)
        return;
    m_handshakeDeadline.stop();
    m_keepAlive.start(m_timings.keepAliveInterval);
    const QByteArray requests[] = {connectRequest(m_subscription.timelineChannel, m_subscription.timelineID),
                                   connectRequest(QStringLiteral("main"), m_subscription.mainID)};
    for (const QByteArray &request : requests) {
        // A failed write reports an error at once, which releases the socket.
        if (!m_socket)
            return;
        m_socket->sendTextMessage(QString::fromUtf8(request));
    }
}

void StreamConnectionLoop::receive(const QByteArray &bytes)
{
    if (!isCurrent() || !m_socket)
        return;
    const Result<StreamDelivery, MisskeyAPIError> delivery = interpretStreamMessage(bytes, m_subscription);
    if (!delivery) {
        fail(delivery.error());
        return;
    }
    m_delay = m_timings.firstDelay;
    switch (delivery.value().kind) {
    case StreamDelivery::Kind::nothing:
        break;
    case StreamDelivery::Kind::note:
        if (m_handlers.onNote)
            m_handlers.onNote(*delivery.value().note);
        break;
    case StreamDelivery::Kind::event:
        if (m_handlers.onEvent)
            m_handlers.onEvent(delivery.value().event);
        break;
    }
}

void StreamConnectionLoop::socketFailed(QAbstractSocket::SocketError error)
{
    if (!m_socket)
        return;
    QString reason = m_socket->errorString();
    // Qt's texts do not quote the address today; make sure the token cannot leak through one anyway.
    const QString token = QUrlQuery(m_url).queryItemValue(QStringLiteral("i"), QUrl::FullyDecoded);
    reason.replace(m_url.toString(), MisskeyStream::displayAddress(m_url));
    reason.replace(QString::fromUtf8(m_url.toEncoded()), MisskeyStream::displayAddress(m_url));
    if (!token.isEmpty())
        reason.replace(token, QStringLiteral("***"));
    fail(MisskeyAPIError::transport(networkErrorOf(error), describe(reason)));
}

void StreamConnectionLoop::socketClosed()
{
    if (!m_socket)
        return;
    const int code = int(m_socket->closeCode());
    fail(MisskeyAPIError::transport(
        QNetworkReply::RemoteHostClosedError,
        describe(QStringLiteral("The streaming server closed the connection with code %1").arg(code))));
}

void StreamConnectionLoop::fail(const MisskeyAPIError &error)
{
    // One failure per connection: the socket is detached first, so its later signals are not heard.
    if (!m_socket)
        return;
    m_keepAlive.stop();
    m_handshakeDeadline.stop();
    releaseSocket(QWebSocketProtocol::CloseCodeGoingAway);
    if (!isCurrent())
        return;
    if (m_handlers.onFailure)
        m_handlers.onFailure(error);
    // The handler may have stopped or restarted the stream.
    if (isCurrent())
        waitAndReconnect();
}

void StreamConnectionLoop::waitAndReconnect()
{
    const std::chrono::milliseconds delay = m_delay;
    m_delay = std::min(m_delay * 2, m_timings.maxDelay);
    m_timings.waiter(delay, this, [this] { connectOnce(); });
}

void StreamConnectionLoop::releaseSocket(QWebSocketProtocol::CloseCode code)
{
    QWebSocket *socket = std::exchange(m_socket, nullptr);
    if (!socket)
        return;
    socket->disconnect(this);
    const QAbstractSocket::SocketState state = socket->state();
    if (state != QAbstractSocket::ConnectedState) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    if (!m_stream) {
        socket->close(code);
        socket->deleteLater();
        return;
    }
    // The closing handshake outlives this loop (a restart deletes it at once), so the socket is
    // handed to the stream, which outlives both; it goes when the server answers or the grace ends.
    socket->setParent(m_stream.data());
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(closeGrace, socket, &QObject::deleteLater);
    socket->close(code);
}

QString StreamConnectionLoop::describe(const QString &what) const
{
    QString text = what;
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text + QStringLiteral(" (") + MisskeyStream::displayAddress(m_url) + QStringLiteral(").");
}

} // namespace quill
