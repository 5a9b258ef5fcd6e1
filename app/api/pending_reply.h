#pragma once

#include "app/api/request_cancellation.h"
#include "app/api/request_limits.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <optional>

namespace quill {

/// What a finished reply said, copied when it finished so that the reply itself may be gone later.
struct FinishedReply {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorString;
    /// The HTTP status, or nothing when the answer was not HTTP.
    std::optional<int> statusCode;
    QByteArray body;
};

/**
 * @brief Watches one network reply until it settles, enforcing the limits of the call.
 *
 * It settles exactly once: when the reply finishes, when the deadline passes, when the caller
 * cancels, when the body grows past the size limit, or when the reply is destroyed underneath it.
 * In every case but a normal finish the reply is aborted. The body is read as it arrives, so the
 * size limit holds whether or not the server declared a length. The reply is deleted with this object.
 */
class PendingReply : public QObject {
    Q_OBJECT

public:
    enum class Outcome { pending, finished, timedOut, cancelled, tooLarge, lost };

    PendingReply(QNetworkReply *reply, const RequestLimits &limits, const RequestCancellation &cancellation);
    ~PendingReply() override;

    Outcome outcome() const { return m_outcome; }
    /// The reply's answer; only meaningful when the outcome is `finished`.
    const FinishedReply &finishedReply() const { return m_finished; }

Q_SIGNALS:
    /// Emitted once, when the outcome is decided.
    void settled();

private:
    void settle(Outcome outcome);
    void readBody();
    void checkSize(qint64 bytes);

    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    qint64 m_maxBytes;
    FinishedReply m_finished;
    Outcome m_outcome = Outcome::pending;
};

} // namespace quill
