#include "app/api/pending_reply.h"

#include <QNetworkRequest>

namespace quill {

PendingReply::PendingReply(QNetworkReply *reply, const RequestLimits &limits, const RequestCancellation &cancellation)
    : m_reply(reply), m_maxBytes(limits.maxResponseBytes)
{
    connect(reply, &QNetworkReply::finished, this, [this] { settle(Outcome::finished); });
    connect(reply, &QObject::destroyed, this, [this] { settle(Outcome::lost); });
    // Every chunk is taken as it arrives: a chunked or compressed body announces no length, and the
    // progress signal is throttled, so only the bytes actually read can enforce the limit.
    connect(reply, &QIODevice::readyRead, this, &PendingReply::readBody);
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

void PendingReply::readBody()
{
    if (!m_reply || m_outcome != Outcome::pending)
        return;
    m_finished.body += m_reply->readAll();
    checkSize(m_finished.body.size());
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
    if (outcome == Outcome::finished && m_reply) {
        // The last bytes may still be unread; they count against the limit like the others.
        m_finished.body += m_reply->readAll();
        if (m_finished.body.size() > m_maxBytes)
            outcome = Outcome::tooLarge;
        m_finished.error = m_reply->error();
        m_finished.errorString = m_reply->errorString();
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid())
            m_finished.statusCode = status.toInt();
    } else if (outcome == Outcome::finished) {
        outcome = Outcome::lost;
    }
    m_outcome = outcome;
    m_deadline.stop();
    if (outcome != Outcome::finished)
        m_finished.body.clear();
    // Aborting makes the reply emit finished at once; the outcome is already decided by then.
    if (outcome != Outcome::finished && outcome != Outcome::lost && m_reply)
        m_reply->abort();
    Q_EMIT settled();
}

} // namespace quill
