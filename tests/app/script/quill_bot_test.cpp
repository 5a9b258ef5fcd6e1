// quill-bot as a process against the fake server: what the server receives, the log on standard
// output, the exit status, and a clean stop on SIGTERM.
#include "tests/app/support/fake_misskey_server.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QTest>

using quill::test::FakeMisskeyServer;

class QuillBotTest : public QObject {
    Q_OBJECT

private:
    FakeMisskeyServer m_server;
    QTemporaryDir m_files;

    // Starts quill-bot on a script file with the given source, against the fake server unless told otherwise.
    void launch(QProcess &process, const QString &script, const QByteArray &source,
                const QString &instance = QString())
    {
        const auto write = [this](const QString &name, const QByteArray &bytes) {
            return quill::test::writeFile(m_files.filePath(name), bytes);
        };
        process.start(QStringLiteral(QUILL_BOT_PATH),
                      {QStringLiteral("--instance"), instance.isEmpty() ? m_server.url().toString() : instance,
                       QStringLiteral("--token-file"), write(QStringLiteral("token.txt"), "tok-9\n"), write(script, source)});
    }

    // Runs the event loop (and so the fake server) until the process ends.
    static bool finish(QProcess &process)
    {
        return QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 20000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        m_server.serveDefaultFixtures();
        m_server.setRequiredToken(QStringLiteral("tok-9"));
    }

    void postsANoteAndFinishes()
    {
        QProcess bot;
        launch(bot, QStringLiteral("post.cbs"), "misskeyNote(\"hello from a bot\")\nprint(\"posted\")\n");
        QVERIFY(finish(bot));
        const QString output = QString::fromUtf8(bot.readAllStandardOutput());
        QCOMPARE(bot.exitCode(), 0);
        QVERIFY2(output.contains(QStringLiteral(" INFO Started post.cbs\n")), qPrintable(output));
        QVERIFY(output.contains(QStringLiteral(" BOT posted\n")));
        QVERIFY(output.endsWith(QStringLiteral(" INFO Bot script finished.\n")));
        QVERIFY(bot.readAllStandardError().isEmpty());

        const QList<quill::test::RecordedRequest> notes = m_server.requestsTo(QStringLiteral("notes/create"));
        QCOMPARE(notes.size(), 1);
        // The server refuses any other token, so the key file's token was sent.
        QCOMPARE(notes.at(0).body, QByteArrayLiteral(R"({"text":"hello from a bot","visibility":"public"})"));
    }

    void stopsCleanlyOnSigterm()
    {
        QProcess bot;
        launch(bot, QStringLiteral("loop.cbs"), "while botIsRunning()\n  botWait(100)\nend\nprint(\"bye\")\n");
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

    // A failing script, an address the token must not travel to and a file of the wrong kind: exit
    // status 1 with the reason on standard error and nothing on standard output.
    void failuresExitWithOne()
    {
        const QList<std::tuple<QString, QString, QByteArray>> cases{
            {QStringLiteral("fail.cbs"), QString(), "CobaltScript error: Unknown API endpoint. (UNKNOWN_API_ENDPOINT)"},
            {QStringLiteral("ok.cbs"), QStringLiteral("http://example.com"), "quill-bot: Misskey instances must use HTTPS unless they run on this Mac.\n"},
            {QStringLiteral("bot.txt"), QString(), "The selected bot script is not a .cbs file.\n"},
        };
        for (const auto &[script, instance, error] : cases) {
            QProcess bot;
            launch(bot, script, script == u"fail.cbs" ? "misskeyRequest(\"no/such\", {})\n" : "print(1)\n", instance);
            QVERIFY(finish(bot));
            QCOMPARE(bot.exitCode(), 1);
            const QByteArray errors = bot.readAllStandardError();
            QVERIFY2(errors.startsWith(error), errors.constData());
            QVERIFY2(!bot.readAllStandardOutput().contains("BOT 1"), qPrintable(script));
        }
    }
};

QTEST_GUILESS_MAIN(QuillBotTest)
#include "quill_bot_test.moc"
