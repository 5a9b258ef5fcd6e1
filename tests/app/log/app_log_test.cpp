// The application log: order, ids, trimming, hand-over between threads and the level labels. The
// 1000-entry cap and clearing are checked through the window's log pane.
#include "app/log/app_log.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest/QTest>

using namespace quill;

class AppLogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Entries keep their order and level and get distinct ids and the time of appending; line
    // breaks are trimmed at the ends only, and a message of nothing else adds no entry.
    void appends()
    {
        AppLog log;
        QSignalSpy appended(&log, &AppLog::entryAppended);
        const QDateTime before = QDateTime::currentDateTime();
        log.append(LogEntry::Level::info, QStringLiteral("\n\r\n\u2028"));
        log.append(LogEntry::Level::info, QString());
        log.append(LogEntry::Level::info, QStringLiteral("   "));
        log.append(LogEntry::Level::error, QStringLiteral("\nfirst line\nsecond line\r\n"));
        log.append(LogEntry::Level::script, QStringLiteral("\t indented \n"));
        QStringList rows;
        for (const LogEntry &entry : log.entries()) {
            rows.append(label(entry.level) + u'|' + entry.message);
            QVERIFY(entry.date >= before && entry.date <= QDateTime::currentDateTime());
        }
        QCOMPARE(rows, (QStringList{QStringLiteral("INFO|   "), QStringLiteral("ERROR|first line\nsecond line"),
                                    QStringLiteral("BOT|\t indented ")}));
        QVERIFY(log.entries().at(0).id != log.entries().at(1).id && log.entries().at(1).id != log.entries().at(2).id);
        QCOMPARE(appended.size(), 3);
        QCOMPARE(appended.at(1).first().value<LogEntry>(), log.entries().at(1));
        QCOMPARE(label(LogEntry::Level::request) + u' ' + label(LogEntry::Level::warning), QStringLiteral("API WARN"));

        // An entry from another thread arrives on the log's thread.
        log.clear();
        std::unique_ptr<QThread> worker(QThread::create([&log] { log.append(LogEntry::Level::script, QStringLiteral("from a bot")); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        // Handed over, not appended on the worker: nothing until the main thread runs its events.
        QVERIFY(log.entries().isEmpty());
        QTRY_COMPARE(log.entries().size(), 1);
        QCOMPARE(log.entries().first().message, QStringLiteral("from a bot"));
    }
};

QTEST_GUILESS_MAIN(AppLogTest)
#include "app_log_test.moc"
