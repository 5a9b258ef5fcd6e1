#pragma once

#include "app/api/request_cancellation.h"
#include "app/api/request_limits.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace quill {

/**
 * @brief Watches one network reply until it settles, enforcing the limits of the call.
 *
 * It settles exactly once: when the reply finishes, when the deadline passes, when the caller
 * cancels, when the body grows past the size limit, or when the reply is destroyed underneath it.
 * In every case but a normal finish the reply is aborted. The reply is deleted with this object.
 */
class PendingReply : public QObject {
    Q_OBJECT

public:
    enum class Outcome { pending, finished, timedOut, cancelled, tooLarge, lost };

    PendingReply(QNetworkReply *reply, const RequestLimits &limits, const RequestCancellation &cancellation);
    ~PendingReply() override;

    Outcome outcome() const { return m_outcome; }
    /// The reply; null only when the outcome is `lost`.
    QNetworkReply *reply() const { return m_reply.data(); }

Q_SIGNALS:
    /// Emitted once, when the outcome is decided.
    void settled();

private:
    void settle(Outcome outcome);
    void checkSize(qint64 bytes);

    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    qint64 m_maxBytes;
    Outcome m_outcome = Outcome::pending;
};

} // namespace quill
