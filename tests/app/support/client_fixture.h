#pragma once

// What the client suites build for every case: the fake instance serving its default answers, a
// network manager, a folder for input files, and helpers to read what the server received.
#include "app/log/app_log.h"
#include "tests/app/support/await_task.h"
#include "tests/app/support/fake_misskey_server.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include <memory>

namespace quill::test {

struct ClientFixture {
    FakeMisskeyServer server;
    std::unique_ptr<QNetworkAccessManager> network = std::make_unique<QNetworkAccessManager>();
    QTemporaryDir dir;

    bool start()
    {
        server.serveDefaultFixtures();
        return server.start() && dir.isValid();
    }
    QString file(const QString &name, const QByteArray &bytes) const { return writeFile(dir.filePath(name), bytes); }
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
