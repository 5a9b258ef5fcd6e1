// The fake Misskey server itself: later suites rely on its recording, routing and stream hook.
#include "tests/app/support/fake_misskey_server.h"

#include "tests/app/support/fixtures.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QWebSocket>
#include <QtTest/QTest>

#include <memory>

using namespace quill::test;

namespace {

struct Answer {
    int status = 0;
    QByteArray body;
};

Answer post(QNetworkAccessManager &network, const QUrl &url, const QByteArray &body,
            const QByteArray &authorization = QByteArray())
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization);
    std::unique_ptr<QNetworkReply> reply(network.post(request, body));
    if (!QTest::qWaitFor([&reply] { return reply->isFinished(); }, 10000))
        return Answer{};
    return Answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

} // namespace

class FakeMisskeyServerTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeMisskeyServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_network;

    QUrl at(const QString &path) const
    {
        QUrl url = m_server->url();
        url.setPath(path);
        return url;
    }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<FakeMisskeyServer>();
        QVERIFY(m_server->start());
        QVERIFY(m_server->port() != 0);
        m_network = std::make_unique<QNetworkAccessManager>();
    }

    void cleanup()
    {
        m_network.reset();
        m_server.reset();
    }

    void recordsEveryRequest()
    {
        m_server->serveDefaultFixtures();
        QSignalSpy recorded(m_server.get(), &FakeMisskeyServer::requestRecorded);
        QUrl url = at(QStringLiteral("/api/notes/create"));
        url.setQuery(QStringLiteral("probe=1"));
        const Answer answer = post(*m_network, url, R"({"text":"hi"})", "Bearer abc");
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.body, readFixture(QStringLiteral("misskey/notes-create-response.json")));
        QCOMPARE(recorded.count(), 1);

        const RecordedRequest request = m_server->requests().value(0);
        QCOMPARE(request.method, QByteArrayLiteral("POST"));
        QCOMPARE(request.path, QStringLiteral("/api/notes/create"));
        QCOMPARE(request.query.queryItemValue(QStringLiteral("probe")), QStringLiteral("1"));
        QCOMPARE(request.header("authorization"), QByteArrayLiteral("Bearer abc"));
        QCOMPARE(request.jsonBody()["text"].get<std::string>(), std::string("hi"));
        QCOMPARE(m_server->requestsTo(QStringLiteral("notes/create")).size(), 1);
        QVERIFY(m_server->requestsTo(QStringLiteral("i")).isEmpty());
    }

    void unknownPathsAreMisskeysNotFound()
    {
        const Answer api = post(*m_network, at(QStringLiteral("/api/nowhere")), "{}");
        QCOMPARE(api.status, 404);
        QVERIFY(api.body.contains("UNKNOWN_API_ENDPOINT"));
        QCOMPARE(post(*m_network, at(QStringLiteral("/nowhere")), "{}").status, 404);
    }

    void queuedAnswersComeFirstInOrder()
    {
        m_server->setEndpointResponse(QStringLiteral("miauth/s/check"), FakeResponse::json(R"({"ok":true})"));
        m_server->queueEndpointResponse(QStringLiteral("miauth/s/check"), FakeResponse::json(R"({"ok":false})"));
        m_server->queueEndpointResponse(QStringLiteral("miauth/s/check"), FakeResponse::empty(500));
        const QUrl url = at(QStringLiteral("/api/miauth/s/check"));
        QCOMPARE(post(*m_network, url, "{}").body, QByteArrayLiteral(R"({"ok":false})"));
        QCOMPARE(post(*m_network, url, "{}").status, 500);
        QCOMPARE(post(*m_network, url, "{}").body, QByteArrayLiteral(R"({"ok":true})"));
        QCOMPARE(post(*m_network, url, "{}").body, QByteArrayLiteral(R"({"ok":true})"));
    }

    void requiredTokenGuardsTheAPI()
    {
        m_server->serveDefaultFixtures();
        m_server->setRequiredToken(QStringLiteral("abc"));
        const QUrl url = at(QStringLiteral("/api/i"));
        QCOMPARE(post(*m_network, url, "{}").status, 401);
        QCOMPARE(post(*m_network, url, "{}", "Bearer wrong").status, 401);
        QCOMPARE(post(*m_network, url, "{}", "Bearer abc").status, 200);
        QCOMPARE(m_server->requests().size(), 3);
    }

    void streamingHook()
    {
        QSignalSpy connected(m_server.get(), &FakeMisskeyServer::streamConnected);
        QWebSocket client;
        QSignalSpy received(&client, &QWebSocket::textMessageReceived);
        client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/streaming?i=abc").arg(m_server->port())));
        QVERIFY(connected.wait(10000) || connected.count() == 1);

        FakeStreamConnection *stream = m_server->streamConnections().value(0);
        QVERIFY(stream);
        QCOMPARE(stream->requestURL().path(), QStringLiteral("/streaming"));
        QCOMPARE(QUrlQuery(stream->requestURL()).queryItemValue(QStringLiteral("i")), QStringLiteral("abc"));

        const QString connect = QString::fromUtf8(readFixture(QStringLiteral("misskey/streaming-connect-hometimeline.json")));
        QVERIFY(QTest::qWaitFor([&client] { return client.state() == QAbstractSocket::ConnectedState; }, 10000));
        client.sendTextMessage(connect);
        QVERIFY(QTest::qWaitFor([stream] { return !stream->receivedTexts().isEmpty(); }, 10000));
        QCOMPARE(stream->receivedTexts().first(), connect);

        stream->sendText(QString::fromUtf8(readFixture(QStringLiteral("misskey/streaming-channel-note.json"))));
        QVERIFY(received.wait(10000) || received.count() == 1);

        client.close(QWebSocketProtocol::CloseCodeGoingAway);
        QVERIFY(QTest::qWaitFor([stream] { return stream->clientCloseCode().has_value(); }, 10000));
        QCOMPARE(*stream->clientCloseCode(), QWebSocketProtocol::CloseCodeGoingAway);
    }

    void refusedStreamsCloseAtOnce()
    {
        m_server->setRefuseStreams(true);
        QWebSocket client;
        QSignalSpy disconnected(&client, &QWebSocket::disconnected);
        client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/streaming?i=abc").arg(m_server->port())));
        QVERIFY(disconnected.wait(10000) || disconnected.count() == 1);
        QCOMPARE(client.closeCode(), QWebSocketProtocol::CloseCodeBadOperation);
    }
};

QTEST_GUILESS_MAIN(FakeMisskeyServerTest)
#include "fake_misskey_server_test.moc"
