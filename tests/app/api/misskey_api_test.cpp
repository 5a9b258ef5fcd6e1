// The REST client over real HTTP against the fake server: request shape, decoding, error mapping,
// cancellation, and broken or hostile servers, which never crash the client or hold it past its
// time-out: every failure ends as one message.
#include "app/api/misskey_api.h"

#include "app/api/endpoints.h"
#include "app/model/timeline_kind.h"
#include "tests/app/support/await_task.h"
#include "tests/app/support/fake_misskey_server.h"

#include <QNetworkAccessManager>
#include <QtTest/QTest>

using namespace quill;
using namespace std::chrono_literals;
using namespace quill::test;
using json = nlohmann::json;

namespace {

const QString invalidResponse = QStringLiteral("The Misskey server returned an invalid response.");
const QString cancelled = QStringLiteral("The request was cancelled.");
const QString timedOut = QStringLiteral("The request timed out.");

template <typename T>
QString messageOf(const std::optional<APIResult<T>> &result)
{
    if (!result)
        return QStringLiteral("<did not finish>");
    return result->ok() ? QStringLiteral("<success>") : result->error().errorDescription();
}

// A timeline of `count` copies of the quote note, as the server would send it.
QByteArray longTimeline(int count)
{
    const QByteArray note = test::readFixture(QStringLiteral("misskey/note-quote-with-files.json")).trimmed();
    QByteArrayList notes;
    notes.fill(note, count);
    return '[' + notes.join(',') + ']';
}

} // namespace

class MisskeyAPITest : public QObject {
    Q_OBJECT

private:
    FakeMisskeyServer *m_server = nullptr;
    QNetworkAccessManager *m_network = nullptr;

    MisskeyAPI client(std::optional<QString> token = QStringLiteral("tok-123"), RequestLimits limits = {10s, 1024 * 1024}) const
    {
        return MisskeyAPI(m_server->url(), std::move(token), m_network, limits);
    }

    void serveAccount(const FakeResponse &response) { m_server->setEndpointResponse(endpoints::account(), response); }

    RecordedRequest lastRequest() const { return m_server->requests().value(m_server->requests().size() - 1); }

    // An account request that is answered only when the test has given up on it.
    void answerNever()
    {
        serveAccount(FakeResponse::fixture(QStringLiteral("i-alice.json")).delayedBy(1h));
    }

private Q_SLOTS:
    void init()
    {
        m_server = new FakeMisskeyServer(this);
        QVERIFY(m_server->start());
        m_server->serveDefaultFixtures();
        m_network = new QNetworkAccessManager(this);
    }

    void cleanup()
    {
        delete m_network;
        delete m_server;
    }

    void meIsABearerJSONPost()
    {
        const auto result = awaitTask(client().me());
        QCOMPARE(result->value().handle(), QStringLiteral("@alice"));
        const RecordedRequest request = lastRequest();
        QCOMPARE(request.method, QByteArrayLiteral("POST"));
        QCOMPARE(request.path, QStringLiteral("/api/i"));
        QCOMPARE(request.header("Content-Type"), QByteArrayLiteral("application/json"));
        QCOMPARE(request.header("Accept"), QByteArrayLiteral("application/json"));
        QCOMPARE(request.header("Authorization"), QByteArrayLiteral("Bearer tok-123"));
        QCOMPARE(request.body, QByteArrayLiteral("{}"));

        // No credentials without a token, absent or empty.
        for (const std::optional<QString> &token : {std::optional<QString>(), std::optional<QString>(QString())}) {
            QVERIFY(awaitTask(client(token).requestData(QStringLiteral("notes/timeline"), json{{"limit", 40}}))->ok());
            QVERIFY(!lastRequest().hasHeader("Authorization"));
            QCOMPARE(lastRequest().body, QByteArrayLiteral(R"({"limit":40})"));
        }
    }

