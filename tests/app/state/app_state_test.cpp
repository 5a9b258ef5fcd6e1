// The application state against the fake server: start-up from stored settings, the note commands
// and their edge cases, the stream feeding the timeline, the locked client, dropped files, and
// settings kept in a private INI file across a restart of the state object.
#include "app/state/app_state.h"

#include "app/credentials/desktop_services.h"
#include "tests/app/support/client_fixture.h"

#include <QDir>

using namespace quill;
using namespace quill::test;
using namespace std::chrono_literals;
using Level = LogEntry::Level;

namespace {

const QString kToken = QStringLiteral("Yx3kP9vQ2mT7wB1nR5sJ8cL4hD6fG0aZ");

// Note ids of the timeline fixture: a reply with a poll, a plain note, a quote and a pure renote,
// the last two of the same note.
const QString kQuote = QStringLiteral("9wq6b2q3r4");
const QString kPureRenote = QStringLiteral("9wq6a0r1n2");
const QString kRenoted = QStringLiteral("9wq5yd2f3g");
const QString kCreated = QStringLiteral("9wq6f6y7z8");
const QString create = QStringLiteral("notes/create");

void run(QCoro::Task<> task) { QVERIFY(finishTask(std::move(task))); }

MisskeyNote syntheticNote(int index)
{
    MisskeyNote note;
    note.id = QStringLiteral("s%1").arg(index);
    note.createdAt = QStringLiteral("2025-11-21T00:00:00Z");
    note.user.id = note.user.username = QStringLiteral("u");
    return note;
}

} // namespace

class AppStateTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ClientFixture> f;
    std::unique_ptr<QSettingsStore> m_settings; ///< a private INI file, so that a restart reads what was written
    std::unique_ptr<AppState> m_state;

    QString settingsPath() const { return f->dir.filePath(QStringLiteral("settings.ini")); }
    QStringList log(Level level) const { return logLines(m_state->log(), level); }
    bool logged(Level level, const QString &line) const
    {
        return QTest::qWaitFor([&] { return log(level).contains(line); }, 5000);
    }

    // A new state over the settings file, as a restart of the application would make it.
    void makeState()
    {
        m_state.reset();
        m_settings.reset(); // written out, as at quitting
        m_settings = std::make_unique<QSettingsStore>(settingsPath());
        m_state = std::make_unique<AppState>(
            AppStateServices{f->secrets, f->dialogs, f->browser, *m_settings, f->network.get(), QStringLiteral("org.quill.test")});
    }

    // Configures the fake instance, activates a key file and waits for the account and timeline.
    void signIn()
    {
        m_state->configureInstance(f->server.url());
        m_state->useTokenFile(QUrl::fromLocalFile(f->file(QStringLiteral("key.txt"), kToken.toUtf8())));
        QVERIFY(QTest::qWaitFor([this] { return m_state->currentUser() && !m_state->isLoadingTimeline(); }, 10000));
        QCOMPARE(m_state->notes().size(), 4);
        f->server.clearRequests();
    }

    const MisskeyNote &note(const QString &id) const
    {
        for (const MisskeyNote &candidate : m_state->notes())
            if (candidate.id == id)
                return candidate;
        qFatal("note not in the timeline");
    }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ClientFixture>();
        QVERIFY(f->start());
        f->server.setRequiredToken(kToken);
        makeState();
    }

    void cleanup()
    {
        m_state.reset();
        f.reset();
    }

    void startUpFromStoredSettingsAndSurviveARestart()
    {
        const QString missingScript = f->dir.filePath(QStringLiteral("gone.cbs"));
        {
            QSettingsStore seed(settingsPath());
            seed.setValue(instanceSettingsKey(), f->server.url().toString());
            seed.setValue(scriptPathSettingsKey(), missingScript);
            seed.setValue(tokenPathSettingsKey(), f->file(QStringLiteral("key.txt"), kToken.toUtf8() + "\n"));
        }
        makeState();

        run(m_state->start());
        run(m_state->start()); // once only
        QVERIFY(QTest::qWaitFor([this] { return m_state->currentUser().has_value() && !m_state->notes().isEmpty(); }, 10000));
        QVERIFY(log(Level::request).contains(QStringLiteral("Connected as @alice")));
        QCOMPARE(f->last(QStringLiteral("notes/timeline")).jsonBody()["limit"].get<int>(), 40);
        QCOMPARE(log(Level::info).count(QStringLiteral("Quill ready.")), 1);
        QCOMPARE(log(Level::warning), QStringList{QStringLiteral("Stored script path is unavailable: ") + missingScript});
        QCOMPARE(m_state->scriptURL(), std::optional<QUrl>(QUrl::fromLocalFile(missingScript))); // stays chosen
        QVERIFY(f->server.subscribedStream());
        QVERIFY(m_state->canStartScript());

        const QUrl script = QUrl::fromLocalFile(f->file(QStringLiteral("bot.cbs"), "print(1)\n"));
        m_state->useScript(script);
        m_state->setInstanceInput(QStringLiteral("  ") + f->server.url().toString() + QStringLiteral("/  "));
        m_state->applyInstance();
        makeState();
        QCOMPARE(m_state->instanceInput(), f->server.url().toString());
        QCOMPARE(m_state->scriptURL(), std::optional<QUrl>(script));
        run(m_state->start());
        QCOMPARE(log(Level::info).mid(0, 2), (QStringList{QStringLiteral("Quill ready."), QStringLiteral("Loaded script path: bot.cbs")}));
        m_state->clearScript();
        makeState();
        QVERIFY(!m_state->scriptURL());
    }

    // A bad address, posting and replying, then renotes, reactions, opening and deleting, and at last
    // a change of instance with a post in flight.
    void noteCommands()
    {
        signIn();
        m_state->setInstanceInput(QStringLiteral("ftp://nowhere"));
        m_state->applyInstance();
        QVERIFY(m_state->presentedError() && m_state->hasAPIKey());
        QVERIFY(log(Level::error).isEmpty());

        m_state->setComposerText(QStringLiteral(" \n\t "));
        run(m_state->postNote());
        QVERIFY(f->server.requestsTo(create).isEmpty());

        // Replying to a pure renote replies to the note it shows.
        m_state->setReplyTarget(note(kPureRenote));
        m_state->setComposerText(QStringLiteral("  hello \n"));
        m_state->setVisibility(NoteVisibility::home);
        run(m_state->postNote());
        QVERIFY(f->last(create).jsonBody() == (nlohmann::json{{"text", "hello"}, {"replyId", kRenoted.toStdString()}, {"visibility", "home"}}));
        QVERIFY(m_state->composerText().isEmpty() && !m_state->replyTarget());
        QCOMPARE(m_state->notes().constFirst().id, kCreated);
        QVERIFY(log(Level::request).contains(QStringLiteral("Posted note ") + kCreated));

        // A reply to a quote goes to that note; a refusal keeps the draft.
        f->server.queueEndpointResponse(create, FakeResponse::fixture(QStringLiteral("error-400-invalid-param.json"), 400));
        m_state->setReplyTarget(note(kQuote));
        m_state->setComposerText(QStringLiteral("again"));
        run(m_state->postNote());
        QCOMPARE(f->last(create).field("replyId"), kQuote);
        QCOMPARE(log(Level::error), QStringList{m_state->presentedError().value_or(QString())});
        QCOMPARE(m_state->composerText() + u' ' + m_state->replyTarget()->id, QStringLiteral("again ") + kQuote);

        // A pure renote is acted on through the note it shows; a quote is a note of its own.
        const QString react = QStringLiteral("notes/reactions/create");
        f->server.clearRequests();
        for (const auto &[target, expected] : {std::pair(kPureRenote, kRenoted), std::pair(kQuote, kQuote)}) {
            run(m_state->performRenote(note(target)));
            run(m_state->performReaction(note(target), QStringLiteral("👍")));
            QCOMPARE(f->last(create).field("renoteId"), expected);
            QCOMPARE(f->last(react).field("noteId"), expected);
        }
        QCOMPARE(f->server.requestsTo(QStringLiteral("notes/timeline")).size(), 2); // counts refreshed after each reaction
        QVERIFY(log(Level::request).contains(QStringLiteral("Renoted ") + kRenoted));
        QVERIFY(log(Level::request).contains(QStringLiteral("Reacted to ") + kRenoted));
        m_state->openNote(note(kPureRenote));
        m_state->openNote(note(kQuote));
        QCOMPARE(f->browser.opened, (QList<QUrl>{f->server.url().resolved(QUrl(QStringLiteral("/notes/") + kRenoted)),
                                                 f->server.url().resolved(QUrl(QStringLiteral("/notes/") + kQuote))}));

        run(m_state->deleteNote(note(kPureRenote)));
        QCOMPARE(f->last(QStringLiteral("notes/delete")).field("noteId"), kPureRenote);
        QCOMPARE(m_state->notes().size(), 3);
        QVERIFY(log(Level::request).contains(QStringLiteral("Deleted note ") + kPureRenote));
        f->server.setEndpointResponse(QStringLiteral("notes/delete"), FakeResponse::fixture(QStringLiteral("error-500-no-message.json"), 500));
        m_state->setPresentedError(std::nullopt);
        run(m_state->deleteNote(note(kQuote)));
        QCOMPARE(m_state->notes().size(), 3);
        QVERIFY(m_state->presentedError());

        // A post still in flight when the instance changes leaves the new session alone.
        f->server.setEndpointResponse(create, FakeResponse::fixture(QStringLiteral("notes-create-response.json")).delayedBy(300ms));
        m_state->setComposerText(QStringLiteral("late"));
        m_state->post();
        QVERIFY(m_state->isPosting());
        m_state->configureInstance(QUrl(QStringLiteral("https://other.example")));
        QVERIFY(!m_state->token() && !m_state->currentUser() && m_state->notes().isEmpty());
        QVERIFY(log(Level::info).contains(QStringLiteral("Instance set to other.example")));
        QVERIFY(QTest::qWaitFor([this] { return !m_state->isPosting(); }, 5000));
        QVERIFY(m_state->notes().isEmpty());
        QCOMPARE(m_state->composerText(), QStringLiteral("late"));
    }

    void streamKeepsTheTimelineCurrent()
    {
        signIn();
        FakeStreamConnection *stream = f->server.subscribedStream();
        QVERIFY(stream);
        const auto quote = nlohmann::json::parse(readFixture(QStringLiteral("misskey/note-quote-with-files.json")).toStdString());
        QVERIFY(stream->sendChannelMessage(QStringLiteral("homeTimeline"), QStringLiteral("note"), quote));
        QVERIFY(QTest::qWaitFor([this] { return m_state->notes().constFirst().id == kQuote; }, 5000));
        QCOMPARE(m_state->notes().size(), 4);
        QVERIFY(stream->sendChannelMessage(QStringLiteral("main"), QStringLiteral("mention"), quote));
        QVERIFY(logged(Level::request, QStringLiteral("Streaming event: mention")));

        // The timeline keeps the newest 100 notes: the 101st pushes the oldest out.
        for (int index = 0; index <= 96; ++index)
            m_state->insertAtTop(syntheticNote(index));
        QCOMPARE(m_state->notes().size(), 100);
        QCOMPARE(m_state->notes().constFirst().id, QStringLiteral("s96"));
        QCOMPARE(m_state->notes().constLast().id, QStringLiteral("9wq6c3s4t5")); // the pure renote was last

        // Another timeline kind reloads and subscribes its channel; a refusal leaves the loading state.
        m_state->setSelectedTimeline(TimelineKind::global);
        QVERIFY(logged(Level::request, QStringLiteral("Loaded Global timeline.")));
        QVERIFY(QTest::qWaitFor([this] {
            return f->server.streamConnections().constLast()->connectedChannels().contains(QStringLiteral("globalTimeline"));
        }, 5000));
        f->server.setEndpointResponse(QStringLiteral("notes/global-timeline"),
                                      FakeResponse::fixture(QStringLiteral("error-429-rate-limit.json"), 429));
        run(m_state->refreshTimeline(false));
        QVERIFY(!m_state->isLoadingTimeline());
        QCOMPARE(log(Level::error), QStringList{m_state->presentedError().value_or(QString())});

        // Commands in flight outlive the state: the answers arrive with nobody left to take them.
        f->server.clearRequests();
        for (const char *endpoint : {"notes/global-timeline", "notes/create", "notes/delete"})
            f->server.setEndpointResponse(QLatin1String(endpoint), FakeResponse::json("{}").delayedBy(200ms));
        m_state->refresh();
        m_state->setComposerText(QStringLiteral("bye"));
        m_state->post();
        m_state->delete_(m_state->notes().constFirst());
        QVERIFY(m_state->isLoadingTimeline() && m_state->isPosting());
        m_state.reset();
        QVERIFY(f->waitForRequests(3));
        QTest::qWait(400);
    }

    // Without a key nothing reaches the server; dropped files then bring a key and a script.
    void lockedClientAndDroppedFiles()
    {
        m_state->configureInstance(f->server.url());
        m_state->setSelectedTimeline(TimelineKind::local);
        m_state->setComposerText(QStringLiteral("hello"));
        run(m_state->postNote());
        run(m_state->performRenote(syntheticNote(1)));
        run(m_state->performReaction(syntheticNote(1), QStringLiteral("👍")));
        run(m_state->deleteNote(syntheticNote(1)));
        run(m_state->refreshAccountAndTimeline());
        const QUrl first = QUrl::fromLocalFile(f->file(QStringLiteral("bot.cbs"), "print(1)\n"));
        m_state->useScript(first);
        m_state->startScript();
        QTest::qWait(100);
        QVERIFY(f->server.requests().isEmpty());
        QVERIFY(!m_state->hasAPIKey() && !m_state->canStartScript());
        QCOMPARE(m_state->scriptState(), ScriptExecutionState::idle);

        // A dropped folder is not a script, even one named like one.
        QVERIFY(QDir(f->dir.path()).mkdir(QStringLiteral("folder.cbs")));
        const QUrl key = QUrl::fromLocalFile(f->file(QStringLiteral("key.TXT"), kToken.toUtf8()));
        QVERIFY(m_state->acceptDroppedFiles({QUrl::fromLocalFile(f->dir.filePath(QStringLiteral("folder.cbs"))), key}));
        QCOMPARE(m_state->token(), std::optional<QString>(kToken));
        QVERIFY(m_state->scriptURL() == first && !m_state->presentedError());

        // An image beside a script is passed over; the window's suite shows the alert for a drop of
        // nothing usable.
        const QUrl image = QUrl::fromLocalFile(f->file(QStringLiteral("cat.png"), "png"));
        const QUrl script = QUrl::fromLocalFile(f->file(QStringLiteral("Bot.CBS"), "print(1)\n"));
        QVERIFY(m_state->acceptDroppedFiles({image, script}));
        QCOMPARE(m_state->scriptURL(), std::optional<QUrl>(script));
        QCOMPARE(m_settings->value(scriptPathSettingsKey()), std::optional<QString>(script.toLocalFile()));
        QVERIFY(log(Level::info).contains(QStringLiteral("Selected bot script: Bot.CBS")));

        m_state->useScript(image);
        QCOMPARE(m_state->scriptURL(), std::optional<QUrl>(script));
        f->dialogs.scriptChoice = QUrl::fromLocalFile(f->file(QStringLiteral("other.cbs"), "print(2)\n"));
        m_state->chooseScript();
        QCOMPARE(m_state->scriptURL(), f->dialogs.scriptChoice);
    }
};

QTEST_MAIN(AppStateTest)
#include "app_state_test.moc"
