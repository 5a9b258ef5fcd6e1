// The main window over a real application state, against the loopback fake Misskey server.
#include "tests/ui/window_harness.h"
#include "ui/command_line.h"
#include "ui/common_widgets.h"
#include "ui/composer_view.h"
#include "ui/log_list_model.h"
#include "ui/log_pane.h"
#include "ui/note_delegate.h"
#include "ui/sidebar_view.h"
#include "ui/timeline_model.h"
#include "ui/timeline_view.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolButton>

using namespace quill;
using quill::test::WindowHarness;

namespace {

int rowOf(const TimelineModel &model, const QString &id)
{
    const auto found = std::find_if(model.notes().begin(), model.notes().end(), [&id](const MisskeyNote &note) { return note.id == id; });
    return found == model.notes().end() ? -1 : int(found - model.notes().begin());
}

QStyleOptionViewItem rowOption(TimelineView *view, int row)
{
    QStyleOptionViewItem option;
    option.initFrom(view->list()->viewport());
    option.widget = view->list();
    option.rect = view->list()->visualRect(view->model()->index(row));
    return option;
}

QString actionTexts(const QMenu &menu)
{
    QStringList texts;
    for (const QAction *action : menu.actions())
        texts.append(action->text());
    return texts.join(u'|');
}

// Drags files over the window and drops them; whether the overlay showed while dragging.
bool sendDrop(MainWindow &window, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(window.rect().center(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    const bool overlayShown = window.isDropTargeted() && window.dropOverlay()->isVisible();
    QDropEvent drop(QPointF(window.rect().center()), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    return overlayShown;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Locked without an API key until a key file is dropped on the window, then signed in: one flow.
    void lockedThenSignedIn()
    {
        WindowHarness harness;
        QVERIFY(harness.open());
        MainWindow &window = *harness.window;
        TimelineView *timeline = window.timeline();
        SidebarView *sidebar = window.sidebar();
        QCOMPARE(timeline->currentContent(), static_cast<QWidget *>(timeline->lockedView()));
        QCOMPARE((QStringList{timeline->lockedView()->title(), timeline->lockedView()->detail(), timeline->statusDot()->toolTip(),
                              sidebar->credentialLabel()->text(), sidebar->scriptRow()->nameLabel()->text(),
                              sidebar->scriptRow()->chooseButton()->toolTip(), sidebar->tokenRow()->clearButton()->toolTip(),
                              window.logPane()->stateText()}),
                 (QStringList{QStringLiteral("API key required"), QStringLiteral("Client locked"), QStringLiteral("API key not verified"),
                              QStringLiteral("No API key"), QStringLiteral("None"), QStringLiteral("Choose CobaltScript"),
                              QStringLiteral("Clear API key"), QStringLiteral("Stopped")}));
        for (int row = 0; row < sidebar->timelines()->count(); ++row)
            QVERIFY(!(sidebar->timelines()->item(row)->flags() & Qt::ItemIsEnabled));
        QVERIFY(!timeline->refreshButton()->isEnabled() && !window.logPane()->startButton()->isEnabled()
                && !window.logPane()->stopButton()->isEnabled());
        QVERIFY(harness.server.requests().isEmpty());

        // A key file and a script dropped together sign in and choose the script; the overlay shows
        // while dragging only.
        QVERIFY(sendDrop(window, {QUrl::fromLocalFile(harness.file(QStringLiteral("key.txt"), "window-test-token\n")),
                                  QUrl::fromLocalFile(harness.file(QStringLiteral("bot.cbs"), "print(\"hi\")\n"))}));
        QVERIFY(!window.dropOverlay()->isVisible());
        QVERIFY(QTest::qWaitFor([&] { return !harness.state->notes().isEmpty() && harness.state->currentUser(); }, 10000));
        QCOMPARE((QStringList{sidebar->accountName()->text(), sidebar->accountHandle()->text(), sidebar->credentialLabel()->text(),
                              sidebar->tokenRow()->nameLabel()->text(), timeline->titleLabel()->text(), timeline->statusDot()->toolTip(),
                              sidebar->scriptRow()->nameLabel()->text()}),
                 (QStringList{QStringLiteral("Alice 🌸"), QStringLiteral("@alice"), QStringLiteral("key.txt"), QStringLiteral("key.txt"),
                              QStringLiteral("Home"), QStringLiteral("Streaming enabled"), QStringLiteral("bot.cbs")}));
        QCOMPARE(timeline->currentContent(), static_cast<QWidget *>(timeline->list()));
        QVERIFY(timeline->refreshButton()->isEnabled());

        QListWidget *kinds = sidebar->timelines();
        QTest::mouseClick(kinds->viewport(), Qt::LeftButton, {}, kinds->visualItemRect(kinds->item(1)).center());
        QVERIFY(QTest::qWaitFor([&] { return harness.server.requestsTo(QStringLiteral("notes/local-timeline")).size() == 1; }, 5000));
        QCOMPARE(timeline->titleLabel()->text(), QStringLiteral("Local"));

        // The composer, the row's reply button, the reaction, more and row menus, and the content warning.
        ComposerView *composer = timeline->composer();
        QCOMPARE(composer->editor()->placeholderText() + u'|' + composer->postButton()->text(), QStringLiteral("Write a note|Post"));
        composer->editor()->setPlainText(QStringLiteral("  \n "));
        QVERIFY(!composer->postButton()->isEnabled());

        // Reply from the row of the note by Bob, then cancel and reply again.
        const int row = rowOf(*timeline->model(), QStringLiteral("9wq6e5w6x7"));
        QVERIFY(row >= 0);
        timeline->activate(row, int(NoteDelegate::Part::reply), -1, {});
        QVERIFY(composer->replyBanner()->isVisible());
        QCOMPARE(composer->replyLabel()->text() + u'|' + composer->postButton()->text(), QStringLiteral("Replying to Bob|Reply"));
        QTest::mouseClick(composer->cancelReplyButton(), Qt::LeftButton);
        QVERIFY(!harness.state->replyTarget() && !composer->replyBanner()->isVisible());
        timeline->activate(row, int(NoteDelegate::Part::reply), -1, {});

        composer->editor()->setPlainText(QStringLiteral("hi 🌸"));
        QCOMPARE(composer->countLabel()->text(), QStringLiteral("4"));
        QTest::mouseClick(composer->postButton(), Qt::LeftButton);
        QVERIFY(harness.waitForRequests(1, QStringLiteral("notes/create")));
        const auto post = harness.last(QStringLiteral("notes/create"));
        QCOMPARE(post.field("replyId") + u' ' + post.field("text"), QStringLiteral("9wq6e5w6x7 hi 🌸"));
        QVERIFY(QTest::qWaitFor([&] { return composer->editor()->toPlainText().isEmpty(); }, 5000));

        const MisskeyNote note = timeline->model()->noteAt(rowOf(*timeline->model(), QStringLiteral("9wq6e5w6x7")));
        std::unique_ptr<QMenu> reactions(timeline->createReactionMenu(note, nullptr));
        QCOMPARE(actionTexts(*reactions), QStringLiteral("👍|❤|🎉|😮"));
        reactions->actions().at(1)->trigger();
        QVERIFY(harness.waitForRequests(1, QStringLiteral("notes/reactions/create")));
        QCOMPARE(harness.last(QStringLiteral("notes/reactions/create")).field("reaction"), QStringLiteral("❤"));

        std::unique_ptr<QMenu> more(timeline->createMoreMenu(note, nullptr));
        // The row menu ends with the more menu's actions.
        std::unique_ptr<QMenu> rowMenu(timeline->createRowMenu(note, nullptr));
        QCOMPARE(actionTexts(*rowMenu), QStringLiteral("Reply|Renote|React||Open in browser||Delete"));
        more->actions().first()->trigger();
        QCOMPARE(harness.browser.opened, QList<QUrl>{harness.server.url().resolved(QUrl(QStringLiteral("/notes/9wq6e5w6x7")))});
        more->actions().last()->trigger();
        QVERIFY(QTest::qWaitFor([&] { return rowOf(*timeline->model(), QStringLiteral("9wq6e5w6x7")) < 0; }, 5000));

        // A content warning hides the text and the files until the eye button, where it is painted, is clicked.
        const int quote = rowOf(*timeline->model(), QStringLiteral("9wq6b2q3r4"));
        QVERIFY(quote >= 0);
        const auto hidden = timeline->delegate()->layout(rowOption(timeline, quote), quote);
        QVERIFY(!hidden.revealButton.isNull() && hidden.text.isNull() && hidden.attachments.isEmpty());
        const auto [part, attachment] = timeline->delegate()->partAt(rowOption(timeline, quote), quote, hidden.revealButton.center());
        QCOMPARE(part, NoteDelegate::Part::revealContentWarning);
        timeline->activate(quote, int(part), attachment, {});
        const auto shown = timeline->delegate()->layout(rowOption(timeline, quote), quote);
        QVERIFY(!shown.text.isNull() && shown.row.height() > hidden.row.height() && shown.attachments.size() == 1);

        // A file of another kind, the error alert, the log and the bot controls.
        sendDrop(window, {QUrl::fromLocalFile(harness.file(QStringLiteral("photo.png"), "png"))});
        QVERIFY(QTest::qWaitFor([&] { return window.alert() != nullptr; }, 2000));
        QCOMPARE(window.alert()->windowTitle() + u'|' + window.alert()->text(),
                 QStringLiteral("Quill|Quill accepts CobaltScript .cbs files and API key .txt files."));
        window.alert()->accept();
        QVERIFY(QTest::qWaitFor([&] { return !harness.state->presentedError(); }, 2000));

        // The log follows the newest entry and keeps the newest 1000, dropping the oldest row by row.
        LogPane *pane = window.logPane();
        QAbstractItemModel *rows = pane->list()->model();
        QSignalSpy removed(rows, &QAbstractItemModel::rowsRemoved);
        for (int i = 1; i <= 1000; ++i)
            harness.state->log().append(LogEntry::Level::script, QString::number(i));
        QScrollBar *bar = pane->list()->verticalScrollBar();
        QVERIFY(QTest::qWaitFor([&] { return !pane->showsEmptyView() && bar->maximum() > 0 && bar->value() == bar->maximum(); }, 2000));
        const auto cell = [rows](int index, int role) { return rows->index(index, 0).data(role).toString(); };
        QCOMPARE(cell(0, LogListModel::MessageRole) + u' ' + cell(999, LogListModel::MessageRole) + u' ' + cell(999, LogListModel::LevelLabelRole)
                     + u' ' + QString::number(rows->rowCount()),
                 QStringLiteral("1 1000 BOT 1000"));
        QVERIFY(!removed.isEmpty() && std::all_of(removed.begin(), removed.end(), [](const QList<QVariant> &range) {
            return range.at(1).toInt() == 0 && range.at(2).toInt() == 0;
        }));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$")).match(cell(0, LogListModel::TimeTextRole)).hasMatch(),
                 qPrintable(cell(0, LogListModel::TimeTextRole)));
        QCOMPARE(pane->clearButton()->toolTip(), QStringLiteral("Clear log"));
        QTest::mouseClick(pane->clearButton(), Qt::LeftButton);
        QVERIFY(pane->showsEmptyView());

        QMenu *bot = window.botMenu();
        QCOMPARE(bot->title() + u'|' + bot->actions().first()->text(), QStringLiteral("Bot|Choose Script..."));
        QCOMPARE(bot->actions().first()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));

        harness.state->useScript(QUrl::fromLocalFile(harness.file(QStringLiteral("loop.cbs"), "while botWait(100)\n  x = 1\nend\n")));
        QTest::mouseClick(pane->startButton(), Qt::LeftButton);
        QCOMPARE(pane->stateText(), QStringLiteral("Running"));
        QTest::mouseClick(pane->stopButton(), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return pane->stateText() == QStringLiteral("Stopped"); }, 5000));
        QVERIFY(pane->startButton()->isEnabled());
    }