    void tokenTravelsOnlyInTheHeader()
    {
        m_server->setRequiredToken(QStringLiteral("tok-123"));
        QVERIFY(awaitTask(client().createNote(QStringLiteral("hello"), NoteVisibility::public_, std::nullopt, std::nullopt))->ok());
        QVERIFY(!lastRequest().body.contains("tok-123"));
        QVERIFY(!lastRequest().jsonBody().contains("i"));
        m_server->clearRequests();
        QCOMPARE(messageOf(awaitTask(client(QStringLiteral("tok\r\nX-Injected: 1")).me())), invalidResponse);
        QVERIFY(m_server->requests().isEmpty());
    }

    void writeCommands()
    {
        const std::optional<QString> none;
        const QList<std::tuple<QString, NoteVisibility, std::optional<QString>, std::optional<QString>, QByteArray>> notes{
            {QStringLiteral("hello"), NoteVisibility::followers, none, none, R"({"text":"hello","visibility":"followers"})"},
            {QStringLiteral("me too"), NoteVisibility::home, QStringLiteral("9wq6d4u5v6"), none,
             R"({"replyId":"9wq6d4u5v6","text":"me too","visibility":"home"})"},
            {QString(), NoteVisibility::public_, none, QStringLiteral("9wq5yd2f3g"), R"({"renoteId":"9wq5yd2f3g","visibility":"public"})"},
        };
        for (const auto &[text, visibility, replyID, renoteID, expected] : notes) {
            QCOMPARE(awaitTask(client().createNote(text, visibility, replyID, renoteID))->value().id, QStringLiteral("9wq6f6y7z8"));
            QCOMPARE(lastRequest().path, QStringLiteral("/api/notes/create"));
            QCOMPARE(lastRequest().body, expected);
        }

        // A reaction's answer is not read; requestData hands the body back as it came.
        m_server->setEndpointResponse(endpoints::createReaction(), FakeResponse::text("not json", "text/plain"));
        QVERIFY(awaitTask(client().react(QStringLiteral("9wq6b2q3r4"), QStringLiteral("👍")))->ok());
        QCOMPARE(lastRequest().path, QStringLiteral("/api/notes/reactions/create"));
        QVERIFY(lastRequest().jsonBody() == (json{{"noteId", "9wq6b2q3r4"}, {"reaction", "👍"}}));
        m_server->setEndpointResponse(endpoints::deleteNote(), FakeResponse::json(" {\"a\": 1} \n"));
        QCOMPARE(awaitTask(client().requestData(endpoints::deleteNote(), json{{"noteId", "n1"}}))->value(),
                 QByteArrayLiteral(" {\"a\": 1} \n"));
    }

    void serverFailuresBecomeMessages()
    {
        m_server->setEndpointResponse(endpoints::account(),
                                      FakeResponse::fixture(QStringLiteral("error-400-reply-to-pure-renote.json"), 400));
        QCOMPARE(messageOf(awaitTask(client().me())),
                 QStringLiteral("Cannot reply to a pure renote. (CANNOT_REPLY_TO_A_PURE_RENOTE)"));
        m_server->setEndpointResponse(endpoints::account(), FakeResponse::fixture(QStringLiteral("timeline-notes.json")));
        QCOMPARE(messageOf(awaitTask(client().me())), invalidResponse); // not a user
        QCOMPARE(messageOf(awaitTask(client().requestData(QStringLiteral("notes/nowhere"), json::object()))),
                 QStringLiteral("Unknown API endpoint. (UNKNOWN_API_ENDPOINT)"));

        m_server->setRequiredToken(QStringLiteral("the-right-one"));
        QCOMPARE(messageOf(awaitTask(client(std::nullopt).me())), QStringLiteral("Credential required. (CREDENTIAL_REQUIRED)"));
        QCOMPARE(messageOf(awaitTask(client().me())),
                 QStringLiteral("Authentication failed. Please ensure your token is correct. (AUTHENTICATION_FAILED)"));
    }

