#pragma once

#include "app/api/misskey_api.h"
#include "app/model/misskey_note.h"
#include "app/model/timeline_kind.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <functional>
#include <optional>

namespace quill {

class StreamConnectionLoop;

/// What the stream hands to the application; each is called on the stream's (the main) thread. A
/// handler may stop or restart the stream, but must not delete it.
struct StreamHandlers {
    /// A new note of the timeline.
    std::function<void(const MisskeyNote &)> onNote;
    /// An event type: a non-note body of the timeline channel, or "notification", "mention" or
    /// "reply" of the account's main channel.
    std::function<void(const QString &)> onEvent;
    /// The error that ended a connection attempt, just before the wait to reconnect.
    std::function<void(const MisskeyAPIError &)> onFailure;
};

/**
 * @brief Waits before a reconnection, then calls `wake` unless `context` is gone by then.
 *
 * The application waits on a timer; tests put in a faster clock to run the whole delay sequence.
 */
using ReconnectWaiter = std::function<void(std::chrono::milliseconds delay, QObject *context, std::function<void()> wake)>;

/// The clock of the connection loop; the application keeps the defaults.
struct StreamTimings {
    std::chrono::milliseconds firstDelay{std::chrono::seconds(2)};
    std::chrono::milliseconds maxDelay{std::chrono::seconds(30)};
    std::chrono::milliseconds keepAliveInterval{std::chrono::seconds(30)};
    /// A server that accepts the connection but never completes the handshake counts as failed.
    std::chrono::milliseconds handshakeTimeout{std::chrono::seconds(30)};
    /// Incoming messages are capped like REST bodies, so a hostile server cannot exhaust memory.
    qint64 maxMessageBytes = qint64(32) * 1024 * 1024;
    ReconnectWaiter waiter;
};

/**
 * @brief Keeps one WebSocket connection to the instance's streaming API for the selected timeline.
 *
 * Each connection subscribes the timeline's channel and the account's "main" channel (where Misskey
 * sends notifications, mentions and replies), pings every 30 s, and hands notes and events to the
 * handlers. A failed connection is reported once and retried after 2, 4, 8, 16, then every 30 seconds;
 * a handled message resets the delay. `stop` (and `start`, which stops first) replaces the generation
 * identifier, so a loop that was stopped never calls a handler again.
 *
 * Lives on the main thread. The streaming address carries the token, so it never appears in an
 * error text: failures name the address without its query.
 */
class MisskeyStream : public QObject {
    Q_OBJECT

public:
    explicit MisskeyStream(StreamTimings timings = {}, QObject *parent = nullptr);
    ~MisskeyStream() override;

    /**
     * @brief The WebSocket address: ws for an http instance, wss for https, path "/streaming", query "i".
     *
     * Fails with `invalidInstance` when the address cannot be formed, and with `insecureInstance`
     * for plain http to a host that is not this machine (the token would travel in clear text).
     */
    static APIResult<QUrl> streamingURL(const QUrl &instanceURL, const QString &token);

    /// The address as it may be shown or logged: without its query, which holds the token.
    static QString displayAddress(const QUrl &streamingURL);

    /**
     * @brief Stops any running loop and starts a new one for the timeline.
     *
     * An address that cannot be used is reported through onFailure once and nothing is started.
     */
    void start(const QUrl &instanceURL, const QString &token, TimelineKind timeline, StreamHandlers handlers);

    /// Stops the running loop, if any; its socket is closed with 1000 (normal closure).
    void stop();

    /// Whether a loop is running (connecting, connected or waiting to reconnect).
    bool isRunning() const;
    const QUuid &generation() const { return m_generation; }

Q_SIGNALS:
    /// A keep-alive ping went out (for diagnostics and tests).
    void keepAlivePingSent();

private:
    StreamTimings m_timings;
    QPointer<StreamConnectionLoop> m_loop;
    QUuid m_generation;
};

} // namespace quill
