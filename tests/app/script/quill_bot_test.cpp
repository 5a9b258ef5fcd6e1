// quill-bot as a process against the fake server: the failures that end it with status 1. The
// example bots run through it against quill-sandbox in the sandbox suite, which also stops them
// with SIGTERM and expects a clean stop.
#include "tests/app/support/client_fixture.h"

#include <QProcess>

using quill::test::ClientFixture;

class QuillBotTest : public QObject {
    Q_OBJECT

private:
    ClientFixture f;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(f.start());
        f.server.setRequiredToken(QStringLiteral("tok-9")); // so only the key file's token gets through
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
        bot.start(QStringLiteral(QUILL_BOT_PATH), {QStringLiteral("--instance"), instance.isEmpty() ? f.server.url().toString() : instance,
                                                   QStringLiteral("--token-file"), f.file(QStringLiteral("token.txt"), "tok-9\n"),
                                                   f.file(script, script == u"fail.cbs" ? "misskeyRequest(\"no/such\", {})\n" : "print(1)\n")});
        // The event loop runs the fake server while the bot waits for it.
        QVERIFY(QTest::qWaitFor([&bot] { return bot.state() == QProcess::NotRunning; }, 20000));
        QVERIFY(!bot.readAllStandardOutput().contains("BOT 1"));
        QCOMPARE(bot.exitCode(), 1);
        const QByteArray errors = bot.readAllStandardError();
        QVERIFY2(errors.startsWith(error), errors.constData());
    }
};

QTEST_GUILESS_MAIN(QuillBotTest)
#include "quill_bot_test.moc"
