// Renders the signed-in window with a loaded timeline and a running bot on a real X server and
// saves it as a PNG under the build folder, for a person to look at.
#include "tests/ui/window_harness.h"
#include "ui/log_pane.h"
#include "ui/timeline_model.h"
#include "ui/timeline_view.h"

#include <QApplication>
#include <QBuffer>
#include <QScopeGuard>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>

using namespace quill;
using quill::test::FakeResponse;
using quill::test::WindowHarness;

namespace {

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

/// A plain coloured square with a letter, standing in for a user's avatar.
QByteArray avatar(const QColor &color, QChar letter)
{
    QImage image(96, 96, QImage::Format_ARGB32);
    image.fill(color);
    QPainter painter(&image);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(52);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, QString(letter));
    return png(image);
}

QByteArray landscape()
{
    QImage image(320, 200, QImage::Format_ARGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 200);
    sky.setColorAt(0, QColor(0x7f, 0xb6, 0xf0));
    sky.setColorAt(1, QColor(0xd8, 0xec, 0xff));
    painter.fillRect(image.rect(), sky);
    painter.setBrush(QColor(0x2e, 0x86, 0x57));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(80, 230), 180, 90);
    painter.setBrush(QColor(0x1f, 0x6f, 0x9f));
    painter.drawEllipse(QPoint(260, 240), 160, 80);
    return png(image);
}

} // namespace

/// A dark system palette, as a dark desktop theme hands it to Qt.
QPalette darkPalette()
{
    QPalette palette;
    const QColor window(0x2b, 0x2d, 0x31), base(0x1e, 0x1f, 0x22), text(0xe6, 0xe6, 0xe6);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window.lighter(120));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9c, 0xa3));
    palette.setColor(QPalette::Highlight, QColor(0x4a, 0x7d, 0xd8));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Mid, QColor(0x55, 0x58, 0x5e));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x70, 0x72, 0x78));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x70, 0x72, 0x78));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x70, 0x72, 0x78));
    return palette;
}

class ScreenshotTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void windowSignedInWithABot_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QString>("path");
        QTest::newRow("light") << false << QStringLiteral(QUILL_SCREENSHOT_DIR "/quill-window.png");
        QTest::newRow("dark") << true << QStringLiteral(QUILL_SCREENSHOT_DIR "/quill-window-dark.png");
    }

    void windowSignedInWithABot()
    {
        QFETCH(bool, dark);
        QFETCH(QString, path);
        const QPalette original = QApplication::palette();
        if (dark)
            QApplication::setPalette(darkPalette());
        const auto restore = qScopeGuard([&] { QApplication::setPalette(original); });
        WindowHarness harness;
        QVERIFY(harness.server.start());
        const QString base = harness.server.url().toString();
        // The fixture's avatars and files point at misskey.example; serve them from here instead.
        QFile fixture(QStringLiteral(QUILL_APP_FIXTURES_DIR "/misskey/timeline-notes.json"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        QString timeline = QString::fromUtf8(fixture.readAll());
        timeline.replace(QRegularExpression(QStringLiteral("https://misskey\\.example/identicon/(\\w+)@misskey\\.example")),
                         base + QStringLiteral("/avatars/\\1.png"));
        timeline.replace(QRegularExpression(QStringLiteral("https://misskey\\.example/proxy/avatar\\.webp\\?[^\"]*")),
                         base + QStringLiteral("/avatars/weatherbot.png"));
        timeline.replace(QRegularExpression(QStringLiteral("\"(thumbnailUrl|url)\": \"https://[^\"]*\"")),
                         QStringLiteral("\"\\1\": \"") + base + QStringLiteral("/files/landscape.png\""));
        QFile me(QStringLiteral(QUILL_APP_FIXTURES_DIR "/misskey/i-alice.json"));
        QVERIFY(me.open(QIODevice::ReadOnly));
        QString account = QString::fromUtf8(me.readAll());
        account.replace(QStringLiteral("https://misskey.example/identicon/alice@misskey.example"),
                        base + QStringLiteral("/avatars/alice.png"));

        FakeResponse timelineResponse = FakeResponse::json(timeline.toUtf8());
        harness.server.setResponse(QStringLiteral("/avatars/alice.png"), FakeResponse::text(avatar(QColor(0xe0, 0x5a, 0x8a), QLatin1Char('A')), "image/png"));
        harness.server.setResponse(QStringLiteral("/avatars/bob.png"), FakeResponse::text(avatar(QColor(0x3a, 0x7b, 0xd5), QLatin1Char('B')), "image/png"));
        harness.server.setResponse(QStringLiteral("/avatars/weatherbot.png"), FakeResponse::text(avatar(QColor(0xf0, 0xa0, 0x20), QLatin1Char('W')), "image/png"));
        harness.server.setResponse(QStringLiteral("/files/landscape.png"), FakeResponse::text(landscape(), "image/png"));
        QVERIFY(harness.open(true, [&](quill::test::FakeMisskeyServer &server) {
            for (const char *endpoint : {"notes/timeline", "notes/local-timeline", "notes/hybrid-timeline", "notes/global-timeline"})
                server.setEndpointResponse(QLatin1String(endpoint), timelineResponse);
            server.setEndpointResponse(QStringLiteral("i"), FakeResponse::json(account.toUtf8()));
        }));

        const QString greeter = harness.write(
            QStringLiteral("greeter.cbs"), "me = misskeyMe()\nprint(\"Greeting mentions of @\" + me[\"username\"])\n"
                                           "while botWait(200)\n  x = 1\nend\n");
        harness.state->setComposerText(QStringLiteral("Good morning, fediverse!"));
        captureWithRunningBot(harness, greeter, path);
    }

    // The window signed in to a quill-sandbox process, running the greeter example as it ships.
    void windowSignedInToTheSandbox()
    {
        WindowHarness harness;
        QProcess sandbox;
        sandbox.start(QStringLiteral(QUILL_SANDBOX_PATH),
                      {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--chatter"), QStringLiteral("0"),
                       QStringLiteral("--key-file"), harness.folder.filePath(QStringLiteral("sandbox-key.txt"))});
        const auto stopSandbox = qScopeGuard([&] {
            sandbox.terminate();
            sandbox.waitForFinished(5000);
        });
        QByteArray output;
        const QByteArray marker = "Sandbox instance at ";
        QVERIFY(QTest::qWaitFor([&] {
            output += sandbox.readAllStandardOutput();
            return output.contains(marker) && output.endsWith('\n');
        }, 10000));
        const QUrl instance(QString::fromUtf8(output.mid(output.indexOf(marker) + marker.size()).trimmed()));
        QFile key(harness.folder.filePath(QStringLiteral("sandbox-key.txt")));
        QVERIFY(key.open(QIODevice::ReadOnly));
        QVERIFY(harness.openAt(instance, QString::fromUtf8(key.readAll()).trimmed()));
        harness.state->setComposerText(QStringLiteral("Hello from the sandbox!"));
        captureWithRunningBot(harness, QStringLiteral(QUILL_EXAMPLES_DIR "/greeter.cbs"),
                              QStringLiteral(QUILL_SCREENSHOT_DIR "/quill-window-sandbox.png"));
    }

private:
    // Starts `script`, waits for its first line and every visible avatar, saves the window as `path`
    // and stops the bot again.
    static void captureWithRunningBot(WindowHarness &harness, const QString &script, const QString &path)
    {
        MainWindow &window = *harness.window;
        window.resize(1280, 860);
        // Reveal the content warning so the attachment shows, and start a bot.
        TimelineModel *model = window.timeline()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->noteAt(row).cw)
                model->toggleContentWarning(row);
        }
        harness.state->useScript(QUrl::fromLocalFile(script));
        harness.state->startScript();
        QVERIFY(QTest::qWaitFor([&] { return window.logPane()->stateText() == QStringLiteral("Running"); }, 5000));
        QVERIFY(QTest::qWaitFor([&] {
            for (const LogEntry &entry : harness.state->log().entries()) {
                if (entry.level == LogEntry::Level::script)
                    return true;
            }
            return false;
        }, 10000));
        // Wait until every avatar of the visible rows has arrived.
        QVERIFY(QTest::qWaitFor([&] {
            for (int row = 0; row < model->rowCount(); ++row)
                model->avatar(row);
            return model->imageLoaderCount() == 0;
        }, 10000));
        QTest::qWait(300);

        const QImage shot = window.grab().toImage();
        QVERIFY(!shot.isNull());
        QVERIFY(shot.save(path));
        qInfo("Saved %s", qPrintable(path));
        // Not a blank capture: the window has drawn many distinct colours.
        QSet<QRgb> colours;
        for (int y = 0; y < shot.height(); y += 7)
            for (int x = 0; x < shot.width(); x += 7)
                colours.insert(shot.pixel(x, y));
        QVERIFY(colours.size() > 50);

        harness.state->stopScript();
        QVERIFY(QTest::qWaitFor([&] { return window.logPane()->stateText() == QStringLiteral("Stopped"); }, 5000));
    }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
