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
    void appendsInOrderWithIdsAndTimes()
    {
        AppLog log;
        QSignalSpy appended(&log, &AppLog::entryAppended);
        QSignalSpy changed(&log, &AppLog::entriesChanged);
        const QDateTime before = QDateTime::currentDateTime();
        for (int index = 0; index < 5; ++index)
            log.append(LogEntry::Level::request, QString::number(index));
        std::set<QString> ids;
        for (int index = 0; index < 5; ++index) {
            const LogEntry &entry = log.entries().at(index);
            QCOMPARE(entry.level, LogEntry::Level::request);
            QCOMPARE(entry.message, QString::number(index));
            QVERIFY(entry.date >= before && entry.date <= QDateTime::currentDateTime());
            ids.insert(entry.id.toString());
        }
        QCOMPARE(ids.size(), std::size_t(5));
        QCOMPARE(appended.count(), 5);
        QCOMPARE(changed.count(), 5);
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

    void keepsNewestThousandAndClears()
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

        QSignalSpy cleared(&log, &AppLog::cleared);
        QSignalSpy changed(&log, &AppLog::entriesChanged);
        log.clear();
        QVERIFY(log.entries().isEmpty());
        QCOMPARE(cleared.count(), 1);
        QCOMPARE(changed.count(), 1);
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
