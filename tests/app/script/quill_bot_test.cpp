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
        QCOMPARE(notes.at(0).body, QByteArrayLiteral(R"({"text":"hello from a bot","visibility":"public"})"));
        QCOMPARE(notes.at(0).header("Authorization"), QByteArrayLiteral("Bearer tok-9"));
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

    void failuresExitWithOne()
    {
        QProcess failing;
        launch(failing, QStringLiteral("fail.cbs"), "misskeyRequest(\"no/such\", {})\n");
        QVERIFY(finish(failing));
        QCOMPARE(failing.exitCode(), 1);
        QVERIFY(QString::fromUtf8(failing.readAllStandardError()).startsWith(QStringLiteral("CobaltScript error: ")));

        QProcess insecure;
        launch(insecure, QStringLiteral("ok.cbs"), "print(1)\n", QStringLiteral("http://example.com"));
        QVERIFY(finish(insecure));
        QCOMPARE(insecure.exitCode(), 1);
        QVERIFY(insecure.readAllStandardOutput().isEmpty());
        QVERIFY(!insecure.readAllStandardError().isEmpty());

        QProcess wrongKind;
        launch(wrongKind, QStringLiteral("bot.txt"), "print(1)\n");
        QVERIFY(finish(wrongKind));
        QCOMPARE(wrongKind.exitCode(), 1);
        QCOMPARE(wrongKind.readAllStandardError(), QByteArrayLiteral("The selected bot script is not a .cbs file.\n"));
    }
};

QTEST_GUILESS_MAIN(QuillBotTest)
#include "quill_bot_test.moc"
