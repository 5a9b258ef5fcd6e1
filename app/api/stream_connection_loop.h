#pragma once

#include "app/api/misskey_stream.h"
#include "app/api/stream_message.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QWebSocket>
#include <QWebSocketProtocol>

#include <chrono>

namespace quill {

/**
 * @brief One run of the streaming connection loop: connect, subscribe, receive, and on failure
 * report, wait and connect again.
 *
 * Created by MisskeyStream::start as its child and ended by MisskeyStream::stop. It captures the
 * stream's generation at its start and does nothing more, least of all call a handler, once the
 * stream is gone, the generation has changed or it has been ended.
 */
class StreamConnectionLoop : public QObject {
    Q_OBJECT

public:
    StreamConnectionLoop(MisskeyStream *stream, QUuid generation, QUrl url, QString timelineChannel,
                         StreamHandlers handlers, const StreamTimings &timings);
    ~StreamConnectionLoop() override;

    /// The first connection attempt.
    void begin();
    /// Ends the loop for good, closing its socket with 1000 (normal closure).
    void end();

private:
    bool isCurrent() const;
    void connectOnce();
    void subscribe();
    void receive(const QByteArray &bytes);
    void socketFailed(QAbstractSocket::SocketError error);
    void socketClosed();
    void fail(const MisskeyAPIError &error);
    void waitAndReconnect();
    /// Detaches the socket and closes it with `code`; it deletes itself once closed.
    void releaseSocket(QWebSocketProtocol::CloseCode code);
    /// A failure text that names the address without the token.
    QString describe(const QString &what) const;

    QPointer<MisskeyStream> m_stream;
    QUuid m_generation;
    QUrl m_url;
    StreamHandlers m_handlers;
    StreamTimings m_timings;
    StreamSubscription m_subscription;
    QWebSocket *m_socket = nullptr;
    QTimer m_keepAlive;
    QTimer m_handshakeDeadline;
    std::chrono::milliseconds m_delay;
    bool m_ended = false;
};

} // namespace quill
