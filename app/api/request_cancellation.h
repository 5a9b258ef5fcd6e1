#pragma once

#include <QObject>

#include <atomic>
#include <memory>

namespace quill {

/// Shared state behind a RequestCancellation; requests in flight listen to its signal.
class CancellationNotifier : public QObject {
    Q_OBJECT

public:
    bool isCancelled() const { return m_cancelled.load(); }
    void cancel();

Q_SIGNALS:
    /// Emitted once, on the first cancel().
    void cancelRequested();

private:
    std::atomic<bool> m_cancelled{false};
};

/**
 * @brief A handle that lets the caller of a request cancel it.
 *
 * Copies share one state: keep a copy, pass another to the request, call cancel() to end the request
 * with MisskeyAPIError::cancelled. Cancelling is safe from any thread and more than once.
 */
class RequestCancellation {
public:
    RequestCancellation() : m_notifier(std::make_shared<CancellationNotifier>()) {}

    void cancel() const { m_notifier->cancel(); }
    bool isCancelled() const { return m_notifier->isCancelled(); }

    /// The object whose cancelRequested() a request connects to.
    CancellationNotifier *notifier() const { return m_notifier.get(); }

private:
    std::shared_ptr<CancellationNotifier> m_notifier;
};

} // namespace quill
