// The application log: order, ids, trimming, hand-over between threads and the level labels.
#include "app/log/app_log.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest/QTest>

#include <set>

using namespace quill;

class AppLogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Entries keep their order and level and get distinct ids and the time of appending. The
    // 1000-entry cap and clearing are checked through the log pane's model, which follows them.
    void appendsInOrderWithIdsAndTimes()
    {
        AppLog log;
        QSignalSpy appended(&log, &AppLog::entryAppended);
        const QDateTime before = QDateTime::currentDateTime();
        for (int index = 0; index < 5; ++index)
            log.append(LogEntry::Level::request, QString::number(index));
        std::set<QString> ids;
        for (const LogEntry &entry : log.entries()) {
            QCOMPARE(entry.message, QString::number(qsizetype(ids.size())));
            QVERIFY(entry.level == LogEntry::Level::request && entry.date >= before && entry.date <= QDateTime::currentDateTime());
            ids.insert(entry.id.toString());
        }
        QCOMPARE(ids.size(), std::size_t(5));
        QCOMPARE(appended.at(1).first().value<LogEntry>(), log.entries().at(1));
    }

    // Line breaks are trimmed at the ends only; a message of nothing else adds no entry.
    void trimsLineBreaksAtTheEnds()
    {
        AppLog log;
        QSignalSpy changed(&log, &AppLog::entriesChanged);
        log.append(LogEntry::Level::info, QStringLiteral("\n\r\n\u2028"));
        log.append(LogEntry::Level::info, QString());
        QCOMPARE(changed.count(), 0);
        log.append(LogEntry::Level::info, QStringLiteral("   "));
        log.append(LogEntry::Level::error, QStringLiteral("\nfirst line\nsecond line\r\n"));
        log.append(LogEntry::Level::script, QStringLiteral("\t indented \n"));
        QStringList messages;
        for (const LogEntry &entry : log.entries())
            messages.append(entry.message);
        QCOMPARE(messages, (QStringList{QStringLiteral("   "), QStringLiteral("first line\nsecond line"),
                                        QStringLiteral("\t indented ")}));
    }

    void appendFromAnotherThreadArrivesOnTheLogsThread()
    {
        AppLog log;
        QThread *worker = QThread::create([&log] { log.append(LogEntry::Level::script, QStringLiteral("from a bot")); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        // Handed over, not appended on the worker: nothing until the main thread runs its events.
        QVERIFY(log.entries().isEmpty());
        QTRY_COMPARE(log.entries().size(), 1);
        QCOMPARE(log.entries().first().message, QStringLiteral("from a bot"));
    }

    void labels()
    {
        QStringList labels;
        for (LogEntry::Level level : {LogEntry::Level::info, LogEntry::Level::request, LogEntry::Level::script,
                                      LogEntry::Level::warning, LogEntry::Level::error})
            labels.append(label(level));
        QCOMPARE(labels, (QStringList{QStringLiteral("INFO"), QStringLiteral("API"), QStringLiteral("BOT"),
                                      QStringLiteral("WARN"), QStringLiteral("ERROR")}));
    }
};

QTEST_GUILESS_MAIN(AppLogTest)
#include "app_log_test.moc"
