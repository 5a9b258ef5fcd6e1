// A broken or hostile server never crashes the client or holds it past its time-out; every failure
// ends as one message.
#include "app/api/misskey_api.h"

#include "app/api/endpoints.h"
#include "tests/app/support/await_task.h"
#include "tests/app/support/fake_misskey_server.h"
#include "tests/app/support/fixtures.h"

#include <QNetworkAccessManager>
#include <QtTest/QTest>

using namespace quill;
using namespace std::chrono_literals;
using quill::test::awaitTask;
using quill::test::FakeBehaviour;
using quill::test::FakeMisskeyServer;
using quill::test::FakeResponse;
using json = nlohmann::json;

namespace {

const QString invalidResponseMessage = QStringLiteral("The Misskey server returned an invalid response.");
const QString timedOutMessage = QStringLiteral("The request timed out.");

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
    QByteArray body = "[";
    for (int index = 0; index < count; ++index) {
        if (index > 0)
            body += ',';
        body += note;
    }
    return body + ']';
}

} // namespace

class HostileServerTest : public QObject {
    Q_OBJECT

private:
    FakeMisskeyServer *m_server = nullptr;
    QNetworkAccessManager *m_network = nullptr;

    // A short time-out and a small size limit, so that misbehaviour shows quickly.
    MisskeyAPI client(RequestLimits limits = RequestLimits{500ms, 256 * 1024}) const
    {
        return MisskeyAPI(m_server->url(), QStringLiteral("secret-token"), m_network, limits);
    }

    void serveAccount(const FakeResponse &response) { m_server->setEndpointResponse(endpoints::account(), response); }

private Q_SLOTS:
    void init()
    {
        m_server = new FakeMisskeyServer(this);
        QVERIFY(m_server->start());
        m_network = new QNetworkAccessManager(this);
    }

    void cleanup()
    {
        delete m_network;
        delete m_server;
    }

