#pragma once

// What the client suites build for every case: the fake instance serving its default answers, a
// network manager, the in-memory platform services, a folder for input files, and helpers to read
// what the server received.
#include "app/log/app_log.h"
#include "tests/app/support/fake_misskey_server.h"
#include "tests/app/support/in_memory_services.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

namespace quill::test {

namespace detail {

// The task lives in this frame, so it is safe to stop waiting before it finishes.
template <typename T>
QCoro::Task<> storeResult(QCoro::Task<T> task, std::shared_ptr<std::optional<T>> slot)
{
    slot->emplace(co_await task);
}

inline QCoro::Task<bool> finished(QCoro::Task<> task)
{
    co_await task;
    co_return true;
}

} // namespace detail

/// Runs the event loop until a task finishes, for at most `limit`: its result, or nothing when it
/// did not finish in time, so that a test fails on the missing value instead of hanging.
template <typename T>
std::optional<T> awaitTask(QCoro::Task<T> task, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    auto slot = std::make_shared<std::optional<T>>();
    QCoro::Task<> runner = detail::storeResult(std::move(task), slot);
    static_cast<void>(QTest::qWaitFor([&slot] { return slot->has_value(); }, int(limit.count())));
    return *slot;
}

/// The same for a task without a result: whether it finished in time.
inline bool finishTask(QCoro::Task<> task) { return awaitTask(detail::finished(std::move(task))).value_or(false); }

struct ClientFixture {
    FakeMisskeyServer server;
    std::unique_ptr<QNetworkAccessManager> network = std::make_unique<QNetworkAccessManager>();
    QTemporaryDir dir;
    InMemorySecretStore secrets;
    ScriptedFileDialogs dialogs;
    RecordingURLOpener browser;
    InMemorySettings settings;

    bool start()
    {
        server.serveDefaultFixtures();
        return server.start() && dir.isValid();
    }
    /// Writes a test's input file and returns its path; a test that cannot write its input cannot run.
    QString file(const QString &name, const QByteArray &bytes) const
    {
        QFile out(dir.filePath(name));
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(out.fileName()));
        return out.fileName();
    }
    /// The newest request, to `endpoint` when one is named ("notes/create").
    RecordedRequest last(const QString &endpoint = {}) const
    {
        const QList<RecordedRequest> requests = endpoint.isEmpty() ? server.requests() : server.requestsTo(endpoint);
        return requests.value(requests.size() - 1);
    }
    bool waitForRequests(qsizetype count, const QString &endpoint = {}, int milliseconds = 5000) const
    {
        return QTest::qWaitFor([&] { return (endpoint.isEmpty() ? server.requests() : server.requestsTo(endpoint)).size() >= count; },
                               milliseconds);
    }
};

/// A log's messages, of one level when one is given, else all as "LABEL message".
inline QStringList logLines(const AppLog &log, std::optional<LogEntry::Level> level = std::nullopt)
{
    QStringList lines;
    for (const LogEntry &entry : log.entries()) {
        if (!level)
            lines.append(label(entry.level) + QLatin1Char(' ') + entry.message);
        else if (entry.level == *level)
            lines.append(entry.message);
    }
    return lines;
}

} // namespace quill::test