    void commandLineOptions()
    {
        using namespace quill::window;
        WindowHarness harness;
        const QString key = harness.file(QStringLiteral("key.txt"), "token\n");
        const QString script = harness.file(QStringLiteral("bot.cbs"), "print(1)\n");
        const auto parsed = parseOptions({QStringLiteral("--instance"), QStringLiteral("misskey.example"), QStringLiteral("--token-file"), key,
                                          QStringLiteral("--script"), script});
        const auto *options = std::get_if<WindowOptions>(&parsed);
        QVERIFY(options);
        QCOMPARE((QStringList{options->instanceURL->toString(), options->tokenFile->toLocalFile(), options->script->toLocalFile()}),
                 (QStringList{QStringLiteral("https://misskey.example"), key, script}));
        QVERIFY(std::holds_alternative<WindowOptions>(parseOptions({})));
        QVERIFY(std::holds_alternative<HelpRequested>(parseOptions({QStringLiteral("--help")})));
        for (const auto &[arguments, message] : QList<QPair<QStringList, QString>>{
                 {{QStringLiteral("--script")}, QStringLiteral("--script needs a value.")},
                 {{QStringLiteral("--bogus")}, QStringLiteral("Unknown argument --bogus.")},
                 {{QStringLiteral("--script"), key}, QStringLiteral("Quill accepts CobaltScript .cbs files and API key .txt files.")},
                 {{QStringLiteral("--token-file"), harness.file(QStringLiteral("empty.txt"), "")},
                  QStringLiteral("The selected text file does not contain an API key.")},
                 {{QStringLiteral("--instance"), QStringLiteral("http://misskey.example")},
                  QStringLiteral("Misskey instances must use HTTPS unless they run on this Mac.")}}) {
            const auto result = parseOptions(arguments);
            QCOMPARE(std::holds_alternative<OptionsError>(result) ? std::get<OptionsError>(result).message : QStringLiteral("<accepted>"), message);
        }
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
