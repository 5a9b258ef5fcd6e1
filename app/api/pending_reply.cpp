#include "app/api/pending_reply.h"

#include <algorithm>

namespace quill {

PendingReply::PendingReply(QNetworkReply *reply, const RequestLimits &limits, const RequestCancellation &cancellation)
    : m_reply(reply), m_maxBytes(limits.maxResponseBytes)
{
    connect(reply, &QNetworkReply::finished, this, [this] { settle(Outcome::finished); });
    connect(reply, &QObject::destroyed, this, [this] { settle(Outcome::lost); });
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        checkSize(std::max(received, total));
    });
    // A declared length over the limit is refused before the body arrives.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        if (m_reply)
            checkSize(m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    });
    connect(cancellation.notifier(), &CancellationNotifier::cancelRequested, this,
            [this] { settle(Outcome::cancelled); });

    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { settle(Outcome::timedOut); });
    m_deadline.start(limits.timeout);

    if (cancellation.isCancelled())
        settle(Outcome::cancelled);
    else if (reply->isFinished())
        settle(Outcome::finished);
}

PendingReply::~PendingReply()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void PendingReply::checkSize(qint64 bytes)
{
    if (bytes > m_maxBytes)
        settle(Outcome::tooLarge);
}

void PendingReply::settle(Outcome outcome)
{
    if (m_outcome != Outcome::pending)
        return;
    m_outcome = outcome;
    m_deadline.stop();
    // Aborting makes the reply emit finished at once; the outcome is already decided by then.
    if (outcome != Outcome::finished && outcome != Outcome::lost && m_reply)
        m_reply->abort();
    Q_EMIT settled();
}

} // namespace quill