    void tokenNeverTravelsInClearTextToAnotherHost()
    {
        // Built directly, without the address check of normaliseInstance.
        const QString invalid = QStringLiteral("Enter a valid Misskey instance address.");
        for (const auto &[address, message] : QList<QPair<QString, QString>>{
                 {QStringLiteral("http://misskey.example"), QStringLiteral("Misskey instances must use HTTPS unless they run on this Mac.")},
                 {QStringLiteral("file:///etc"), invalid},
                 {QStringLiteral("https:"), invalid}}) {
            const MisskeyAPI direct(QUrl(address), QStringLiteral("tok-123"), m_network, RequestLimits{1s, 1024});
            QCOMPARE(messageOf(awaitTask(direct.me(), 500ms)), message);
        }
    }

    void invalidRequestsSendNothing()
    {
        const QString invalidEndpoint = QStringLiteral("The Misskey API endpoint is invalid.");
        QCOMPARE(messageOf(awaitTask(client().requestData(QStringLiteral("../admin"), json::object()))), invalidEndpoint);
        QCOMPARE(messageOf(awaitTask(client().request<MisskeyUser>(QString(), json::object()))), invalidEndpoint);

        json deep = json::object();
        json *level = &deep;
        for (int depth = 0; depth < 1000; ++depth)
            level = &((*level)["x"] = json::object());
        for (const json &parameters : {json::array({1, 2}), json("limit"), json{{"limit", std::nan("")}},
                                       json{{"values", json::array({1.0, HUGE_VAL})}}, json{{"text", std::string("\xff\xfe")}}, deep})
            QCOMPARE(messageOf(awaitTask(client().requestData(QStringLiteral("notes/create"), parameters))), invalidResponse);
        QVERIFY(m_server->requests().isEmpty());
    }

    void cancellation()
    {
        // Before sending: nothing is sent. After completion: nothing changes.
        RequestCancellation early;
        early.cancel();
        QCOMPARE(messageOf(awaitTask(client().me(early))), cancelled);
        QVERIFY(m_server->requests().isEmpty());
        RequestCancellation late;
        const auto done = awaitTask(client().me(late));
        late.cancel();
        QVERIFY(done && done->ok());

        // In flight: one cancellation ends every request sharing it.
        answerNever();
        RequestCancellation cancellation;
        const MisskeyAPI api = client();
        QCoro::Task<APIResult<MisskeyUser>> first = api.me(cancellation);
        QCoro::Task<APIResult<MisskeyUser>> second = api.me(cancellation);
        QVERIFY(QTest::qWaitFor([this] { return m_server->requests().size() == 3; }, 5000));
        cancellation.cancel();
        const auto result = awaitTask(std::move(first));
        QCOMPARE(messageOf(result), cancelled);
        QCOMPARE(result->error().kind(), MisskeyAPIError::Kind::cancelled);
        QCOMPARE(messageOf(awaitTask(std::move(second))), cancelled);
    }

    void losingTheNetworkManagerCancels()
    {
        answerNever();
        QCoro::Task<APIResult<MisskeyUser>> task = client().me();
        QVERIFY(QTest::qWaitFor([this] { return !m_server->requests().isEmpty(); }, 5000));
        delete m_network;
        m_network = nullptr;
        QCOMPARE(messageOf(awaitTask(std::move(task))), cancelled);
        QCOMPARE(messageOf(awaitTask(client().me())), cancelled);
    }

    void callsOutliveTheirClientAndRunSideBySide()
    {
        QCoro::Task<APIResult<MisskeyUser>> account = [this] { return client().me(); }();
        QCoro::Task<APIResult<QList<MisskeyNote>>> timeline =
            client().request<QList<MisskeyNote>>(endpoint(TimelineKind::home), json{{"limit", 40}});
        QVERIFY(awaitTask(std::move(timeline))->ok());
        QVERIFY(awaitTask(std::move(account))->ok());
        QCOMPARE(m_server->requests().size(), 2);

        // The manager deletes each reply once it has finished, possibly before the call has resumed.
        m_network->setAutoDeleteReplies(true);
        QCOMPARE(awaitTask(client().me())->value().handle(), QStringLiteral("@alice"));
    }

