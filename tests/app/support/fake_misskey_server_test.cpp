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
    QByteArray challenge; ///< WWW-Authenticate
    bool chunked = false;
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
    return Answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                  reply->rawHeader("WWW-Authenticate"),
                  reply->rawHeader("Transfer-Encoding") == "chunked" && !reply->hasRawHeader("Content-Length")};
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
        const Answer missing = post(*m_network, url, "{}");
        const Answer wrong = post(*m_network, url, "{}", "Bearer wrong");
        QCOMPARE(missing.status, 401);
        QVERIFY(missing.body.contains("CREDENTIAL_REQUIRED"));
        QCOMPARE(wrong.status, 401);
        QVERIFY(wrong.body.contains("AUTHENTICATION_FAILED"));
        QCOMPARE(wrong.challenge, QByteArrayLiteral(R"(Bearer realm="Misskey", error="invalid_token")"));
        QCOMPARE(post(*m_network, url, "{}", "Bearer abc").status, 200);
        QCOMPARE(m_server->requests().size(), 3);
    }

    void chunkedBodies()
    {
        const QByteArray body = QByteArray(40000, 'x');
        m_server->setEndpointResponse(QStringLiteral("big"), FakeResponse::json(body).withBehaviour(FakeBehaviour::chunked));
        const Answer answer = post(*m_network, at(QStringLiteral("/api/big")), "{}");
        QCOMPARE(answer.status, 200);
        QVERIFY(answer.chunked);
        QCOMPARE(answer.body, body);
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

        // Channels by id: connect, message, disconnect.
        QCOMPARE(stream->connectedChannels(), QStringList{QStringLiteral("homeTimeline")});
        const QString id = stream->channelID(QStringLiteral("homeTimeline"));
        QCOMPARE(id, QStringLiteral("0b8f3c2e-6a1d-4f7b-9e2c-5d4a3b2c1d0e"));
        QVERIFY(!stream->sendChannelMessage(QStringLiteral("main"), QStringLiteral("mention"), nlohmann::json::object()));
        QVERIFY(stream->sendChannelMessage(QStringLiteral("homeTimeline"), QStringLiteral("note"), nlohmann::json{{"id", "n"}}));
        QVERIFY(received.wait(10000) || received.count() == 2);
        const nlohmann::json message = nlohmann::json::parse(received.last().first().toString().toStdString());
        QVERIFY(message == (nlohmann::json{{"type", "channel"}, {"body", {{"id", id.toStdString()}, {"type", "note"}, {"body", {{"id", "n"}}}}}}));
        client.sendTextMessage(QStringLiteral(R"({"type":"disconnect","body":{"id":"%1"}})").arg(id));
        QVERIFY(QTest::qWaitFor([stream] { return stream->connectedChannels().isEmpty(); }, 10000));

        stream->sendMalformedFrame();
        QVERIFY(received.wait(10000) || received.count() == 3);
        QVERIFY(nlohmann::json::parse(received.last().first().toString().toStdString(), nullptr, false).is_discarded());
        stream->ping();
        QVERIFY(QTest::qWaitFor([stream] { return stream->pongCount() == 1; }, 10000));

        client.close(QWebSocketProtocol::CloseCodeGoingAway);
        QVERIFY(QTest::qWaitFor([stream] { return stream->clientCloseCode().has_value(); }, 10000));
        QCOMPARE(*stream->clientCloseCode(), QWebSocketProtocol::CloseCodeGoingAway);
    }

    void refusedStreamsCloseAtOnce_data()
    {
        QTest::addColumn<bool>("refuseAll");
        QTest::newRow("refusing server") << true;
        QTest::newRow("wrong token") << false;
    }

    void refusedStreamsCloseAtOnce()
    {
        QFETCH(bool, refuseAll);
        m_server->setRefuseStreams(refuseAll);
        m_server->setRequiredToken(QStringLiteral("the-right-one"));
        QWebSocket client;
        QSignalSpy disconnected(&client, &QWebSocket::disconnected);
        client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/streaming?i=abc").arg(m_server->port())));
        QVERIFY(disconnected.wait(10000) || disconnected.count() == 1);
        QCOMPARE(client.closeCode(), QWebSocketProtocol::CloseCodeBadOperation);
    }
};

QTEST_GUILESS_MAIN(FakeMisskeyServerTest)
#include "fake_misskey_server_test.moc"
