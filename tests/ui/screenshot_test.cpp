// Renders the window signed in to a quill-sandbox process, with its timeline and the greeter example
// running, on a real X server, saves it as a PNG for a person to look at, and closes with the bot running.
#include "tests/ui/window_harness.h"
#include "ui/log_pane.h"
#include "ui/timeline_model.h"
#include "ui/timeline_view.h"

#include <QApplication>
#include <QProcess>
#include <QScopeGuard>

using namespace quill;

class ScreenshotTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void windowSignedInToTheSandbox()
    {
        test::WindowHarness harness;
        QProcess sandbox;
        const QString keyPath = harness.dir.filePath(QStringLiteral("sandbox-key.txt"));
        sandbox.start(QStringLiteral(QUILL_SANDBOX_PATH),
                      {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--chatter"), QStringLiteral("0"),
                       QStringLiteral("--key-file"), keyPath});
        const auto stopSandbox = qScopeGuard([&] {
            sandbox.terminate();
            sandbox.waitForFinished(5000);
        });
        QByteArray output;
        const QByteArray marker = "Sandbox instance at ";
        QVERIFY(QTest::qWaitFor([&] { return (output += sandbox.readAllStandardOutput()).contains(marker) && output.endsWith('\n'); }, 10000));
        QVERIFY(harness.openAt(QUrl(QString::fromUtf8(output.mid(output.indexOf(marker) + marker.size()).trimmed())), keyPath));
        harness.state->setComposerText(QStringLiteral("Hello from the sandbox!"));

        MainWindow &window = *harness.window;
        window.resize(1280, 860);
        // Reveal content warnings so that what they hide shows, start the bot and wait for its first line.
        TimelineModel *model = window.timeline()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->noteAt(row).cw)
                model->toggleContentWarning(row);
        harness.state->useScript(QUrl::fromLocalFile(QStringLiteral(QUILL_EXAMPLES_DIR "/greeter.cbs")));
        harness.state->startScript();
        QVERIFY(QTest::qWaitFor([&] { return !test::logLines(harness.state->log(), LogEntry::Level::script).isEmpty(); }, 10000));
        // Wait until every avatar of the visible rows has arrived.
        QVERIFY(QTest::qWaitFor([&] {
            for (int row = 0; row < model->rowCount(); ++row)
                model->avatar(row);
            return model->imageLoaderCount() == 0;
        }, 10000));

        // The desktop's palette, then a dark one as a dark desktop theme hands it to Qt: the other
        // roles derive from the button and window colours.
        QPalette dark(QColor(0x35, 0x37, 0x3b), QColor(0x2b, 0x2d, 0x31));
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            dark.setColor(role, QColor(0xe6, 0xe6, 0xe6));
        dark.setColor(QPalette::Base, QColor(0x1e, 0x1f, 0x22));
        dark.setColor(QPalette::Highlight, QColor(0x4a, 0x7d, 0xd8));
        for (const auto &[palette, path] : {std::pair(QApplication::palette(), QStringLiteral(QUILL_SCREENSHOT_DIR "/quill-window.png")),
                                            std::pair(dark, QStringLiteral(QUILL_SCREENSHOT_DIR "/quill-window-dark.png"))}) {
            QApplication::setPalette(palette);
            QTest::qWait(300);
            const QImage shot = window.grab().toImage();
            QVERIFY(shot.save(path));
            qInfo("Saved %s", qPrintable(path));
            // Not a blank capture: the window has drawn many distinct colours.
            QSet<QRgb> colours;
            for (int y = 0; y < shot.height(); y += 7)
                for (int x = 0; x < shot.width(); x += 7)
                    colours.insert(shot.pixel(x, y));
            QVERIFY2(colours.size() > 50, qPrintable(path));
        }
    }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
