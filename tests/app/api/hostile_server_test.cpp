// A broken or hostile server never crashes the client or holds it past its time-out; every failure
// ends as one message.
#include "app/api/misskey_api.h"

#include "app/api/endpoints.h"
#include "tests/app/support/await_task.h"
#include "tests/app/support/fake_misskey_server.h"

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

const QString invalidResponse = QStringLiteral("The Misskey server returned an invalid response.");
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

class HostileServerTest : public QObject {
    Q_OBJECT

private:
    FakeMisskeyServer *m_server = nullptr;
    QNetworkAccessManager *m_network = nullptr;

    // A short time-out and a small size limit by default, so that misbehaviour shows quickly.
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
        const auto result = awaitTask(client(RequestLimits{std::chrono::milliseconds(timeoutMs), maxBytes}).me(), 30s);
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
        const auto large = awaitTask(client(RequestLimits{10s, 32 * 1024 * 1024})
                                         .request<QList<MisskeyNote>>(QStringLiteral("notes/timeline"), json{{"limit", 40}}));
        QCOMPARE(large->value().size(), 400);

        serveAccount(FakeResponse::fixture(QStringLiteral("i-alice.json")).delayedBy(50ms));
        QVERIFY(awaitTask(client(RequestLimits{10s, 1024 * 1024}).me())->ok());
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
        const QString loop = messageOf(awaitTask(client(RequestLimits{10s, 1024}).me()));
        QVERIFY2(loop.startsWith(QStringLiteral("Misskey returned HTTP 307")), qPrintable(loop));
    }
};

QTEST_GUILESS_MAIN(HostileServerTest)
#include "hostile_server_test.moc"
