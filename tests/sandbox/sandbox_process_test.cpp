// quill-sandbox as a process: the example bots run against it with quill-bot, its streaming API
// delivers notes and mentions, MiAuth hands out working tokens, and its state survives a restart.
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QWebSocket>
#include <QtTest/QTest>

#include <nlohmann/json.hpp>

using nlohmann::json;

// QCOMPARE has no overload for JSON values; this one shows both sides when they differ.
#define JSON_COMPARE(actual, expected)                                                                  \
    do {                                                                                                \
        const json actualValue_ = (actual);                                                             \
        const json expectedValue_ = (expected);                                                         \
        QVERIFY2(actualValue_ == expectedValue_, (actualValue_.dump() + " != " + expectedValue_.dump()).c_str()); \
    } while (false)

namespace {

struct Answer {
    int status = 0;
    json body;
};

} // namespace

class SandboxProcessTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_files;
    QNetworkAccessManager m_network;

    QString path(const QString &name) const { return m_files.filePath(name); }

    // Starts quill-sandbox and waits for the line that announces its address.
    QUrl startSandbox(QProcess &sandbox, const QStringList &extra)
    {
        sandbox.start(QStringLiteral(QUILL_SANDBOX_PATH),
                      QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--key-file"),
                                  path(QStringLiteral("key.txt"))}
                          + extra);
        QByteArray output;
        const QByteArray marker = "Sandbox instance at ";
        const bool ended = QTest::qWaitFor(
            [&] {
                output += sandbox.readAllStandardOutput();
                return (output.contains(marker) && output.endsWith('\n')) || sandbox.state() == QProcess::NotRunning;
            },
            10000);
        const qsizetype at = output.indexOf(marker);
        if (!ended || at < 0)
            return {};
        return QUrl(QString::fromUtf8(output.mid(at + marker.size()).trimmed()));
    }

    static bool finish(QProcess &process)
    {
        return QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 20000);
    }

    // A sandbox ends cleanly on SIGTERM.
    static void stopSandbox(QProcess &sandbox)
    {
        sandbox.terminate();
        QVERIFY(finish(sandbox));
        QCOMPARE(sandbox.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sandbox.exitCode(), 0);
    }

    QString token() const
    {
        QFile file(path(QStringLiteral("key.txt")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
    }

    Answer send(const QUrl &url, const QByteArray &method, const QByteArray &body = {}, const QString &bearer = {})
    {
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        if (!bearer.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + bearer.toUtf8());
        QNetworkReply *reply = m_network.sendCustomRequest(request, method, body);
        if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000))
            reply->abort();
        const QByteArray bytes = reply->readAll();
        Answer answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                      json::parse(bytes.cbegin(), bytes.cend(), nullptr, false)};
        reply->deleteLater();
        return answer;
    }

    Answer api(const QUrl &base, const QString &endpoint, const json &params, const QString &bearer)
    {
        return send(base.resolved(QUrl(QStringLiteral("/api/") + endpoint)), "POST",
                    QByteArray::fromStdString(params.dump()), bearer);
    }

    json state(const QUrl &base) { return send(base.resolved(QUrl(QStringLiteral("/sandbox/state"))), "GET").body; }

    // The notes the sandbox account wrote, as the sandbox recorded them.
    json ownNotes(const QUrl &base)
    {
        const json current = state(base);
        json mine = json::array();
        for (const json &note : current.value("notes", json::array())) {
            if (note["userId"] == current["sandboxUserId"])
                mine.push_back(note);
        }
        return mine;
    }

    void launchBot(QProcess &bot, const QUrl &base, const QString &script)
    {
        // Only read by sanitizer builds.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LSAN_OPTIONS"),
                           QStringLiteral("suppressions=" QUILL_SANDBOX_TESTS_DIR "/lsan.supp"));
        bot.setProcessEnvironment(environment);
        bot.start(QStringLiteral(QUILL_BOT_PATH), {QStringLiteral("--instance"), base.toString(),
                                                   QStringLiteral("--token-file"), path(QStringLiteral("key.txt")), script});
    }

    void stopBot(QProcess &bot)
    {
        bot.terminate();
        QVERIFY(finish(bot));
        const QByteArray output = bot.readAllStandardOutput();
        QVERIFY2(bot.exitCode() == 0, (output + bot.readAllStandardError()).constData());
        QVERIFY(output.endsWith(" INFO Bot script stopped.\n"));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_files.isValid()); }

    void exampleBotsRunAgainstTheSandbox()
    {
        QProcess sandbox;
        // Quick chatter, so that mentions of the sandbox account keep arriving for the greeter.
        const QUrl base = startSandbox(sandbox, {QStringLiteral("--chatter"), QStringLiteral("150")});
        QVERIFY2(base.isValid(), sandbox.readAllStandardError().constData());

        QProcess hello;
        launchBot(hello, base, QStringLiteral(QUILL_EXAMPLES_DIR "/hello.cbs"));
        QVERIFY(finish(hello));
        QCOMPARE(hello.exitCode(), 0);
        QVERIFY(hello.readAllStandardOutput().contains(" BOT Hello from Quill!\n"));

        QProcess poster;
        launchBot(poster, base, QStringLiteral(QUILL_EXAMPLES_DIR "/scheduled_poster.cbs"));
        QVERIFY(QTest::qWaitFor([&] { return !ownNotes(base).empty(); }, 15000));
        const json posted = ownNotes(base).at(0);
        QVERIFY(posted["text"].get<std::string>().starts_with("Scheduled post number 1, Unix time "));
        JSON_COMPARE(posted["visibility"], "home");
        stopBot(poster);

        // The greeter as shipped checks every 30 seconds; the copy checks often enough for a test.
        QFile original(QStringLiteral(QUILL_EXAMPLES_DIR "/greeter.cbs"));
        QVERIFY(original.open(QIODevice::ReadOnly));
        QByteArray script = original.readAll();
        QVERIFY(script.contains("INTERVAL = 30000\n"));
        script.replace("INTERVAL = 30000\n", "INTERVAL = 200\n");
        QFile copy(path(QStringLiteral("greeter.cbs")));
        QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(script) == script.size());
        copy.close();
        QProcess greeter;
        launchBot(greeter, base, copy.fileName());
        const auto reply = [&]() -> json {
            for (const json &note : ownNotes(base)) {
                if (!note["replyId"].get<std::string>().empty())
                    return note;
            }
            return nullptr;
        };
        QVERIFY(QTest::qWaitFor([&] { return !reply().is_null(); }, 20000));
        stopBot(greeter);
        const json greeting = reply();
        const json current = state(base);
        const auto byId = [](const json &list, const json &id) {
            return *std::find_if(list.begin(), list.end(), [&id](const json &entry) { return entry["id"] == id; });
        };
        const json mention = byId(current["notes"], greeting["replyId"]);
        const json author = byId(current["users"], mention["userId"]);
        JSON_COMPARE(greeting["text"], "@" + author["username"].get<std::string>() + " Hello!");
        JSON_COMPARE(greeting["visibility"], "home");
        JSON_COMPARE(mention["mentions"], json::array({current["sandboxUserId"]}));

        // The feed bot reads the account first; its feed lies outside, so only that call is recorded.
        const auto accountReads = [&] {
            const json requests = send(base.resolved(QUrl(QStringLiteral("/sandbox/requests"))), "GET").body;
            return std::count_if(requests.begin(), requests.end(),
                                 [](const json &entry) { return entry["path"] == "/api/i" && entry["status"] == 200; });
        };
        const auto before = accountReads();
        QProcess feed;
        launchBot(feed, base, QStringLiteral(QUILL_EXAMPLES_DIR "/feed_bot.cbs"));
        QVERIFY(QTest::qWaitFor([&] { return accountReads() > before; }, 15000));
        stopBot(feed);

        stopSandbox(sandbox);
    }

    void everyBotFunctionAnswers()
    {
        QProcess sandbox;
        const QUrl base = startSandbox(sandbox, {QStringLiteral("--chatter"), QStringLiteral("0")});
        QVERIFY(base.isValid());
        QFile upload(path(QStringLiteral("upload.txt")));
        QVERIFY(upload.open(QIODevice::WriteOnly) && upload.write("upload me\n") == 10);
        upload.close();

        QProcess tour;
        tour.setWorkingDirectory(m_files.path());
        launchBot(tour, base, QStringLiteral(QUILL_SANDBOX_TESTS_DIR "/bot_api_tour.cbs"));
        QVERIFY(finish(tour));
        const QByteArray output = tour.readAllStandardOutput();
        QVERIFY2(tour.exitCode() == 0, tour.readAllStandardError().constData());
        QVERIFY(output.contains(" BOT pure renote:\tYou can not reply to a pure Renote. (CANNOT_REPLY_TO_A_PURE_RENOTE)\n"));
        QVERIFY(output.contains(" BOT deleted:\tNo such note. (NO_SUCH_NOTE)\n"));
        QVERIFY(output.contains(" BOT unknown:\tUnknown API endpoint. (UNKNOWN_API_ENDPOINT)\n"));
        QVERIFY(output.contains(" BOT tour complete\n"));

        // What the tour left behind: the deleted note took its reply, quote and renote along; the
        // poll keeps the vote.
        std::vector<std::string> texts;
        json poll;
        for (const json &note : ownNotes(base)) {
            texts.push_back(note["text"].get<std::string>());
            if (note["text"] == "tour poll")
                poll = note;
        }
        QVERIFY(texts == (std::vector<std::string>{"tour poll", "tour file"}));
        JSON_COMPARE(poll["poll"]["votes"], json({{state(base)["sandboxUserId"].get<std::string>(), {1}}}));

        stopSandbox(sandbox);
    }

    void streamsNotesAndMentions()
    {
        QProcess sandbox;
        const QUrl base = startSandbox(sandbox, {QStringLiteral("--chatter"), QStringLiteral("100")});
        QVERIFY(base.isValid());

        QUrl address = base;
        address.setScheme(QStringLiteral("ws"));
        address.setPath(QStringLiteral("/streaming"));
        address.setQuery(QStringLiteral("i=") + token());
        QWebSocket socket;
        QList<json> received;
        connect(&socket, &QWebSocket::textMessageReceived, this, [&received](const QString &text) {
            received.append(json::parse(text.toStdString(), nullptr, false));
        });
        socket.open(address);
        QVERIFY(QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000));
        socket.sendTextMessage(QStringLiteral(R"({"type":"connect","body":{"channel":"homeTimeline","id":"h1","params":{}}})"));
        socket.sendTextMessage(QStringLiteral(R"({"type":"connect","body":{"channel":"main","id":"m1","params":{}}})"));
        QTest::qWait(100);

        const Answer created = api(base, QStringLiteral("notes/create"), {{"text", "streamed"}}, token());
        QCOMPARE(created.status, 200);
        const json id = created.body["createdNote"]["id"];
        const auto seen = [&](const char *channel, const char *type, const std::function<bool(const json &)> &match) {
            return std::any_of(received.begin(), received.end(), [&](const json &message) {
                return message["type"] == "channel" && message["body"]["id"] == channel && message["body"]["type"] == type
                       && match(message["body"]["body"]);
            });
        };
        QVERIFY(QTest::qWaitFor([&] { return seen("h1", "note", [&](const json &note) { return note["id"] == id; }); }, 5000));
        QVERIFY(QTest::qWaitFor([&] {
            return seen("m1", "mention", [](const json &note) { return note["text"].get<std::string>().starts_with("@sandbox "); });
        }, 5000));
        // Timeline channels carry notes only.
        QVERIFY(!seen("h1", "mention", [](const json &) { return true; }));

        // A stream with a token the sandbox never issued is closed.
        QWebSocket stranger;
        address.setQuery(QStringLiteral("i=not-a-token"));
        stranger.open(address);
        QVERIFY(QTest::qWaitFor([&] { return stranger.closeCode() == QWebSocketProtocol::CloseCodePolicyViolated; }, 5000));

        socket.close();
        stopSandbox(sandbox);
    }

    void stateSurvivesARestart()
    {
        const QString statePath = path(QStringLiteral("state.json"));
        QProcess first;
        QUrl base = startSandbox(first, {QStringLiteral("--state"), statePath, QStringLiteral("--chatter"), QStringLiteral("0")});
        QVERIFY(base.isValid());
        const QString key = token();

        // Misskey's error envelopes for the usual failures (the bot tour meets the others).
        QCOMPARE(api(base, QStringLiteral("i"), json::object(), {}).status, 401);
        JSON_COMPARE(api(base, QStringLiteral("i"), json::object(), QStringLiteral("wrong")).body["error"]["code"],
                 "AUTHENTICATION_FAILED");
        JSON_COMPARE(api(base, QStringLiteral("notes/create"), {{"visibility", "public"}}, key).body["error"]["code"],
                 "INVALID_PARAM");

        const Answer created = api(base, QStringLiteral("notes/create"), {{"text", "kept across restarts"}}, key);
        const json id = created.body["createdNote"]["id"];
        QCOMPARE(api(base, QStringLiteral("notes/reactions/create"), {{"noteId", id}, {"reaction", "👍"}}, key).status, 204);

        // MiAuth: opening the page approves the session; its check hands out a token that works.
        JSON_COMPARE(api(base, QStringLiteral("miauth/s-1/check"), json::object(), {}).body, json({{"ok", false}}));
        QCOMPARE(send(base.resolved(QUrl(QStringLiteral("/miauth/s-1?name=Quill"))), "GET").status, 200);
        const json check = api(base, QStringLiteral("miauth/s-1/check"), json::object(), {}).body;
        JSON_COMPARE(check["ok"], true);
        const QString miauthToken = QString::fromStdString(check["token"].get<std::string>());
        JSON_COMPARE(api(base, QStringLiteral("i"), json::object(), miauthToken).body["username"], "sandbox");

        stopSandbox(first);

        QProcess second;
        base = startSandbox(second, {QStringLiteral("--state"), statePath, QStringLiteral("--chatter"), QStringLiteral("0")});
        QVERIFY(base.isValid());
        QCOMPARE(token(), key);
        const Answer shown = api(base, QStringLiteral("notes/show"), {{"noteId", id}}, key);
        JSON_COMPARE(shown.body["text"], "kept across restarts");
        JSON_COMPARE(shown.body["reactions"], json({{"👍", 1}}));
        JSON_COMPARE(shown.body["myReaction"], "👍");
        QCOMPARE(api(base, QStringLiteral("i"), json::object(), miauthToken).status, 200);
        stopSandbox(second);

        // A damaged state file stops the start and is left as it was.
        QFile damaged(statePath);
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate) && damaged.write("{\"format\":") == 10);
        damaged.close();
        QProcess third;
        QVERIFY(!startSandbox(third, {QStringLiteral("--state"), statePath}).isValid());
        QVERIFY(finish(third));
        QCOMPARE(third.exitCode(), 1);
        QVERIFY(third.readAllStandardError().contains("is not a usable sandbox state"));
        QVERIFY(damaged.open(QIODevice::ReadOnly));
        QCOMPARE(damaged.readAll(), QByteArrayLiteral("{\"format\":"));
    }
};

QTEST_GUILESS_MAIN(SandboxProcessTest)
#include "sandbox_process_test.moc"
