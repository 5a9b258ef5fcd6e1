#include "ui/remote_image.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace quill {

namespace {

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

bool isFetchableImageURL(const QUrl &url)
{
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QStringLiteral("https"))
        return true;
    return scheme == QStringLiteral("http") && isLoopbackHost(url.host());
}

QNetworkAccessManager *RemoteImageLoader::sharedNetwork()
{
    static QPointer<QNetworkAccessManager> network;
    if (!network) {
        network = new QNetworkAccessManager(QCoreApplication::instance());
        // Each redirect is checked against the same rule as the first address.
        network->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    }
    return network;
}

RemoteImageLoader::RemoteImageLoader(const QUrl &url, QObject *parent) : QObject(parent), m_url(url)
{
    if (!isFetchableImageURL(url))
        return;
    QNetworkRequest request(url);
    request.setTransferTimeout(30000);
    request.setMaximumRedirectsAllowed(5);
    m_reply = sharedNetwork()->get(request);
    connect(m_reply, &QNetworkReply::redirected, m_reply, [reply = m_reply.data()](const QUrl &target) {
        if (isFetchableImageURL(target))
            Q_EMIT reply->redirectAllowed();
        else
            reply->abort();
    });
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > maxImageBytes && m_reply)
            m_reply->abort();
    });
    connect(m_reply, &QNetworkReply::finished, this, &RemoteImageLoader::finish);
}

RemoteImageLoader::~RemoteImageLoader()
{
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void RemoteImageLoader::finish()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError)
        return;
    const QByteArray bytes = reply->read(maxImageBytes + 1);
    if (bytes.size() > maxImageBytes)
        return;
    QImage image;
    if (!image.loadFromData(bytes) || image.isNull())
        return;
    m_image = std::move(image);
    Q_EMIT loaded();
}

} // namespace quill
