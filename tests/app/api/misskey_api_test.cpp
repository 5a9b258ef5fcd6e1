// The REST client over real HTTP against the fake server: request shape, decoding, error mapping
// and cancellation.
#include "app/api/misskey_api.h"

#include "app/api/endpoints.h"
#include "app/model/timeline_kind.h"
#include "tests/app/support/await_task.h"
#include "tests/app/support/fake_misskey_server.h"

#include <QNetworkAccessManager>
#include <QtTest/QTest>

using namespace quill;
using namespace std::chrono_literals;
using quill::test::awaitTask;
using quill::test::FakeMisskeyServer;
using quill::test::FakeResponse;
using quill::test::RecordedRequest;
using json = nlohmann::json;

namespace {

template <typename T>
QString messageOf(const std::optional<APIResult<T>> &result)
{
    if (!result)
        return QStringLiteral("<did not finish>");
    return result->ok() ? QStringLiteral("<success>") : result->error().errorDescription();
}

} // namespace

class MisskeyAPITest : public QObject {
    Q_OBJECT

private:
    FakeMisskeyServer *m_server = nullptr;
    QNetworkAccessManager *m_network = nullptr;

    MisskeyAPI client(std::optional<QString> token = QStringLiteral("tok-123")) const
    {
        return MisskeyAPI(m_server->url(), std::move(token), m_network, RequestLimits{10s, 1024 * 1024});
    }

    RecordedRequest onlyRequest() const
    {
        if (m_server->requests().size() != 1)
            qWarning() << "expected one request, got" << m_server->requests().size();
        return m_server->requests().value(0);
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
        QVERIFY(result && result->ok());
        QCOMPARE(result->value().handle(), QStringLiteral("@alice"));

        const RecordedRequest request = onlyRequest();
        QCOMPARE(request.method, QByteArrayLiteral("POST"));
        QCOMPARE(request.path, QStringLiteral("/api/i"));
        QCOMPARE(request.header("Content-Type"), QByteArrayLiteral("application/json"));
        QCOMPARE(request.header("Accept"), QByteArrayLiteral("application/json"));
        QCOMPARE(request.header("Authorization"), QByteArrayLiteral("Bearer tok-123"));
        QCOMPARE(request.body, QByteArrayLiteral("{}"));
    }

    void noCredentialsWithoutAToken_data()
    {
        QTest::addColumn<std::optional<QString>>("token");
        QTest::newRow("absent") << std::optional<QString>();
        QTest::newRow("empty") << std::optional<QString>(QString());
    }

    void noCredentialsWithoutAToken()
    {
        QFETCH(std::optional<QString>, token);
        const auto result = awaitTask(client(token).requestData(QStringLiteral("notes/timeline"), json{{"limit", 40}}));
        QVERIFY(result && result->ok());
        const RecordedRequest request = onlyRequest();
        QVERIFY(!request.hasHeader("Authorization"));
        QCOMPARE(request.body, QByteArrayLiteral(R"({"limit":40})"));
    }

    void tokenTravelsOnlyInTheHeader()
    {
        m_server->setRequiredToken(QStringLiteral("tok-123"));
        const auto result = awaitTask(client().createNote(QStringLiteral("hello"), NoteVisibility::public_, std::nullopt,
                                                          std::nullopt));
        QVERIFY(result && result->ok());
        QVERIFY(!onlyRequest().body.contains("tok-123"));
        QVERIFY(!onlyRequest().jsonBody().contains("i"));
    }

    void tokenCannotInjectHeaders()
    {
        const auto result = awaitTask(client(QStringLiteral("tok\r\nX-Injected: 1")).me());
        QCOMPARE(messageOf(result), QStringLiteral("The Misskey server returned an invalid response."));
        QVERIFY(m_server->requests().isEmpty());
    }

