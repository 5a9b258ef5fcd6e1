// quill-sandbox as a process: its start-up lines and key file, the example bots run against it with
// quill-bot and quill-bot's failures, streaming delivery, Misskey's error shapes, MiAuth, and state that
// survives a restart.
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest/QTest>

#include <nlohmann/json.hpp>

using nlohmann::json;

// QCOMPARE has no overload for JSON values; this one shows both sides when they differ.
// Each side is evaluated once: a side may be a request.
#define JSON_COMPARE(actual, expected)                                                                          \
    do {                                                                                                        \
        const json actual_ = (actual), expected_ = (expected);                                                  \
        QVERIFY2(actual_ == expected_, (actual_.dump() + " != " + expected_.dump()).c_str());                    \
    } while (false)

class SandboxProcessTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_files;
    QNetworkAccessManager m_network;
    QUrl m_base;
    QProcess m_sandbox; ///< one instance for the whole suite, restarted once over its state file
    const QStringList m_options{QStringLiteral("--state"), path(QStringLiteral("state.json")), QStringLiteral("--chatter"), QStringLiteral("100")};

    QString path(const QString &name) const { return m_files.filePath(name); }
    static bool finish(QProcess &process) { return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000); }

    // Starts quill-sandbox and returns its standard output up to the line that announces its
    // address, which becomes m_base (invalid when the sandbox never got that far).
    QByteArray startSandbox(QProcess &sandbox, const QStringList &extra)
    {
        sandbox.start(QStringLiteral(QUILL_SANDBOX_PATH),
                      QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--key-file"), path(QStringLiteral("key.txt"))}
                          + extra);
        QByteArray output;
        const QByteArray marker = "Sandbox instance at ";
        static_cast<void>(QTest::qWaitFor([&] {
            output += sandbox.readAllStandardOutput();
            return (output.contains(marker) && output.endsWith('\n')) || sandbox.state() == QProcess::NotRunning;
        }, 10000));
        const qsizetype at = output.indexOf(marker);
        m_base = at < 0 ? QUrl() : QUrl(QString::fromUtf8(output.mid(at + marker.size()).trimmed()));
        return output;
    }

    static QByteArray read(const QString &name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString token() const { return QString::fromUtf8(read(path(QStringLiteral("key.txt")))).trimmed(); }
    bool write(const QString &name, const QByteArray &bytes)
    {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    // Status and JSON body of a request to the running sandbox; POST with parameters, else GET.
    std::pair<int, json> send(const QString &target, const json &params = nullptr, const QString &bearer = {})
    {
        QNetworkRequest request(m_base.resolved(QUrl(target)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        if (!bearer.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + bearer.toUtf8());
        QNetworkReply *reply = params.is_null() ? m_network.get(request) : m_network.post(request, QByteArray::fromStdString(params.dump()));
        if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000))
            reply->abort();
        const QByteArray bytes = reply->readAll();
        reply->deleteLater();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), json::parse(bytes.cbegin(), bytes.cend(), nullptr, false)};
    }

    // The notes the sandbox account wrote, as the sandbox recorded them; or the first that matches.
    json ownNotes()
    {
        const json current = send(QStringLiteral("/sandbox/state")).second;
        json mine = json::array();
        for (const json &note : current.value("notes", json::array()))
            if (note["userId"] == current["sandboxUserId"])
                mine.push_back(note);
        return mine;
    }
    json ownNote(const std::function<bool(const json &)> &match)
    {
        const json mine = ownNotes();
        const auto found = std::find_if(mine.begin(), mine.end(), match);
        return found == mine.end() ? json() : *found;
    }

    void launchBot(QProcess &bot, const QString &script, const QString &instance = {})
    {
        bot.setWorkingDirectory(m_files.path());
        bot.start(QStringLiteral(QUILL_BOT_PATH), {QStringLiteral("--instance"), instance.isEmpty() ? m_base.toString() : instance,
                                                   QStringLiteral("--token-file"), path(QStringLiteral("key.txt")), script});
    }

    // Stops a long-running bot and returns what it printed; nothing, with a warning that shows
    // why, unless it stopped cleanly.
    static QByteArray stopBot(QProcess &bot)
    {
        bot.terminate();
        const QByteArray output = finish(bot) ? bot.readAllStandardOutput() : QByteArray();
        const bool clean = bot.exitCode() == 0 && output.endsWith(" INFO Bot script stopped.\n");
        if (!clean)
            qWarning() << output << bot.readAllStandardError();
        return clean ? output : QByteArray();
    }