    void failsWithOneMessage_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<qint64>("timeoutMs");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<QString>("message");
        const auto body = [](const char *name, const QByteArray &bytes) {
            QTest::newRow(name) << FakeResponse::json(bytes) << qint64(500) << qint64(256 * 1024) << invalidResponse;
        };
        body("malformed JSON", test::readFixture(QStringLiteral("misskey/malformed-note-truncated.txt")));
        body("HTML", "<html><body>Welcome to nginx!</body></html>");
        body("empty", "");
        body("wrong types", R"({"id":42,"username":["alice"]})");
        body("null", "null");
        body("invalid UTF-8", "{\"id\":\"u\",\"username\":\"\xc3\x28\"}");
        body("NUL bytes", QByteArray("{\"id\":\"u\",\0\"username\":\"a\"}", 27));
        body("deep nesting", QByteArray(100000, '[') + QByteArray(100000, ']'));
        body("65 levels", QByteArray(65, '[') + QByteArray(65, ']'));
        body("over the size limit", longTimeline(200));

        const FakeResponse timeline = FakeResponse::json(longTimeline(200));
        QTest::newRow("chunked over the limit") << timeline.withBehaviour(FakeBehaviour::chunked) << qint64(500)
                                                << qint64(256 * 1024) << invalidResponse;
        // Refused as soon as the bytes are read, not when the body ends or a progress report is due.
        QTest::newRow("chunked, never ends") << timeline.withBehaviour(FakeBehaviour::chunkedStall) << qint64(3600000)
                                             << qint64(256 * 1024) << invalidResponse;
        // Megabytes of brackets are refused by the nesting check, not after building a container each.
        QTest::newRow("megabytes of brackets")
            << FakeResponse::json(QByteArray(4 * 1024 * 1024 - 1, '[')).withBehaviour(FakeBehaviour::chunked) << qint64(20000)
            << qint64(32 * 1024 * 1024) << invalidResponse;
        // The declared length is a lie far over the limit; the client must not wait for it.
        const FakeResponse trickle = FakeResponse::json("{").withBehaviour(FakeBehaviour::trickleForever);
        QTest::newRow("endless body") << trickle << qint64(3600000) << qint64(1024) << invalidResponse;
        QTest::newRow("huge error page") << FakeResponse::text(QByteArray(1024 * 1024, 'x'), "text/html", 500) << qint64(500)
                                         << qint64(256 * 1024) << invalidResponse;