    void timelineDecodesNotes()
    {
        const auto result = awaitTask(
            client().request<QList<MisskeyNote>>(endpoint(TimelineKind::social), json{{"limit", 40}}));
        QVERIFY(result && result->ok());
        QCOMPARE(result->value().size(), 4);
        QCOMPARE(result->value().at(2).renote->user.username, QStringLiteral("alice"));
        QCOMPARE(onlyRequest().path, QStringLiteral("/api/notes/hybrid-timeline"));
        QCOMPARE(onlyRequest().body, QByteArrayLiteral(R"({"limit":40})"));
    }

    void createNoteParameters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("visibility");
        QTest::addColumn<std::optional<QString>>("replyID");
        QTest::addColumn<std::optional<QString>>("renoteID");
        QTest::addColumn<QByteArray>("expectedBody");
        QTest::newRow("post") << QStringLiteral("hello") << int(NoteVisibility::followers) << std::optional<QString>()
                              << std::optional<QString>() << QByteArray(R"({"text":"hello","visibility":"followers"})");
        QTest::newRow("reply") << QStringLiteral("me too") << int(NoteVisibility::home)
                               << std::optional<QString>(QStringLiteral("9wq6d4u5v6")) << std::optional<QString>()
                               << QByteArray(R"({"replyId":"9wq6d4u5v6","text":"me too","visibility":"home"})");
        QTest::newRow("renote") << QString() << int(NoteVisibility::public_) << std::optional<QString>()
                                << std::optional<QString>(QStringLiteral("9wq5yd2f3g"))
                                << QByteArray(R"({"renoteId":"9wq5yd2f3g","visibility":"public"})");
    }

    void createNoteParameters()
    {
        QFETCH(QString, text);
        QFETCH(int, visibility);
        QFETCH(std::optional<QString>, replyID);
        QFETCH(std::optional<QString>, renoteID);
        QFETCH(QByteArray, expectedBody);
        const auto result =
            awaitTask(client().createNote(text, NoteVisibility(visibility), replyID, renoteID));
        QVERIFY(result && result->ok());
        QCOMPARE(result->value().id, QStringLiteral("9wq6f6y7z8"));
        QCOMPARE(onlyRequest().path, QStringLiteral("/api/notes/create"));
        QCOMPARE(onlyRequest().body, expectedBody);
    }

    void reactIgnoresTheBody()
    {
        m_server->setEndpointResponse(endpoints::createReaction(), FakeResponse::text("not json", "text/plain"));
        const auto result = awaitTask(client().react(QStringLiteral("9wq6b2q3r4"), QStringLiteral("👍")));
        QVERIFY(result && result->ok());
        QCOMPARE(onlyRequest().path, QStringLiteral("/api/notes/reactions/create"));
        QVERIFY(onlyRequest().jsonBody() == (json{{"noteId", "9wq6b2q3r4"}, {"reaction", "👍"}}));
    }

    void requestDataReturnsTheBodyAsSent()
    {
        m_server->setEndpointResponse(endpoints::deleteNote(), FakeResponse::json(" {\"a\": 1} \n"));
        const auto result = awaitTask(client().requestData(endpoints::deleteNote(), json{{"noteId", "n1"}}));
        QVERIFY(result && result->ok());
        QCOMPARE(result->value(), QByteArrayLiteral(" {\"a\": 1} \n"));
    }

    void failingStatusesBecomeMessages_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("message");
        QTest::newRow("400 with code") << FakeResponse::fixture(QStringLiteral("error-400-reply-to-pure-renote.json"), 400)
                                       << QStringLiteral("Cannot reply to a pure renote. (CANNOT_REPLY_TO_A_PURE_RENOTE)");
        QTest::newRow("502 HTML page")
            << FakeResponse::text("<html><body>Bad Gateway</body></html>\n", "text/html", 502)
            << QStringLiteral("Misskey returned HTTP 502: <html><body>Bad Gateway</body></html>");
        QTest::newRow("200 not a user") << FakeResponse::fixture(QStringLiteral("timeline-notes.json"))
                                        << QStringLiteral("The Misskey server returned an invalid response.");
        QTest::newRow("200 empty") << FakeResponse::empty(200)
                                   << QStringLiteral("The Misskey server returned an invalid response.");
    }

    void failingStatusesBecomeMessages()
    {
        QFETCH(FakeResponse, response);
        QFETCH(QString, message);
        m_server->setEndpointResponse(endpoints::account(), response);
        QCOMPARE(messageOf(awaitTask(client().me())), message);
    }

    void credentialFailuresAreTheServersMessages()
    {
        m_server->setRequiredToken(QStringLiteral("the-right-one"));
        QCOMPARE(messageOf(awaitTask(client(std::nullopt).me())), QStringLiteral("Credential required. (CREDENTIAL_REQUIRED)"));
        QCOMPARE(messageOf(awaitTask(client().me())),
                 QStringLiteral("Authentication failed. Please ensure your token is correct. (AUTHENTICATION_FAILED)"));
    }

    void tokenNeverTravelsInClearTextToAnotherHost_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        QTest::newRow("plain http") << QStringLiteral("http://misskey.example")
                                    << QStringLiteral("Misskey instances must use HTTPS unless they run on this Mac.");
        QTest::newRow("other scheme") << QStringLiteral("file:///etc") << QStringLiteral("Enter a valid Misskey instance address.");
        QTest::newRow("no host") << QStringLiteral("https:") << QStringLiteral("Enter a valid Misskey instance address.");
    }

    void tokenNeverTravelsInClearTextToAnotherHost()
    {
        // Built directly, without the address check of normaliseInstance.
        QFETCH(QString, address);
        QFETCH(QString, message);
        const MisskeyAPI direct(QUrl(address), QStringLiteral("tok-123"), m_network, RequestLimits{1s, 1024});
        QCOMPARE(messageOf(awaitTask(direct.me(), 500ms)), message);
    }

    void unknownEndpointIsTheServersMessage()
    {
        QCOMPARE(messageOf(awaitTask(client().requestData(QStringLiteral("notes/nowhere"), json::object()))),
                 QStringLiteral("Unknown API endpoint. (UNKNOWN_API_ENDPOINT)"));
    }

    void invalidEndpointSendsNothing()
    {
        QCOMPARE(messageOf(awaitTask(client().requestData(QStringLiteral("../admin"), json::object()))),
                 QStringLiteral("The Misskey API endpoint is invalid."));
        QCOMPARE(messageOf(awaitTask(client().request<MisskeyUser>(QString(), json::object()))),
                 QStringLiteral("The Misskey API endpoint is invalid."));
        QVERIFY(m_server->requests().isEmpty());
    }

    void invalidParametersSendNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("array") << QStringLiteral("array");
        QTest::newRow("text") << QStringLiteral("text");
        QTest::newRow("not a number") << QStringLiteral("nan");
        QTest::newRow("infinity inside a list") << QStringLiteral("infinity");
        QTest::newRow("invalid UTF-8") << QStringLiteral("utf8");
        QTest::newRow("too deep") << QStringLiteral("deep");
    }

    void invalidParametersSendNothing()
    {
        QFETCH(QString, name);
        json parameters;
        if (name == u"array") {
            parameters = json::array({1, 2});
        } else if (name == u"text") {
            parameters = "limit";
        } else if (name == u"nan") {
            parameters = json{{"limit", std::nan("")}};
        } else if (name == u"infinity") {
            parameters = json{{"values", json::array({1.0, HUGE_VAL})}};
        } else if (name == u"utf8") {
            parameters = json{{"text", std::string("\xff\xfe")}};
        } else {
            parameters = json::object();
            json *level = &parameters;
            for (int depth = 0; depth < 1000; ++depth)
                level = &((*level)["x"] = json::object());
        }
        QCOMPARE(messageOf(awaitTask(client().requestData(QStringLiteral("notes/create"), parameters))),
                 QStringLiteral("The Misskey server returned an invalid response."));
        QVERIFY(m_server->requests().isEmpty());
    }

    void cancellingAWaitingRequest()
    {
        m_server->setEndpointResponse(endpoints::account(), FakeResponse::fixture(QStringLiteral("i-alice.json")).delayedBy(1h));
        RequestCancellation cancellation;
        QCoro::Task<APIResult<MisskeyUser>> task = client().me(cancellation);
        // Cancel once the request has reached the server, so that it is really in flight.
        QVERIFY(QTest::qWaitFor([this] { return !m_server->requests().isEmpty(); }, 5000));
        cancellation.cancel();
        const auto result = awaitTask(std::move(task));
        QCOMPARE(messageOf(result), QStringLiteral("The request was cancelled."));
        QCOMPARE(result->error().kind(), MisskeyAPIError::Kind::cancelled);
    }

    void cancellingBeforeSendingSendsNothingAndAfterCompletionChangesNothing()
    {
        RequestCancellation early;
        early.cancel();
        QCOMPARE(messageOf(awaitTask(client().me(early))), QStringLiteral("The request was cancelled."));
        QVERIFY(m_server->requests().isEmpty());

        RequestCancellation late;
        const auto result = awaitTask(client().me(late));
        late.cancel();
        QVERIFY(result && result->ok());
    }

    void oneCancellationEndsEveryRequestSharingIt()
    {
        m_server->setEndpointResponse(endpoints::account(), FakeResponse::fixture(QStringLiteral("i-alice.json")).delayedBy(1h));
        RequestCancellation cancellation;
        const MisskeyAPI api = client();
        QCoro::Task<APIResult<MisskeyUser>> first = api.me(cancellation);
        QCoro::Task<APIResult<MisskeyUser>> second = api.me(cancellation);
        QVERIFY(QTest::qWaitFor([this] { return m_server->requests().size() == 2; }, 5000));
        cancellation.cancel();
        QCOMPARE(messageOf(awaitTask(std::move(first))), QStringLiteral("The request was cancelled."));
        QCOMPARE(messageOf(awaitTask(std::move(second))), QStringLiteral("The request was cancelled."));
    }

    void concurrentCallsAreIndependent()
    {
        const MisskeyAPI api = client();
        QCoro::Task<APIResult<MisskeyUser>> account = api.me();
        QCoro::Task<APIResult<QList<MisskeyNote>>> timeline =
            api.request<QList<MisskeyNote>>(endpoint(TimelineKind::home), json{{"limit", 40}});
        const auto notes = awaitTask(std::move(timeline));
        const auto user = awaitTask(std::move(account));
        QVERIFY(user && user->ok());
        QVERIFY(notes && notes->ok());
        QCOMPARE(m_server->requests().size(), 2);
    }

    void callOutlivesTheClientValue()
    {
        QCoro::Task<APIResult<MisskeyUser>> task = [this] { return client().me(); }();
        const auto result = awaitTask(std::move(task));
        QVERIFY(result && result->ok());
    }

    void repliesDeletedByTheManagerAreNotNeeded()
    {
        // The manager deletes each reply once it has finished, possibly before the call has resumed.
        m_network->setAutoDeleteReplies(true);
        const auto result = awaitTask(client().me());
        QVERIFY(result && result->ok());
        QCOMPARE(result->value().handle(), QStringLiteral("@alice"));
    }

    void losingTheNetworkManagerCancels()
    {
        m_server->setEndpointResponse(endpoints::account(), FakeResponse::fixture(QStringLiteral("i-alice.json")).delayedBy(1h));
        QCoro::Task<APIResult<MisskeyUser>> task = client().me();
        QVERIFY(QTest::qWaitFor([this] { return !m_server->requests().isEmpty(); }, 5000));
        delete m_network;
        m_network = nullptr;
        QCOMPARE(messageOf(awaitTask(std::move(task))), QStringLiteral("The request was cancelled."));
        QCOMPARE(messageOf(awaitTask(client().me())), QStringLiteral("The request was cancelled."));
    }
};

QTEST_GUILESS_MAIN(MisskeyAPITest)
#include "misskey_api_test.moc"
