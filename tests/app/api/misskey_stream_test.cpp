// The streaming client against the fake server's WebSocket: subscription, delivery, the
// reconnection sequence, stopping and switching.
#include "app/api/misskey_stream.h"

#include "tests/app/support/fake_misskey_server.h"
#include "tests/app/support/fake_misskey_server.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>
#include <QUrlQuery>
#include <QtTest/QTest>

#include <memory>

using namespace quill;
using namespace std::chrono_literals;
using namespace quill::test;
using json = nlohmann::json;

namespace {

const QString token = QStringLiteral("tok+en&=secret");

// Everything the handlers received, in order.
struct Received {
    QStringList notes; ///< note ids
    QStringList events;
    QStringList failures; ///< messages
};

json noteBody(const QString &id)
{
    json note = json::parse(test::readFixture(QStringLiteral("misskey/streaming-channel-note.json")).toStdString())["body"]["body"];
    note["id"] = id.toStdString();
    return note;
}

} // namespace

class MisskeyStreamTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeMisskeyServer> m_server;
    std::unique_ptr<MisskeyStream> m_stream;
    Received m_received;
    /// The reconnection waits the loop asked for.
    QList<std::chrono::milliseconds> m_waits;

    // The waits are recorded and then last 10 ms, so the whole sequence runs in moments.
    StreamTimings fastTimings()
    {
        StreamTimings timings;
        timings.waiter = [this](std::chrono::milliseconds delay, QObject *context, std::function<void()> wake) {
            m_waits.append(delay);
            QTimer::singleShot(10ms, context, std::move(wake));
        };
        return timings;
    }

    StreamHandlers handlers()
    {
        return StreamHandlers{[this](const MisskeyNote &note) { m_received.notes.append(note.id); },
                              [this](const QString &event) { m_received.events.append(event); },
                              [this](const MisskeyAPIError &error) { m_received.failures.append(error.errorDescription()); }};
    }

    void start(TimelineKind timeline = TimelineKind::home)
    {
        m_stream->start(m_server->url(), token, timeline, handlers());
    }

    // The newest connection once both of its channels are subscribed.
    FakeStreamConnection *subscribedConnection(qsizetype count = 1)
    {
        const bool ready = QTest::qWaitFor([this, count] {
            const QList<FakeStreamConnection *> streams = m_server->streamConnections();
            return streams.size() >= count && streams.at(count - 1)->connectedChannels().size() == 2;
        }, 10000);
        return ready ? m_server->streamConnections().at(count - 1) : nullptr;
    }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<FakeMisskeyServer>();
        QVERIFY(m_server->start());
        m_stream = std::make_unique<MisskeyStream>(fastTimings());
        m_received = {};
        m_waits.clear();
    }

    void cleanup()
    {
        m_stream.reset();
        m_server.reset();
    }

    void streamingAddress()
    {
        const APIResult<QUrl> local = MisskeyStream::streamingURL(QUrl(QStringLiteral("http://LOCALHOST:3000")), token);
        QVERIFY(local.ok());
        QCOMPARE(local.value().scheme(), QStringLiteral("ws"));
        QCOMPARE(local.value().port(), 3000);
        QCOMPARE(local.value().path(), QStringLiteral("/streaming"));
        QCOMPARE(QUrlQuery(local.value()).queryItemValue(QStringLiteral("i"), QUrl::FullyDecoded), token);
        QCOMPARE(MisskeyStream::displayAddress(local.value()), QStringLiteral("ws://localhost:3000/streaming"));

        const APIResult<QUrl> remote = MisskeyStream::streamingURL(QUrl(QStringLiteral("https://misskey.example")), token);
        QVERIFY(remote.ok());
        QCOMPARE(remote.value().toString(QUrl::RemoveQuery), QStringLiteral("wss://misskey.example/streaming"));

        // The token would cross the network in clear text.
        QCOMPARE(MisskeyStream::streamingURL(QUrl(QStringLiteral("http://misskey.example")), token).error().kind(),
                 MisskeyAPIError::Kind::insecureInstance);
        QCOMPARE(MisskeyStream::streamingURL(QUrl(QStringLiteral("ftp://misskey.example")), token).error().kind(),
                 MisskeyAPIError::Kind::invalidInstance);
        // Starting on such an address reports it once and does not run.
        m_stream->start(QUrl(QStringLiteral("http://misskey.example")), token, TimelineKind::home, handlers());
        QCOMPARE(m_received.failures, QStringList{QStringLiteral("Misskey instances must use HTTPS unless they run on this Mac.")});
        QVERIFY(!m_stream->isRunning());
    }

    void subscribesTheTimelineAndMain()
    {
        start(TimelineKind::social);
        FakeStreamConnection *connection = subscribedConnection();
        QVERIFY(connection);
        QCOMPARE(connection->connectedChannels(), (QStringList{QStringLiteral("hybridTimeline"), QStringLiteral("main")}));
        QCOMPARE(QUrlQuery(connection->requestURL()).queryItemValue(QStringLiteral("i"), QUrl::FullyDecoded), token);

        const QString timelineID = connection->channelID(QStringLiteral("hybridTimeline"));
        QVERIFY(timelineID != connection->channelID(QStringLiteral("main")));
        QVERIFY(!QUuid::fromString(timelineID).isNull() && timelineID == timelineID.toLower());
        QVERIFY(json::parse(connection->receivedTexts().first().toStdString())["body"]["params"] == json::object());
    }

    void deliversNotesInOrderAndPassesEventsOn()
    {
        start();
        FakeStreamConnection *connection = subscribedConnection();
        QVERIFY(connection);
        const QString home = QStringLiteral("homeTimeline");
        const QString main = QStringLiteral("main");
        for (const char *id : {"n1", "n2", "n3"})
            QVERIFY(connection->sendChannelMessage(home, QStringLiteral("note"), noteBody(QLatin1String(id))));
        connection->sendBinary(QByteArray::fromStdString(
            json{{"type", "channel"}, {"body", {{"id", connection->channelID(home).toStdString()}, {"type", "note"}, {"body", noteBody(QStringLiteral("n4"))}}}}.dump()));
        QVERIFY(connection->sendChannelMessage(main, QStringLiteral("mention"), noteBody(QStringLiteral("m1"))));
        QVERIFY(connection->sendChannelMessage(main, QStringLiteral("unreadNotification"), json::object()));
        QVERIFY(connection->sendChannelMessage(main, QStringLiteral("notification"), json::object()));
        QVERIFY(connection->sendChannelMessage(home, QStringLiteral("note"), nullptr));
        QVERIFY(connection->sendChannelMessage(home, QStringLiteral("noteUpdated"), json::object()));
        connection->sendText(QStringLiteral(R"({"type":"emojiAdded","body":{"type":"note"}})"));
        connection->sendText(QStringLiteral("[1,2]"));
        QVERIFY(connection->sendChannelMessage(main, QStringLiteral("reply"), noteBody(QStringLiteral("r1"))));

        QVERIFY(QTest::qWaitFor([this] { return m_received.events.size() == 5; }, 10000));
        QCOMPARE(m_received.notes, (QStringList{QStringLiteral("n1"), QStringLiteral("n2"), QStringLiteral("n3"), QStringLiteral("n4")}));
        QCOMPARE(m_received.events, (QStringList{QStringLiteral("mention"), QStringLiteral("notification"), QStringLiteral("note"),
                                                 QStringLiteral("noteUpdated"), QStringLiteral("reply")}));
        QVERIFY(m_received.failures.isEmpty());
    }

    void closingServerProducesTheDelaySequence()
    {
        m_server->setRefuseStreams(true);
        start();
        QVERIFY(QTest::qWaitFor([this] { return m_waits.size() >= 7; }, 20000));
        m_stream->stop();
        QCOMPARE(m_waits.mid(0, 7), (QList<std::chrono::milliseconds>{2s, 4s, 8s, 16s, 30s, 30s, 30s}));
        // One failure report before each wait, and the address in it without the token.
        QCOMPARE(m_received.failures.size(), m_waits.size());
        const QString address = m_server->url().toString().replace(QStringLiteral("http:"), QStringLiteral("ws:"))
                                + QStringLiteral("/streaming");
        QVERIFY2(m_received.failures.first().contains(address), qPrintable(m_received.failures.first()));
        for (const QString &failure : std::as_const(m_received.failures))
            QVERIFY(!failure.contains(QStringLiteral("secret")) && !failure.contains(QStringLiteral("i=")));
    }

    void handledMessageResetsTheDelay()
    {
        start();
        for (int attempt = 1; attempt <= 3; ++attempt) {
            FakeStreamConnection *connection = subscribedConnection(attempt);
            QVERIFY(connection);
            if (attempt == 3)
                QVERIFY(connection->sendChannelMessage(QStringLiteral("homeTimeline"), QStringLiteral("note"), noteBody(QStringLiteral("n"))));
            QTest::qWait(50);
            connection->close(QWebSocketProtocol::CloseCodeBadOperation);
            QVERIFY(QTest::qWaitFor([this, attempt] { return m_waits.size() == attempt; }, 10000));
        }
        QCOMPARE(m_waits, (QList<std::chrono::milliseconds>{2s, 4s, 2s}));
        QCOMPARE(m_received.notes.size(), 1);
    }

    void stopDuringTheWaitEndsSilently()
    {
        // The wait never ends by itself: the test wakes the loop after the stop, as a late timer would.
        QPointer<QObject> waitingLoop;
        std::function<void()> wake;
        StreamTimings timings;
        timings.waiter = [&](std::chrono::milliseconds, QObject *context, std::function<void()> then) {
            waitingLoop = context;
            wake = std::move(then);
        };
        m_stream = std::make_unique<MisskeyStream>(timings);
        m_server->setRefuseStreams(true);
        start();
        QVERIFY(QTest::qWaitFor([&wake] { return bool(wake); }, 10000));
        m_stream->stop();
        QVERIFY(waitingLoop);
        wake();
        QTest::qWait(200);
        QCOMPARE(m_received.failures.size(), 1);
        QCOMPARE(m_server->streamConnections().size(), 1);
        QVERIFY(!m_stream->isRunning());
    }

    void switchingTimelineClosesTheOldSocketNormally()
    {
        start(TimelineKind::home);
        FakeStreamConnection *old = subscribedConnection();
        QVERIFY(old);
        start(TimelineKind::local);
        FakeStreamConnection *fresh = subscribedConnection(2);
        QVERIFY(fresh);
        QCOMPARE(fresh->connectedChannels(), (QStringList{QStringLiteral("localTimeline"), QStringLiteral("main")}));
        QVERIFY(QTest::qWaitFor([old] { return old->clientCloseCode().has_value(); }, 10000));
        QCOMPARE(*old->clientCloseCode(), QWebSocketProtocol::CloseCodeNormal);
        // The old loop says nothing about its socket going away.
        QTest::qWait(100);
        QVERIFY(m_received.failures.isEmpty());
        QVERIFY(m_waits.isEmpty());
    }

    // A frame that is not JSON, then a note that does not decode: each closes the socket and reconnects once.
    void untrustworthyMessageReconnectsOnce()
    {
        start();
        for (qsizetype count = 1; count <= 2; ++count) {
            FakeStreamConnection *connection = subscribedConnection(count);
            QVERIFY(connection);
            if (count == 1)
                connection->sendMalformedFrame();
            else
                QVERIFY(connection->sendChannelMessage(QStringLiteral("homeTimeline"), QStringLiteral("note"), json{{"id", "x"}}));
            QVERIFY(subscribedConnection(count + 1));
            QVERIFY(QTest::qWaitFor([connection] { return connection->clientCloseCode().has_value(); }, 10000));
            QCOMPARE(*connection->clientCloseCode(), QWebSocketProtocol::CloseCodeGoingAway);
            QTest::qWait(100);
            QCOMPARE(m_received.failures, QStringList(count, QStringLiteral("The Misskey server returned an invalid response.")));
            QCOMPARE(m_server->streamConnections().size(), count + 1);
        }
        QVERIFY(m_received.notes.isEmpty());
    }

    void keepAlivePingsAndServerPings()
    {
        StreamTimings timings = fastTimings();
        timings.keepAliveInterval = 20ms;
        m_stream = std::make_unique<MisskeyStream>(timings);
        QSignalSpy pings(m_stream.get(), &MisskeyStream::keepAlivePingSent);
        start();
        FakeStreamConnection *connection = subscribedConnection();
        QVERIFY(connection);
        QVERIFY(QTest::qWaitFor([&pings] { return pings.count() >= 3; }, 10000));
        connection->ping();
        QVERIFY(QTest::qWaitFor([connection] { return connection->pongCount() == 1; }, 10000));
        QVERIFY(m_received.failures.isEmpty());
    }

    void silentHandshakeTimesOut()
    {
        // Accepts the connection and never answers the upgrade.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        StreamTimings timings = fastTimings();
        timings.handshakeTimeout = 100ms;
        m_stream = std::make_unique<MisskeyStream>(timings);
        m_stream->start(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort())), token, TimelineKind::home,
                        handlers());
        QVERIFY(QTest::qWaitFor([this] { return !m_received.failures.isEmpty(); }, 10000));
        QVERIFY2(m_received.failures.first().startsWith(QStringLiteral("The streaming connection timed out (ws://127.0.0.1:")),
                 qPrintable(m_received.failures.first()));
    }
};

QTEST_GUILESS_MAIN(MisskeyStreamTest)
#include "misskey_stream_test.moc"
