#pragma once

#include "app/api/request_cancellation.h"
#include "app/common/result.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

namespace quill {

/// A response text for the engine, or the message of what went wrong.
using HostResult = Result<QString, QString>;

/**
 * @brief The engine's host for one bot run: the instance, the token and the network operations.
 *
 * The engine calls the operations synchronously on the controller's worker thread; each waits for
 * its network task in 0.1 s slices, so a stop from the main thread (cancel()) ends the request in
 * flight within about 0.1 s, and every later request of the run fails at once.
 */
class ScriptHost {
public:
    using LogHandler = std::function<void(const QString &)>;

    /// The body limit of general HTTP responses (a body of exactly this size is accepted).
    static constexpr qint64 maxHTTPResponseBytes = qint64(10) * 1024 * 1024;
    static constexpr std::chrono::milliseconds pollInterval{100};

    ScriptHost(QUrl instanceURL, QString token, LogHandler logHandler);

    const QUrl &instanceURL() const { return m_instanceURL; }

    /// The worker's network access manager; set on the worker thread before the run starts.
    void setNetwork(QNetworkAccessManager *network) { m_network = network; }

    /// Forwards one line that the script logged.
    void log(const QString &message) const;

    HostResult performRequest(const QString &endpoint, const QByteArray &parametersJSON);
    HostResult performUpload(const QString &filePath, const QByteArray &optionsJSON);
    HostResult performHTTP(const QString &urlString, const QByteArray &optionsJSON);

    /// Any thread: marks the run as cancelled for good and cancels the task in flight.
    void cancel();
    bool isCancelled() const;

private:
    enum class Flavour { misskey, http };

    HostResult execute(QNetworkRequest request, const QByteArray &method, const QByteArray &body,
                       std::chrono::milliseconds timeout, Flavour flavour);
    QNetworkRequest misskeyRequest(const QUrl &url) const;

    const QUrl m_instanceURL;
    const QString m_token;
    const LogHandler m_logHandler;
    QNetworkAccessManager *m_network = nullptr;

    mutable std::mutex m_lock;
    bool m_cancelled = false;             // guarded by m_lock
    std::optional<RequestCancellation> m_activeTask; // guarded by m_lock
};

} // namespace quill