    void unusableSuccessBodies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("malformed JSON") << test::readFixture(QStringLiteral("misskey/malformed-note-truncated.txt"));
        QTest::newRow("HTML") << QByteArray("<html><body>Welcome to nginx!</body></html>");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("wrong types") << QByteArray(R"({"id":42,"username":["alice"]})");
        QTest::newRow("null") << QByteArray("null");
        QTest::newRow("invalid UTF-8") << QByteArray("{\"id\":\"u\",\"username\":\"\xc3\x28\"}");
        QTest::newRow("NUL bytes") << QByteArray("{\"id\":\"u\",\0\"username\":\"a\"}", 27);
        QTest::newRow("deep nesting") << (QByteArray(100000, '[') + QByteArray(100000, ']'));
        QTest::newRow("65 levels") << (QByteArray(65, '[') + QByteArray(65, ']'));
    }

    void unusableSuccessBodies()
    {
        QFETCH(QByteArray, body);
        serveAccount(FakeResponse::json(body));
        QCOMPARE(messageOf(awaitTask(client().me())), invalidResponseMessage);
    }

    void bodyOverTheLimitIsRefused()
    {
        serveAccount(FakeResponse::json(longTimeline(200)));
        QCOMPARE(messageOf(awaitTask(client().me())), invalidResponseMessage);
    }

    void chunkedBodyIsBoundedWithoutADeclaredLength()
    {
        const QByteArray timeline = longTimeline(200);
        QVERIFY(timeline.size() > 256 * 1024);
        serveAccount(FakeResponse::json(timeline).withBehaviour(FakeBehaviour::chunked));
        QCOMPARE(messageOf(awaitTask(client().me())), invalidResponseMessage);
        // Refused as soon as the bytes are read, not when the body ends or a progress report is due.
        serveAccount(FakeResponse::json(timeline).withBehaviour(FakeBehaviour::chunkedStall));
        QCOMPARE(messageOf(awaitTask(client(RequestLimits{1h, 256 * 1024}).me(), 5s)), invalidResponseMessage);

        m_server->setEndpointResponse(QStringLiteral("notes/timeline"),
                                      FakeResponse::json(longTimeline(20)).withBehaviour(FakeBehaviour::chunked));
        const auto within = awaitTask(client().request<QList<MisskeyNote>>(QStringLiteral("notes/timeline"), json::object()));
        QVERIFY(within && within->ok());
        QCOMPARE(within->value().size(), 20);
    }

    void hostileBracketsFailFast()
    {
        // Megabytes of brackets are refused by the nesting check, not after building a container each.
        serveAccount(FakeResponse::json(QByteArray(4 * 1024 * 1024 - 1, '[')).withBehaviour(FakeBehaviour::chunked));
        QCOMPARE(messageOf(awaitTask(client(RequestLimits{20s, 32 * 1024 * 1024}).me(), 25s)), invalidResponseMessage);
    }

    void endlessBodyIsRefusedAtTheLimit()
    {
        // The declared length is a lie far over the limit; the client must not wait for it.
        serveAccount(FakeResponse::json("{").withBehaviour(FakeBehaviour::trickleForever));
        const auto result = awaitTask(client(RequestLimits{1h, 1024}).me(), 30s);
        QCOMPARE(messageOf(result), invalidResponseMessage);
    }

    void largeBodyWithinTheLimitDecodes()
    {
        m_server->setEndpointResponse(QStringLiteral("notes/timeline"), FakeResponse::json(longTimeline(400)));
        const auto result = awaitTask(client(RequestLimits{10s, 32 * 1024 * 1024})
                                          .request<QList<MisskeyNote>>(QStringLiteral("notes/timeline"), json{{"limit", 40}}));
        QVERIFY(result && result->ok());
        QCOMPARE(result->value().size(), 400);
    }

    void hugeErrorPageStaysBounded()
    {
        serveAccount(FakeResponse::text(QByteArray(1024 * 1024, 'x'), "text/html", 500));
        QCOMPARE(messageOf(awaitTask(client().me())), invalidResponseMessage);
    }

    void slowAnswerWithinTheTimeOut()
    {
        serveAccount(FakeResponse::fixture(QStringLiteral("i-alice.json")).delayedBy(50ms));
        const auto result = awaitTask(client(RequestLimits{10s, 1024 * 1024}).me());
        QVERIFY(result && result->ok());
    }

    void answerThatNeverComes()
    {
        serveAccount(FakeResponse::fixture(QStringLiteral("i-alice.json")).delayedBy(1h));
        const auto result = awaitTask(client().me());
        QCOMPARE(messageOf(result), timedOutMessage);
        QCOMPARE(result->error().kind(), MisskeyAPIError::Kind::transport);
    }

    void bodyThatStopsHalfway()
    {
        serveAccount(FakeResponse::fixture(QStringLiteral("i-alice.json")).withBehaviour(FakeBehaviour::stallMidBody));
        QCOMPARE(messageOf(awaitTask(client().me())), timedOutMessage);
    }

    void bodyThatTricklesForever()
    {
        // Bytes keep arriving, so only a deadline for the whole request can end it.
        serveAccount(FakeResponse::json("{").withBehaviour(FakeBehaviour::trickleForever));
        QCOMPARE(messageOf(awaitTask(client(RequestLimits{500ms, 1024 * 1024 * 1024}).me())), timedOutMessage);
    }

    void connectionClosedWithoutAnswer()
    {
        serveAccount(FakeResponse::closing());
        const auto result = awaitTask(client().me());
        QVERIFY(result && !result->ok());
        QCOMPARE(result->error().kind(), MisskeyAPIError::Kind::transport);
        QCOMPARE(result->error().networkError(), QNetworkReply::RemoteHostClosedError);
        QVERIFY(!result->error().errorDescription().isEmpty());
    }

    void responseThatIsNotHTTP_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<MisskeyAPIError::Kind>("kind");
        // Whatever Qt makes of a broken answer before the connection closes, it is one clean failure.
        QTest::newRow("garbage") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << MisskeyAPIError::Kind::transport;
        QTest::newRow("bad status line") << QByteArray("HTTP/1.1 abc Nope\r\nContent-Length: 2\r\n\r\n{}")
                                         << MisskeyAPIError::Kind::transport;
        QTest::newRow("short body then close") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"id\"")
                                               << MisskeyAPIError::Kind::transport;
        QTest::newRow("bad chunk") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n")
                                   << MisskeyAPIError::Kind::invalidResponse;
    }

    void responseThatIsNotHTTP()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(MisskeyAPIError::Kind, kind);
        serveAccount(FakeResponse::json(bytes).withBehaviour(FakeBehaviour::rawBytes));
        const auto result = awaitTask(client().me());
        QVERIFY(result && !result->ok());
        QCOMPARE(result->error().kind(), kind);
        QVERIFY(!result->error().errorDescription().isEmpty());
    }

    void nothingListening()
    {
        const QUrl address = m_server->url();
        delete m_server;
        m_server = nullptr;
        const auto result = awaitTask(MisskeyAPI(address, std::nullopt, m_network, RequestLimits{5s, 1024}).me());
        QVERIFY(result && !result->ok());
        QCOMPARE(result->error().kind(), MisskeyAPIError::Kind::transport);
        QCOMPARE(result->error().networkError(), QNetworkReply::ConnectionRefusedError);
    }

    void redirectToAnotherHostIsNotFollowed()
    {
        FakeMisskeyServer elsewhere;
        QVERIFY(elsewhere.start());
        elsewhere.serveDefaultFixtures();
        QUrl target = elsewhere.url();
        target.setHost(QStringLiteral("localhost"));
        target.setPath(QStringLiteral("/api/i"));
        serveAccount(FakeResponse::redirect(target, 307));

        QCOMPARE(messageOf(awaitTask(client().me())), QStringLiteral("Misskey returned HTTP 307: No response body"));
        // The token never reached the other host.
        QVERIFY(elsewhere.requests().isEmpty());
    }

    void redirectWithinTheInstanceIsFollowed()
    {
        QUrl target = m_server->url();
        target.setPath(QStringLiteral("/api/i-moved"));
        serveAccount(FakeResponse::redirect(target, 307));
        m_server->setEndpointResponse(QStringLiteral("i-moved"), FakeResponse::fixture(QStringLiteral("i-alice.json")));
        const auto result = awaitTask(client().me());
        QVERIFY(result && result->ok());
        QCOMPARE(m_server->requests().size(), 2);
        QCOMPARE(m_server->requests().at(1).body, QByteArrayLiteral("{}"));
    }

    void redirectLoopEnds()
    {
        QUrl target = m_server->url();
        target.setPath(QStringLiteral("/api/i"));
        serveAccount(FakeResponse::redirect(target, 307));
        const auto result = awaitTask(client(RequestLimits{10s, 1024}).me());
        QVERIFY(result && !result->ok());
        QVERIFY(result->error().errorDescription().startsWith(QStringLiteral("Misskey returned HTTP 307")));
    }
};

QTEST_GUILESS_MAIN(HostileServerTest)
#include "hostile_server_test.moc"