        QTest::newRow("answer never comes") << FakeResponse::fixture(QStringLiteral("i-alice.json")).delayedBy(1h)
                                            << qint64(500) << qint64(256 * 1024) << timedOut;
        QTest::newRow("body stops halfway")
            << FakeResponse::fixture(QStringLiteral("i-alice.json")).withBehaviour(FakeBehaviour::stallMidBody) << qint64(500)
            << qint64(256 * 1024) << timedOut;
        // Bytes keep arriving, so only a deadline for the whole request can end it.
        QTest::newRow("body trickles forever") << trickle << qint64(500) << qint64(1024 * 1024 * 1024) << timedOut;
    }

    void failsWithOneMessage()
    {
        QFETCH(FakeResponse, response);
        QFETCH(qint64, timeoutMs);
        QFETCH(qint64, maxBytes);
        QFETCH(QString, message);
        serveAccount(response);
        const auto result = awaitTask(client(QStringLiteral("tok-123"), RequestLimits{std::chrono::milliseconds(timeoutMs), maxBytes}).me(), 30s);
        QCOMPARE(messageOf(result), message);
        if (message == timedOut)
            QCOMPARE(result->error().kind(), MisskeyAPIError::Kind::transport);
    }

    void boundedBodiesWithinTheLimitsDecode()
    {
        m_server->setEndpointResponse(QStringLiteral("notes/timeline"),
                                      FakeResponse::json(longTimeline(20)).withBehaviour(FakeBehaviour::chunked));
        const auto chunked = awaitTask(client().request<QList<MisskeyNote>>(QStringLiteral("notes/timeline"), json::object()));
        QCOMPARE(chunked->value().size(), 20);

        m_server->setEndpointResponse(QStringLiteral("notes/timeline"), FakeResponse::json(longTimeline(400)));
        const auto large = awaitTask(client(QStringLiteral("tok-123"), RequestLimits{10s, 32 * 1024 * 1024})
                                         .request<QList<MisskeyNote>>(QStringLiteral("notes/timeline"), json{{"limit", 40}}));
        QCOMPARE(large->value().size(), 400);

        serveAccount(FakeResponse::fixture(QStringLiteral("i-alice.json")).delayedBy(50ms));
        QVERIFY(awaitTask(client().me())->ok());
    }

    void brokenConnections_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<MisskeyAPIError::Kind>("kind");
        // Whatever Qt makes of a broken answer before the connection closes, it is one clean failure.
        const auto raw = [](const QByteArray &bytes) { return FakeResponse::json(bytes).withBehaviour(FakeBehaviour::rawBytes); };
        QTest::newRow("closed without answer") << FakeResponse::closing() << MisskeyAPIError::Kind::transport;
        QTest::newRow("garbage") << raw("SSH-2.0-OpenSSH_9.2\r\n") << MisskeyAPIError::Kind::transport;
        QTest::newRow("bad status line") << raw("HTTP/1.1 abc Nope\r\nContent-Length: 2\r\n\r\n{}") << MisskeyAPIError::Kind::transport;
        QTest::newRow("short body then close") << raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"id\"")
                                               << MisskeyAPIError::Kind::transport;
        QTest::newRow("bad chunk") << raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n")
                                   << MisskeyAPIError::Kind::invalidResponse;
    }

    void brokenConnections()
    {
        QFETCH(FakeResponse, response);
        QFETCH(MisskeyAPIError::Kind, kind);
        serveAccount(response);
        const auto result = awaitTask(client().me());
        QVERIFY(result && !result->ok());
        QCOMPARE(result->error().kind(), kind);
        QVERIFY(!result->error().errorDescription().isEmpty());
        if (response.behaviour == FakeBehaviour::closeConnection)
            QCOMPARE(result->error().networkError(), QNetworkReply::RemoteHostClosedError);
    }

    void nothingListening()
    {
        const QUrl address = m_server->url();
        delete m_server;
        m_server = nullptr;
        const auto result = awaitTask(MisskeyAPI(address, std::nullopt, m_network, RequestLimits{5s, 1024}).me());
        QCOMPARE(result->error().kind(), MisskeyAPIError::Kind::transport);
        QCOMPARE(result->error().networkError(), QNetworkReply::ConnectionRefusedError);
    }

    void redirects()
    {
        // To another host: not followed, so the token never reaches it.
        FakeMisskeyServer elsewhere;
        QVERIFY(elsewhere.start());
        elsewhere.serveDefaultFixtures();
        QUrl target = elsewhere.url();
        target.setHost(QStringLiteral("localhost"));
        target.setPath(QStringLiteral("/api/i"));
        serveAccount(FakeResponse::redirect(target, 307));
        QCOMPARE(messageOf(awaitTask(client().me())), QStringLiteral("Misskey returned HTTP 307: No response body"));
        QVERIFY(elsewhere.requests().isEmpty());

        // Within the instance: followed with the same body.
        m_server->clearRequests();
        serveAccount(FakeResponse::redirect(m_server->url().resolved(QUrl(QStringLiteral("/api/i-moved"))), 307));
        m_server->setEndpointResponse(QStringLiteral("i-moved"), FakeResponse::fixture(QStringLiteral("i-alice.json")));
        QVERIFY(awaitTask(client().me())->ok());
        QCOMPARE(m_server->requests().size(), 2);
        QCOMPARE(m_server->requests().at(1).body, QByteArrayLiteral("{}"));

        // A loop ends.
        serveAccount(FakeResponse::redirect(m_server->url().resolved(QUrl(QStringLiteral("/api/i"))), 307));
        const QString loop = messageOf(awaitTask(client(QStringLiteral("tok-123"), RequestLimits{10s, 1024}).me()));
        QVERIFY2(loop.startsWith(QStringLiteral("Misskey returned HTTP 307")), qPrintable(loop));
    }
};

QTEST_GUILESS_MAIN(MisskeyAPITest)
#include "misskey_api_test.moc"
