// The main window over a real application state, against the loopback fake Misskey server.
#include "tests/ui/window_harness.h"
#include "ui/command_line.h"
#include "ui/common_widgets.h"
#include "ui/composer_view.h"
#include "ui/log_pane.h"
#include "ui/note_delegate.h"
#include "ui/sidebar_view.h"
#include "ui/timeline_model.h"
#include "ui/timeline_view.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>

using namespace quill;
using quill::test::WindowHarness;

namespace {

int rowOf(const TimelineModel &model, const QString &id)
{
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.noteAt(row).id == id)
            return row;
    }
    return -1;
}

QStyleOptionViewItem rowOption(TimelineView *view, int row)
{
    QStyleOptionViewItem option;
    option.initFrom(view->list()->viewport());
    option.widget = view->list();
    option.font = view->list()->font();
    option.rect = view->list()->visualRect(view->model()->index(row));
    return option;
}

QStringList actionTexts(const QMenu &menu)
{
    QStringList texts;
    for (const QAction *action : menu.actions())
        texts.append(action->text());
    return texts;
}

void sendDrop(MainWindow &window, const QList<QUrl> &urls, bool &overlayShownWhileDragging)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint center = window.rect().center();
    QDragEnterEvent enter(center, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    overlayShownWhileDragging = window.isDropTargeted() && window.dropOverlay()->isVisible();
    QDropEvent drop(QPointF(center), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lockedWithoutAnAPIKey()
    {
        WindowHarness harness;
        QVERIFY(harness.open(false));
        MainWindow &window = *harness.window;
        TimelineView *timeline = window.timeline();
        QCOMPARE(timeline->currentContent(), static_cast<QWidget *>(timeline->lockedView()));
        QCOMPARE(timeline->lockedView()->title(), QStringLiteral("API key required"));
        QCOMPARE(timeline->lockedView()->detail(), QStringLiteral("Client locked"));
        QVERIFY(!timeline->refreshButton()->isEnabled());
        QCOMPARE(timeline->statusDot()->toolTip(), QStringLiteral("API key not verified"));
        SidebarView *sidebar = window.sidebar();
        QCOMPARE(sidebar->credentialLabel()->text(), QStringLiteral("No API key"));
        QCOMPARE(sidebar->timelines()->count(), 4);
        for (int row = 0; row < 4; ++row)
            QVERIFY(!(sidebar->timelines()->item(row)->flags() & Qt::ItemIsEnabled));
        QCOMPARE(sidebar->scriptRow()->nameLabel()->text(), QStringLiteral("None"));
        QCOMPARE(sidebar->scriptRow()->chooseButton()->toolTip(), QStringLiteral("Choose CobaltScript"));
        QCOMPARE(sidebar->tokenRow()->clearButton()->toolTip(), QStringLiteral("Clear API key"));
        QCOMPARE(window.logPane()->stateText(), QStringLiteral("Stopped"));
        QVERIFY(!window.logPane()->startButton()->isEnabled());
        QVERIFY(!window.logPane()->stopButton()->isEnabled());
        QCOMPARE(harness.server.requestsTo(QStringLiteral("i")).size(), 0);
    }

    void signedInShowsAccountTimelineAndSwitchesKinds()
    {
        WindowHarness harness;
        QVERIFY(harness.open(true));
        MainWindow &window = *harness.window;
        SidebarView *sidebar = window.sidebar();
        QCOMPARE(sidebar->accountName()->text(), QString::fromUtf8("Alice \xF0\x9F\x8C\xB8"));
        QCOMPARE(sidebar->accountHandle()->text(), QStringLiteral("@alice"));
        QCOMPARE(sidebar->credentialLabel()->text(), QStringLiteral("key.txt"));
        QCOMPARE(sidebar->tokenRow()->nameLabel()->text(), QStringLiteral("key.txt"));
        TimelineView *timeline = window.timeline();
        QCOMPARE(timeline->titleLabel()->text(), QStringLiteral("Home"));
        QCOMPARE(timeline->statusDot()->toolTip(), QStringLiteral("Streaming enabled"));
        QCOMPARE(timeline->currentContent(), static_cast<QWidget *>(timeline->list()));
        QVERIFY(timeline->refreshButton()->isEnabled());

        QListWidget *kinds = sidebar->timelines();
        QVERIFY(kinds->item(1)->flags() & Qt::ItemIsEnabled);
        QCOMPARE(kinds->item(1)->text(), QStringLiteral("Local"));
        QTest::mouseClick(kinds->viewport(), Qt::LeftButton, {}, kinds->visualItemRect(kinds->item(1)).center());
        QCOMPARE(harness.state->selectedTimeline(), TimelineKind::local);
        QVERIFY(QTest::qWaitFor([&] { return harness.server.requestsTo(QStringLiteral("notes/local-timeline")).size() == 1; }, 5000));
        QCOMPARE(timeline->titleLabel()->text(), QStringLiteral("Local"));
        QVERIFY(kinds->item(1)->isSelected());
    }

    void composerEnablesPostsAndReplies()
    {
        WindowHarness harness;
        QVERIFY(harness.open(true));
        TimelineView *timeline = harness.window->timeline();
        ComposerView *composer = timeline->composer();
        QCOMPARE(composer->editor()->placeholderText(), QStringLiteral("Write a note"));
        QCOMPARE(composer->postButton()->text(), QStringLiteral("Post"));
        composer->editor()->setPlainText(QStringLiteral("  \n "));
        QVERIFY(!composer->postButton()->isEnabled());

        // Reply from the row of the note by Bob, then cancel and reply again.
        const int row = rowOf(*timeline->model(), QStringLiteral("9wq6e5w6x7"));
        QVERIFY(row >= 0);
        timeline->activate(row, int(NoteDelegate::Part::reply), -1, {});
        QVERIFY(composer->replyBanner()->isVisible());
        QCOMPARE(composer->replyLabel()->text(), QStringLiteral("Replying to Bob"));
        QCOMPARE(composer->postButton()->text(), QStringLiteral("Reply"));
        QTest::mouseClick(composer->cancelReplyButton(), Qt::LeftButton);
        QVERIFY(!harness.state->replyTarget());
        QVERIFY(!composer->replyBanner()->isVisible());
        timeline->activate(row, int(NoteDelegate::Part::reply), -1, {});

        composer->editor()->setPlainText(QString::fromUtf8("hi \xF0\x9F\x8C\xB8"));
        QCOMPARE(composer->countLabel()->text(), QStringLiteral("4"));
        QVERIFY(composer->postButton()->isEnabled());
        QTest::mouseClick(composer->postButton(), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return harness.server.requestsTo(QStringLiteral("notes/create")).size() == 1; }, 5000));
        const auto body = harness.server.requestsTo(QStringLiteral("notes/create")).at(0).jsonBody();
        QCOMPARE(QString::fromStdString(body.value("text", std::string())), QString::fromUtf8("hi \xF0\x9F\x8C\xB8"));
        QCOMPARE(QString::fromStdString(body.value("replyId", std::string())), QStringLiteral("9wq6e5w6x7"));
        QVERIFY(QTest::qWaitFor([&] { return composer->editor()->toPlainText().isEmpty(); }, 5000));
        QVERIFY(!composer->replyBanner()->isVisible());
    }

    void reactionAndMoreMenusRunTheirCommands()
    {
        WindowHarness harness;
        QVERIFY(harness.open(true));
        TimelineView *timeline = harness.window->timeline();
        const MisskeyNote note = timeline->model()->noteAt(rowOf(*timeline->model(), QStringLiteral("9wq6e5w6x7")));
        std::unique_ptr<QMenu> reactions(timeline->createReactionMenu(note, nullptr));
        QCOMPARE(actionTexts(*reactions), (QStringList{QString::fromUtf8("\xF0\x9F\x91\x8D"), QString::fromUtf8("\xE2\x9D\xA4"),
                                     QString::fromUtf8("\xF0\x9F\x8E\x89"), QString::fromUtf8("\xF0\x9F\x98\xAE")}));
        reactions->actions().at(1)->trigger();
        QVERIFY(QTest::qWaitFor([&] { return harness.server.requestsTo(QStringLiteral("notes/reactions/create")).size() == 1; }, 5000));
        const auto body = harness.server.requestsTo(QStringLiteral("notes/reactions/create")).at(0).jsonBody();
        QCOMPARE(QString::fromStdString(body.value("reaction", std::string())), QString::fromUtf8("\xE2\x9D\xA4"));

        std::unique_ptr<QMenu> more(timeline->createMoreMenu(note, nullptr));
        // The row menu ends with the more menu's actions.
        std::unique_ptr<QMenu> row(timeline->createRowMenu(note, nullptr));
        QCOMPARE(actionTexts(*row), (QStringList{QStringLiteral("Reply"), QStringLiteral("Renote"), QStringLiteral("React"), QString(),
                                        QStringLiteral("Open in browser"), QString(), QStringLiteral("Delete")}));
        more->actions().first()->trigger();
        QCOMPARE(harness.browser.opened.size(), 1);
        QVERIFY(harness.browser.opened.at(0).toString().endsWith(QStringLiteral("/notes/9wq6e5w6x7")));
        more->actions().last()->trigger();
        QVERIFY(QTest::qWaitFor([&] { return rowOf(*timeline->model(), QStringLiteral("9wq6e5w6x7")) < 0; }, 5000));
    }

    void contentWarningHidesTheTextUntilRevealed()
    {
        WindowHarness harness;
        QVERIFY(harness.open(true));
        TimelineView *timeline = harness.window->timeline();
        const int row = rowOf(*timeline->model(), QStringLiteral("9wq6b2q3r4"));
        QVERIFY(row >= 0);
        const auto hidden = timeline->delegate()->layout(rowOption(timeline, row), row);
        QVERIFY(!hidden.revealButton.isNull());
        QVERIFY(hidden.text.isNull());
        QVERIFY(hidden.attachments.isEmpty());
        // Click the eye button where it is painted.
        const auto [part, attachment] = timeline->delegate()->partAt(rowOption(timeline, row), row, hidden.revealButton.center());
        QCOMPARE(part, NoteDelegate::Part::revealContentWarning);
        timeline->activate(row, int(part), attachment, {});
        QVERIFY(timeline->model()->revealsContentWarning(row));
        const auto shown = timeline->delegate()->layout(rowOption(timeline, row), row);
        QVERIFY(!shown.text.isNull());
        QCOMPARE(shown.attachments.size(), 1);
        QVERIFY(shown.row.height() > hidden.row.height());
    }

    void droppedFilesAndTheErrorAlert()
    {
        WindowHarness harness;
        QVERIFY(harness.open(true));
        MainWindow &window = *harness.window;
        bool overlayShown = false;
        const QString script = harness.write(QStringLiteral("bot.cbs"), "print(\"hi\")\n");
        sendDrop(window, {QUrl::fromLocalFile(harness.folder.path()), QUrl::fromLocalFile(script)}, overlayShown);
        QVERIFY(overlayShown);
        QVERIFY(!window.dropOverlay()->isVisible());
        QCOMPARE(harness.state->scriptURL(), std::optional<QUrl>(QUrl::fromLocalFile(script)));
        QCOMPARE(window.sidebar()->scriptRow()->nameLabel()->text(), QStringLiteral("bot.cbs"));
        QVERIFY(window.logPane()->startButton()->isEnabled());

        sendDrop(window, {QUrl::fromLocalFile(harness.write(QStringLiteral("photo.png"), "png"))}, overlayShown);
        QVERIFY(QTest::qWaitFor([&] { return window.alert() != nullptr; }, 2000));
        QCOMPARE(window.alert()->windowTitle(), QStringLiteral("Quill"));
        QCOMPARE(window.alert()->text(), QStringLiteral("Quill accepts CobaltScript .cbs files and API key .txt files."));
        window.alert()->accept();
        QVERIFY(QTest::qWaitFor([&] { return !harness.state->presentedError(); }, 2000));
    }

    void logFollowsTheNewestEntryAndBotControls()
    {
        WindowHarness harness;
        QVERIFY(harness.open(true));
        LogPane *pane = harness.window->logPane();
        QVERIFY(!pane->showsEmptyView());
        for (int i = 0; i < 300; ++i)
            harness.state->log().append(LogEntry::Level::script, QStringLiteral("line %1").arg(i));
        QApplication::processEvents();
        QScrollBar *bar = pane->list()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QVERIFY(QTest::qWaitFor([&] { return bar->value() == bar->maximum(); }, 2000));
        QCOMPARE(pane->clearButton()->toolTip(), QStringLiteral("Clear log"));
        QTest::mouseClick(pane->clearButton(), Qt::LeftButton);
        QVERIFY(pane->showsEmptyView());

        QMenu *bot = harness.window->botMenu();
        QCOMPARE(bot->title(), QStringLiteral("Bot"));
        QCOMPARE(bot->actions().first()->text(), QStringLiteral("Choose Script..."));
        QCOMPARE(bot->actions().first()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));

        harness.state->useScript(QUrl::fromLocalFile(
            harness.write(QStringLiteral("loop.cbs"), "print(\"up\")\nwhile botWait(100)\n  x = 1\nend\n")));
        QVERIFY(pane->startButton()->isEnabled());
        QTest::mouseClick(pane->startButton(), Qt::LeftButton);
        QCOMPARE(pane->stateText(), QStringLiteral("Running"));
        QVERIFY(pane->stopButton()->isEnabled());
        QVERIFY(!pane->startButton()->isEnabled());
        QTest::mouseClick(pane->stopButton(), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return pane->stateText() == QStringLiteral("Stopped"); }, 5000));
        QVERIFY(pane->startButton()->isEnabled());
    }

    void commandLineOptions()
    {
        using namespace quill::window;
        WindowHarness harness;
        QVERIFY(harness.folder.isValid());
        const QString key = harness.write(QStringLiteral("key.txt"), "token\n");
        const QString script = harness.write(QStringLiteral("bot.cbs"), "print(1)\n");
        const auto parsed = parseOptions({QStringLiteral("--instance"), QStringLiteral("misskey.example"),
                                          QStringLiteral("--token-file"), key, QStringLiteral("--script"), script});
        const auto *options = std::get_if<WindowOptions>(&parsed);
        QVERIFY(options);
        QCOMPARE(options->instanceURL->toString(), QStringLiteral("https://misskey.example"));
        QCOMPARE(options->tokenFile->toLocalFile(), key);
        QCOMPARE(options->script->toLocalFile(), script);
        QVERIFY(std::holds_alternative<WindowOptions>(parseOptions({})));
        QVERIFY(std::holds_alternative<HelpRequested>(parseOptions({QStringLiteral("--help")})));
        const auto error = [](const QStringList &arguments) {
            const auto result = parseOptions(arguments);
            const auto *failure = std::get_if<OptionsError>(&result);
            return failure ? failure->message : QString();
        };
        QCOMPARE(error({QStringLiteral("--script")}), QStringLiteral("--script needs a value."));
        QCOMPARE(error({QStringLiteral("--bogus")}), QStringLiteral("Unknown argument --bogus."));
        QCOMPARE(error({QStringLiteral("--script"), key}),
                 QStringLiteral("Quill accepts CobaltScript .cbs files and API key .txt files."));
        QVERIFY(!error({QStringLiteral("--token-file"), harness.write(QStringLiteral("empty.txt"), "")}).isEmpty());
        QVERIFY(!error({QStringLiteral("--instance"), QStringLiteral("http://misskey.example")}).isEmpty());
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
