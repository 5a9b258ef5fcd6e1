// The application log: trimming, the 1000-entry cap, clearing and change notifications.
#include "app/log/app_log.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest/QTest>

#include <set>

using namespace quill;

class AppLogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void appendStoresLevelMessageAndTime()
    {
        AppLog log;
        const QDateTime before = QDateTime::currentDateTime();
        log.append(LogEntry::Level::request, QStringLiteral("Connected as @alice"));
        QCOMPARE(log.entries().size(), 1);
        const LogEntry &entry = log.entries().first();
        QCOMPARE(entry.level, LogEntry::Level::request);
        QCOMPARE(entry.message, QStringLiteral("Connected as @alice"));
        QVERIFY(!entry.id.isNull());
        QVERIFY(entry.date >= before && entry.date <= QDateTime::currentDateTime());
    }

    void entriesKeepAppendOrderAndUniqueIds()
    {
        AppLog log;
        for (int index = 0; index < 5; ++index)
            log.append(LogEntry::Level::script, QString::number(index));
        std::set<QString> ids;
        for (int index = 0; index < 5; ++index) {
            QCOMPARE(log.entries().at(index).message, QString::number(index));
            ids.insert(log.entries().at(index).id.toString());
        }
        QCOMPARE(ids.size(), std::size_t(5));
    }

    void onlyNewlinesAddsNothing()
    {
        AppLog log;
        QSignalSpy changed(&log, &AppLog::entriesChanged);
        log.append(LogEntry::Level::info, QStringLiteral("\n\r\n\u2028"));
        log.append(LogEntry::Level::info, QString());
        QVERIFY(log.entries().isEmpty());
        QCOMPARE(changed.count(), 0);
    }

    void blanksAreKept()
    {
        AppLog log;
        log.append(LogEntry::Level::info, QStringLiteral("   "));
        QCOMPARE(log.entries().size(), 1);
        QCOMPARE(log.entries().first().message, QStringLiteral("   "));
    }

    void newlinesTrimmedOnlyAtTheEnds()
    {
        AppLog log;
        log.append(LogEntry::Level::error, QStringLiteral("\nfirst line\nsecond line\r\n"));
        log.append(LogEntry::Level::script, QStringLiteral("\t indented \n"));
        QCOMPARE(log.entries().at(0).message, QStringLiteral("first line\nsecond line"));
        QCOMPARE(log.entries().at(1).message, QStringLiteral("\t indented "));
    }

    void keepsNewestThousand()
    {
        AppLog log;
        QSignalSpy dropped(&log, &AppLog::oldestEntriesDropped);
        for (int index = 1; index <= 1001; ++index)
            log.append(LogEntry::Level::info, QString::number(index));
        QCOMPARE(log.entries().size(), AppLog::capacity);
        QCOMPARE(log.entries().first().message, QStringLiteral("2"));
        QCOMPARE(log.entries().last().message, QStringLiteral("1001"));
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped.first().first().value<qsizetype>(), qsizetype(1));
    }

    void clearEmptiesTheLog()
    {
        AppLog log;
        for (int index = 0; index < 3; ++index)
            log.append(LogEntry::Level::warning, QStringLiteral("Streaming interrupted; reconnecting: x"));
        QSignalSpy cleared(&log, &AppLog::cleared);
        QSignalSpy changed(&log, &AppLog::entriesChanged);
        log.clear();
        QVERIFY(log.entries().isEmpty());
        QCOMPARE(cleared.count(), 1);
        QCOMPARE(changed.count(), 1);
    }

    void everyAppendIsObserved()
    {
        AppLog log;
        QSignalSpy appended(&log, &AppLog::entryAppended);
        QSignalSpy changed(&log, &AppLog::entriesChanged);
        log.append(LogEntry::Level::info, QStringLiteral("Quill ready."));
        log.append(LogEntry::Level::error, QStringLiteral("The request was cancelled."));
        QCOMPARE(appended.count(), 2);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(appended.at(1).first().value<LogEntry>(), log.entries().at(1));
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
