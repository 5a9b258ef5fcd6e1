// quill-bot as a process against the fake server: what the server receives, the log on standard
// output, the exit status, and a clean stop on SIGTERM.
#include "tests/app/support/fake_misskey_server.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QTest>

using quill::test::FakeMisskeyServer;
using quill::test::FakeResponse;
using quill::test::RecordedRequest;

class QuillBotTest : public QObject {
    Q_OBJECT

private:
    FakeMisskeyServer *m_server = nullptr;
    QTemporaryDir m_files;

    QString file(const QString &name, const QByteArray &bytes)
    {
        QFile out(m_files.filePath(name));
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            qWarning() << "could not write" << name;
        return out.fileName();
    }

    void launch(QProcess &process, const QString &instance, const QString &script)
    {
        process.start(QStringLiteral(QUILL_BOT_PATH),
                      {QStringLiteral("--instance"), instance, QStringLiteral("--token-file"),
                       file(QStringLiteral("token.txt"), "tok-9\n"), script});
    }

    // Runs the event loop (and so the fake server) until the process ends.
    static bool finish(QProcess &process)
    {
        return QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 20000);
    }

private Q_SLOTS:
    void init()
    {
        m_server = new FakeMisskeyServer(this);
        QVERIFY(m_server->start());
        m_server->serveDefaultFixtures();
        m_server->setRequiredToken(QStringLiteral("tok-9"));
    }

    void cleanup() { delete m_server; }

    void postsANoteAndFinishes()
    {
        QProcess bot;
        launch(bot, m_server->url().toString(),
               file(QStringLiteral("post.cbs"), "misskeyNote(\"hello from a bot\")\nprint(\"posted\")\n"));
        QVERIFY(finish(bot));
        const QString output = QString::fromUtf8(bot.readAllStandardOutput());
        QCOMPARE(bot.exitCode(), 0);
        QVERIFY2(output.contains(QStringLiteral(" INFO Started post.cbs\n")), qPrintable(output));
        QVERIFY(output.contains(QStringLiteral(" BOT posted\n")));
        QVERIFY(output.endsWith(QStringLiteral(" INFO Bot script finished.\n")));
        QVERIFY(bot.readAllStandardError().isEmpty());

        const QList<RecordedRequest> notes = m_server->requestsTo(QStringLiteral("notes/create"));
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes.at(0).body, QByteArrayLiteral(R"({"text":"hello from a bot","visibility":"public"})"));
        QCOMPARE(notes.at(0).header("Authorization"), QByteArrayLiteral("Bearer tok-9"));
    }

    void stopsCleanlyOnSigterm()
    {
        QProcess bot;
        launch(bot, m_server->url().toString(),
               file(QStringLiteral("loop.cbs"), "while botIsRunning()\n  botWait(100)\nend\nprint(\"bye\")\n"));
        QVERIFY(QTest::qWaitFor([&bot] { return bot.canReadLine(); }, 10000));
        bot.terminate();
        QVERIFY(finish(bot));
        QCOMPARE(bot.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bot.exitCode(), 0);
        const QString output = QString::fromUtf8(bot.readAllStandardOutput());
        QVERIFY2(output.contains(QStringLiteral(" INFO Bot stop requested.\n")), qPrintable(output));
        QVERIFY(output.contains(QStringLiteral(" BOT bye\n")));
        QVERIFY(output.endsWith(QStringLiteral(" INFO Bot script stopped.\n")));
    }

    void exampleBotsRunUntilStopped()
    {
        m_server->queueEndpointResponse(QStringLiteral("notes/mentions"), FakeResponse::json("[]"));
        m_server->setEndpointResponse(QStringLiteral("notes/mentions"),
                                      FakeResponse::json(R"([{"id":"m1","user":{"id":"u2","username":"carol"}}])"));
        const QList<QByteArray> expected{R"({"replyId":"m1","text":"@carol Hello!","visibility":"home"})",
                                         R"("visibility":"home"})"};
        int index = 0;
        for (const char *example : {"greeter.cbs", "scheduled_poster.cbs"}) {
            m_server->clearRequests();
            QProcess bot;
            launch(bot, m_server->url().toString(), QStringLiteral(QUILL_EXAMPLES_DIR "/") + QString::fromUtf8(example));
            QVERIFY(QTest::qWaitFor([this] { return !m_server->requestsTo(QStringLiteral("notes/create")).isEmpty(); }, 10000));
            QVERIFY(m_server->requestsTo(QStringLiteral("notes/create")).at(0).body.endsWith(expected.at(index++)));
            bot.terminate();
            QVERIFY(finish(bot));
            QCOMPARE(bot.exitCode(), 0);
            QVERIFY(bot.readAllStandardOutput().endsWith(" INFO Bot script stopped.\n"));
        }
    }

    void failuresExitWithOne()
    {
        QProcess failing;
        launch(failing, m_server->url().toString(), file(QStringLiteral("fail.cbs"), "misskeyRequest(\"no/such\", {})\n"));
        QVERIFY(finish(failing));
        QCOMPARE(failing.exitCode(), 1);
        QVERIFY(QString::fromUtf8(failing.readAllStandardError()).startsWith(QStringLiteral("CobaltScript error: ")));

        QProcess insecure;
        launch(insecure, QStringLiteral("http://example.com"), file(QStringLiteral("ok.cbs"), "print(1)\n"));
        QVERIFY(finish(insecure));
        QCOMPARE(insecure.exitCode(), 1);
        QVERIFY(insecure.readAllStandardOutput().isEmpty());
        QVERIFY(!insecure.readAllStandardError().isEmpty());

        QProcess wrongKind;
        launch(wrongKind, m_server->url().toString(), file(QStringLiteral("bot.txt"), "print(1)\n"));
        QVERIFY(finish(wrongKind));
        QCOMPARE(wrongKind.exitCode(), 1);
        QCOMPARE(wrongKind.readAllStandardError(), QByteArrayLiteral("The selected bot script is not a .cbs file.\n"));
    }
};

QTEST_GUILESS_MAIN(QuillBotTest)
#include "quill_bot_test.moc"
