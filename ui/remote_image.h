#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QNetworkReply>
#include <QUrl>

class QNetworkAccessManager;

namespace quill {

/**
 * @brief Whether an image address may be fetched at all.
 *
 * Only https, and plain http to this machine (the local fake and sandbox servers). `file:`,
 * `data:`, relative and every other address shows the placeholder: a note's author chooses these
 * addresses, and must not make the client read local files or talk plain http across a network.
 */
bool isFetchableImageURL(const QUrl &url);

/**
 * @brief One remote image of one view: downloaded once when created, cancelled when destroyed.
 *
 * There is no cache; two views of the same address download it twice. Redirects may only stay on
 * fetchable addresses, bodies are bounded and decoding happens on the main thread.
 */
class RemoteImageLoader : public QObject {
    Q_OBJECT

public:
    /// Largest image body accepted; avatars and previews are far smaller.
    static constexpr qint64 maxImageBytes = 8 * 1024 * 1024;

    /// Starts the download at once when the address is fetchable.
    RemoteImageLoader(const QUrl &url, QObject *parent = nullptr);
    /// Cancels a download still running.
    ~RemoteImageLoader() override;

    const QUrl &url() const { return m_url; }
    /// The decoded image, or a null image until loaded (and for good on failure).
    const QImage &image() const { return m_image; }
    bool isLoading() const { return m_reply != nullptr; }

    /// The one network manager the window's images share (created on first use, main thread).
    static QNetworkAccessManager *sharedNetwork();

Q_SIGNALS:
    /// The image arrived and was decoded.
    void loaded();

private:
    void finish();

    QUrl m_url;
    QImage m_image;
    QPointer<QNetworkReply> m_reply;
};

} // namespace quill
