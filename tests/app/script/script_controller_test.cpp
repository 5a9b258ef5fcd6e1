// ScriptController: the life of a run as the log and the state show it, on the real worker thread.
#include "app/script/script_controller.h"

#include "tests/app/support/fake_misskey_server.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest/QTest>

using namespace quill;
using namespace std::chrono_literals;
using quill::test::FakeMisskeyServer;
using quill::test::FakeResponse;

class ScriptControllerTest : public QObject {
    Q_OBJECT

private:
    FakeMisskeyServer *m_server = nullptr;
    AppLog *m_log = nullptr;
    ScriptController *m_controller = nullptr;
    QTemporaryDir m_scripts;

    QString script(const QString &name, const QByteArray &source) { return test::writeFile(m_scripts.filePath(name), source); }

    QStringList lines() const
    {
        QStringList result;
        for (const LogEntry &entry : m_log->entries())
            result.append(label(entry.level) + QLatin1Char(' ') + entry.message);
        return result;
    }

    bool waitIdle(int milliseconds = 10000)
    {
        return QTest::qWaitFor([this] { return m_controller->state() == ScriptExecutionState::idle; }, milliseconds);
    }

    bool start(const QString &path)
    {
        return m_controller->start(path, m_server->url(), QStringLiteral("tok-1"));
    }

private Q_SLOTS:
    void init()
    {
        m_server = new FakeMisskeyServer(this);
        QVERIFY(m_server->start());
        m_server->serveDefaultFixtures();
        m_log = new AppLog(this);
        m_controller = new ScriptController(m_log, this);
    }

    void cleanup()
    {
        delete m_controller;
        delete m_log;
        delete m_server;
    }

    void aRunIsLoggedFromStartToFinish()
    {
        m_server->setEndpointResponse(QStringLiteral("i"), FakeResponse::json(R"({"id":"u1","username":"bot"})"));
        QSignalSpy finished(m_controller, &ScriptController::runFinished);
        QVERIFY(start(script(QStringLiteral("Upper.CBS"), "me = misskeyMe()\nprint(\"I am\", me[\"username\"])\n")));
        QCOMPARE(m_controller->state(), ScriptExecutionState::running);
        QVERIFY(waitIdle());
        QCOMPARE(lines(), (QStringList{QStringLiteral("INFO Started Upper.CBS"), QStringLiteral("BOT I am\tbot"),
                                       QStringLiteral("INFO Bot script finished.")}));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(m_server->requestsTo(QStringLiteral("i")).value(0).header("Authorization"), QByteArrayLiteral("Bearer tok-1"));
    }

    void badFilesDoNotStart()
    {
        QVERIFY(!start(script(QStringLiteral("notes.txt"), "print(1)\n")));
        const QString missing = m_scripts.filePath(QStringLiteral("missing.cbs"));
        QVERIFY(!start(missing));
        QCOMPARE(m_controller->state(), ScriptExecutionState::idle);
        QCOMPARE(lines(), (QStringList{QStringLiteral("ERROR The selected bot script is not a .cbs file."),
                                       QStringLiteral("ERROR Bot script not found at ") + missing}));
    }

    void twoQuickStartsGiveOneRun()
    {
        const QString path = script(QStringLiteral("once.cbs"), "print(\"ran\")\n");
        QSignalSpy states(m_controller, &ScriptController::stateChanged);
        QVERIFY(start(path));
        QVERIFY(!start(path));
        QVERIFY(waitIdle());
        QCOMPARE(lines().count(QStringLiteral("BOT ran")), 1);
        QCOMPARE(lines().filter(QStringLiteral("Started")).size(), 1);
        QCOMPARE(states.size(), 2);
        // Once idle again, the controller takes a new run.
        QVERIFY(start(path));
        QVERIFY(waitIdle());
        QCOMPARE(lines().count(QStringLiteral("BOT ran")), 2);
    }

    void aScriptThatCallsNothingStopsAtItsEnd()
    {
        QVERIFY(start(script(QStringLiteral("busy.cbs"),
                             "t = getTimeMs()\nwhile getTimeMs() - t < 700\n  x = 1\nend\n")));
        m_controller->stop();
        QCOMPARE(m_controller->state(), ScriptExecutionState::stopping);
        m_controller->stop(); // only a running controller stops
        QVERIFY(waitIdle());
        QCOMPARE(lines(), (QStringList{QStringLiteral("INFO Started busy.cbs"), QStringLiteral("INFO Bot stop requested."),
                                       QStringLiteral("INFO Bot script stopped.")}));
    }

    void aFailureIsReportedOnce()
    {
        QSignalSpy finished(m_controller, &ScriptController::runFinished);
        QVERIFY(start(script(QStringLiteral("fails.cbs"), "error(\"boom\")\n")));
        QVERIFY(waitIdle());
        QCOMPARE(finished.size(), 1);
        const ScriptOutcome outcome = finished.at(0).at(0).value<ScriptOutcome>();
        QCOMPARE(outcome.result, QUILL_SCRIPT_FAILED);
        const QStringList errors = lines().filter(QStringLiteral("ERROR "));
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.at(0).startsWith(QStringLiteral("ERROR CobaltScript error: boom")));
        QCOMPARE(QStringLiteral("ERROR ") + outcome.failure.value_or(QString()).trimmed(), errors.at(0));
    }

    void stopCancelsTheRequestInFlight()
    {
        m_server->setResponse(QStringLiteral("/slow"), FakeResponse::json("{}").delayedBy(8s));
        const QString url = m_server->url().toString() + QStringLiteral("/slow");
        QVERIFY(start(script(QStringLiteral("slow.cbs"), "httpGet(\"" + url.toUtf8() + "\")\nprint(\"not reached\")\n")));
        QVERIFY(QTest::qWaitFor([this] { return !m_server->requests().isEmpty(); }, 5000));
        QTest::qWait(200);
        QElapsedTimer clock;
        clock.start();
        m_controller->stop();
        QVERIFY(waitIdle());
        QVERIFY2(clock.elapsed() < 600, QByteArray::number(clock.elapsed()).constData());
        QCOMPARE(lines().last(), QStringLiteral("INFO Bot script stopped."));
        QVERIFY(lines().filter(QStringLiteral("ERROR")).isEmpty());
        QVERIFY(!lines().contains(QStringLiteral("BOT not reached")));
    }
};

QTEST_GUILESS_MAIN(ScriptControllerTest)
#include "script_controller_test.moc"