private Q_SLOTS:
    // Chatter keeps mentions of the sandbox account arriving, for the stream and the greeter.
    void initTestCase()
    {
        const QByteArray startUp = startSandbox(m_sandbox, m_options);
        QVERIFY2(m_base.isValid(), m_sandbox.readAllStandardError().constData());
        QVERIFY(startUp.contains("Sandbox key file: " + path(QStringLiteral("key.txt")).toUtf8() + "\n") && !token().isEmpty());
    }

    // Every bot function once, through quill-bot, with a stream open: the refusals come back in
    // Misskey's error shapes, and the stream delivers the tour's note and the chatter's mentions.
    void everyBotFunctionAnswersWhileStreaming()
    {
        QUrl address(m_base.toString().replace(QStringLiteral("http:"), QStringLiteral("ws:")) + QStringLiteral("/streaming?i=") + token());
        QWebSocket socket;
        QList<json> received;
        connect(&socket, &QWebSocket::textMessageReceived, this,
                [&received](const QString &text) { received.append(json::parse(text.toStdString(), nullptr, false)); });
        socket.open(address);
        QVERIFY(QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000));
        for (const char *channel : {R"("homeTimeline","id":"h1")", R"("main","id":"m1")"})
            socket.sendTextMessage(QStringLiteral(R"({"type":"connect","body":{"channel":%1,"params":{}}})").arg(QLatin1String(channel)));
        QTest::qWait(100);
        QVERIFY(write(QStringLiteral("upload.txt"), "upload me\n"));
        QProcess tour;
        launchBot(tour, QStringLiteral(QUILL_SANDBOX_TESTS_DIR "/bot_api_tour.cbs"));
        QVERIFY2(finish(tour) && tour.exitCode() == 0, tour.readAllStandardError().constData());
        const QByteArray output = tour.readAllStandardOutput();
        for (const char *line : {" BOT pure renote:\tYou can not reply to a pure Renote. (CANNOT_REPLY_TO_A_PURE_RENOTE)\n",
                                 " BOT deleted:\tNo such note. (NO_SUCH_NOTE)\n",
                                 " BOT unknown:\tUnknown API endpoint. (UNKNOWN_API_ENDPOINT)\n", " BOT tour complete\n"})
            QVERIFY2(output.contains(line), line);
        // The deleted note took its reply, quote and renote along; the poll keeps the vote.
        const json mine = ownNotes();
        QCOMPARE(mine.size(), 2u);
        JSON_COMPARE(json::array({mine[0]["text"], mine[1]["text"], mine[0]["poll"]["votes"]}),
                     json::array({"tour poll", "tour file", {{mine[0]["userId"].get<std::string>(), {1}}}}));
        const auto seen = [&](const char *channel, const char *type, const std::function<bool(const json &)> &match) {
            return std::any_of(received.begin(), received.end(), [&](const json &message) {
                return message["type"] == "channel" && message["body"]["id"] == channel && message["body"]["type"] == type
                       && match(message["body"]["body"]);
            });
        };
        QVERIFY(QTest::qWaitFor([&] { return seen("h1", "note", [](const json &note) { return note["text"] == "tour poll"; }); }, 5000));
        QVERIFY(QTest::qWaitFor([&] {
            return seen("m1", "mention", [](const json &note) { return note["text"].get<std::string>().starts_with("@sandbox "); });
        }, 5000));
        QVERIFY(!seen("h1", "mention", [](const json &) { return true; })); // timeline channels carry notes only
        // A stream with a token the sandbox never issued is closed.
        QWebSocket stranger;
        address.setQuery(QStringLiteral("i=not-a-token"));
        stranger.open(address);
        QVERIFY(QTest::qWaitFor([&] { return stranger.closeCode() == QWebSocketProtocol::CloseCodePolicyViolated; }, 5000));
    }

    void exampleBotsRunAgainstTheSandbox()
    {
        QProcess poster;
        launchBot(poster, QStringLiteral(QUILL_EXAMPLES_DIR "/scheduled_poster.cbs"));
        const auto scheduled = [](const json &note) { return note["text"].get<std::string>().starts_with("Scheduled post number 1, Unix "); };
        QVERIFY(QTest::qWaitFor([&] { return !ownNote(scheduled).is_null(); }, 15000));
        QVERIFY(!stopBot(poster).isEmpty());
        JSON_COMPARE(ownNote(scheduled)["visibility"], "home");

        // The greeter as shipped checks every 30 seconds; the copy checks often enough for a test.
        QByteArray script = read(QStringLiteral(QUILL_EXAMPLES_DIR "/greeter.cbs"));
        QVERIFY(script.contains("INTERVAL = 30000\n"));
        QVERIFY(write(QStringLiteral("greeter.cbs"), script.replace("INTERVAL = 30000\n", "INTERVAL = 200\n")));
        QProcess greeter;
        launchBot(greeter, path(QStringLiteral("greeter.cbs")));
        json greeting;
        QVERIFY(QTest::qWaitFor([&] {
            greeting = ownNote([](const json &note) { return !note["replyId"].get<std::string>().empty(); });
            return !greeting.is_null();
        }, 20000));
        // The reply names the mention's author, as the greeter's log line does.
        const QString text = QString::fromStdString(greeting["text"].get<std::string>());
        QVERIFY2(text.startsWith(u'@') && text.endsWith(QStringLiteral(" Hello!")), qPrintable(text));
        QVERIFY(stopBot(greeter).contains(" Greeted " + text.chopped(7).toUtf8() + "\n"));

        // The feed bot reads the account first; its feed lies outside, so only that call is recorded.
        const auto accountReads = [&] {
            const json requests = send(QStringLiteral("/sandbox/requests")).second;
            return std::count_if(requests.begin(), requests.end(),
                                 [](const json &entry) { return entry["path"] == "/api/i" && entry["status"] == 200; });
        };
        const auto before = accountReads();
        QProcess feed;
        launchBot(feed, QStringLiteral(QUILL_EXAMPLES_DIR "/feed_bot.cbs"));
        QVERIFY(QTest::qWaitFor([&] { return accountReads() > before; }, 15000));
        QVERIFY(!stopBot(feed).isEmpty());
    }

    // The hello example prints its line and exits with 0. A failing script, an address the token must
    // not travel to and a file of the wrong kind: exit status 1 with the reason on standard error, and
    // the script never runs.
    void botExitStatusAndOutput()
    {
        QVERIFY(write(QStringLiteral("fail.cbs"), "misskeyRequest(\"no/such\", {})\n") && write(QStringLiteral("ok.cbs"), "print(1)\n")
                && write(QStringLiteral("bot.txt"), "print(1)\n"));
        for (const auto &[script, instance, error] : QList<std::tuple<QString, QString, QByteArray>>{
                 {QStringLiteral(QUILL_EXAMPLES_DIR "/hello.cbs"), QString(), QByteArray()},
                 {QStringLiteral("fail.cbs"), QString(), "CobaltScript error: Unknown API endpoint. (UNKNOWN_API_ENDPOINT)"},
                 {QStringLiteral("ok.cbs"), QStringLiteral("http://example.com"),
                  "quill-bot: Misskey instances must use HTTPS unless they run on this Mac.\n"},
                 {QStringLiteral("bot.txt"), QString(), "The selected bot script is not a .cbs file.\n"}}) {
            QProcess bot;
            launchBot(bot, script, instance); // the written files relative to the bot's working folder
            const QByteArray output = finish(bot) ? bot.readAllStandardOutput() : QByteArray("<still running>");
            const QByteArray errors = bot.readAllStandardError();
            const bool passed = error.isEmpty() ? bot.exitCode() == 0 && output.contains(" BOT Hello from Quill!\n")
                                                : bot.exitCode() == 1 && !output.contains("BOT 1") && errors.startsWith(error);
            QVERIFY2(passed, qPrintable(script + QStringLiteral(": ") + QString::fromUtf8(output + errors)));
        }
    }

    void stateSurvivesARestart()
    {
        const QString key = token();
        // Misskey's error envelopes for the usual failures (the bot tour meets the others).
        QCOMPARE(send(QStringLiteral("/api/i"), json::object()).first, 401);
        JSON_COMPARE(send(QStringLiteral("/api/i"), json::object(), QStringLiteral("wrong")).second["error"]["code"], "AUTHENTICATION_FAILED");
        JSON_COMPARE(send(QStringLiteral("/api/notes/create"), {{"visibility", "public"}}, key).second["error"]["code"], "INVALID_PARAM");
        const json id = send(QStringLiteral("/api/notes/create"), {{"text", "kept across restarts"}}, key).second["createdNote"]["id"];
        QCOMPARE(send(QStringLiteral("/api/notes/reactions/create"), {{"noteId", id}, {"reaction", "👍"}}, key).first, 204);
        // MiAuth: opening the page approves the session; its check hands out a token that works.
        JSON_COMPARE(send(QStringLiteral("/api/miauth/s-1/check"), json::object()).second, json({{"ok", false}}));
        QCOMPARE(send(QStringLiteral("/miauth/s-1?name=Quill")).first, 200);
        const json check = send(QStringLiteral("/api/miauth/s-1/check"), json::object()).second;
        JSON_COMPARE(check["ok"], true);
        const QString miauthToken = QString::fromStdString(check.value("token", ""));
        m_sandbox.terminate(); // a sandbox ends cleanly on SIGTERM
        QVERIFY(finish(m_sandbox) && m_sandbox.exitStatus() == QProcess::NormalExit && m_sandbox.exitCode() == 0);
        startSandbox(m_sandbox, m_options);
        QCOMPARE(token(), key);
        const json shown = send(QStringLiteral("/api/notes/show"), {{"noteId", id}}, key).second;
        JSON_COMPARE(json::array({shown["text"], shown["reactions"], shown["myReaction"]}),
                     json::array({"kept across restarts", {{"👍", 1}}, "👍"}));
        QCOMPARE(send(QStringLiteral("/api/i"), json::object(), miauthToken).first, 200);
        m_sandbox.terminate();
        QVERIFY(finish(m_sandbox) && m_sandbox.exitStatus() == QProcess::NormalExit && m_sandbox.exitCode() == 0);
        // A damaged state file stops the start and is left as it was.
        QVERIFY(write(QStringLiteral("state.json"), "{\"format\":"));
        QProcess third;
        startSandbox(third, m_options.mid(0, 2));
        QVERIFY(!m_base.isValid() && finish(third) && third.exitCode() == 1);
        QVERIFY(third.readAllStandardError().contains("is not a usable sandbox state"));
        QCOMPARE(read(m_options.at(1)), QByteArrayLiteral("{\"format\":"));
    }
};

QTEST_GUILESS_MAIN(SandboxProcessTest)
#include "sandbox_process_test.moc"
