// quill-bot as a process against the fake server: the log on standard output and a clean stop on
// SIGTERM, and the failures that end it with status 1. The example bots run through it against
// quill-sandbox in the sandbox suite.
#include "tests/app/support/client_fixture.h"

#include <QProcess>

using quill::test::ClientFixture;

class QuillBotTest : public QObject {
    Q_OBJECT

private:
    ClientFixture f;

    // Starts quill-bot on a script file with the given source, against the fake server unless told otherwise.
    void launch(QProcess &process, const QString &script, const QByteArray &source, const QString &instance = QString())
    {
        process.start(QStringLiteral(QUILL_BOT_PATH), {QStringLiteral("--instance"), instance.isEmpty() ? f.server.url().toString() : instance,
                                                       QStringLiteral("--token-file"), f.file(QStringLiteral("token.txt"), "tok-9\n"),
                                                       f.file(script, source)});
    }

    // Runs the event loop (and so the fake server) until the process ends; its standard output.
    static QString finish(QProcess &process)
    {
        if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 20000))
            return QStringLiteral("<still running>");
        return QString::fromUtf8(process.readAllStandardOutput());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(f.start());
        f.server.setRequiredToken(QStringLiteral("tok-9")); // so only the key file's token gets through
    }

    void stopsCleanlyOnSigterm()
    {
        QProcess bot;
        launch(bot, QStringLiteral("loop.cbs"), "misskeyMe()\nwhile botIsRunning()\n  botWait(100)\nend\nprint(\"bye\")\n");
        QVERIFY(f.waitForRequests(1, QStringLiteral("i"), 10000)); // answered only for the key file's token
        bot.terminate();
        const QString output = finish(bot);
        QCOMPARE(bot.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bot.exitCode(), 0);
        QVERIFY2(output.contains(QStringLiteral(" INFO Started loop.cbs\n")) && output.contains(QStringLiteral(" INFO Bot stop requested.\n"))
                     && output.contains(QStringLiteral(" BOT bye\n")) && output.endsWith(QStringLiteral(" INFO Bot script stopped.\n")),
                 qPrintable(output));
        QVERIFY(bot.readAllStandardError().isEmpty());

    }

    // A failing script, an address the token must not travel to and a file of the wrong kind: exit
    // status 1 with the reason on standard error and nothing on standard output.
    void failuresExitWithOne_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("instance");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("script error") << QStringLiteral("fail.cbs") << QString()
                                      << QByteArray("CobaltScript error: Unknown API endpoint. (UNKNOWN_API_ENDPOINT)");
        QTest::newRow("clear text") << QStringLiteral("ok.cbs") << QStringLiteral("http://example.com")
                                    << QByteArray("quill-bot: Misskey instances must use HTTPS unless they run on this Mac.\n");
        QTest::newRow("not a script") << QStringLiteral("bot.txt") << QString() << QByteArray("The selected bot script is not a .cbs file.\n");
    }

    void failuresExitWithOne()
    {
        QFETCH(QString, script);
        QFETCH(QString, instance);
        QFETCH(QByteArray, error);
        QProcess bot;
        launch(bot, script, script == u"fail.cbs" ? "misskeyRequest(\"no/such\", {})\n" : "print(1)\n", instance);
        QVERIFY(!finish(bot).contains(QStringLiteral("BOT 1")));
        QCOMPARE(bot.exitCode(), 1);
        const QByteArray errors = bot.readAllStandardError();
        QVERIFY2(errors.startsWith(error), errors.constData());
    }
};

QTEST_GUILESS_MAIN(QuillBotTest)
#include "quill_bot_test.moc"
