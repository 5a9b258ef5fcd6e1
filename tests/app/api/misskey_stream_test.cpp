// The streaming client against the fake server's WebSocket: subscription, delivery, the
// reconnection sequence, stopping and switching.
#include "app/api/misskey_stream.h"

#include "tests/app/support/fake_misskey_server.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>
#include <QtTest/QTest>

using namespace quill;
using namespace std::chrono_literals;
using namespace quill::test;
using json = nlohmann::json;

namespace {

const QString token = QStringLiteral("tok+en&=secret");
const QString home = QStringLiteral("homeTimeline");
const QString note = QStringLiteral("note");

json noteBody(const QString &id)
{
    json body = json::parse(readFixture(QStringLiteral("misskey/streaming-channel-note.json")).toStdString())["body"]["body"];
    body["id"] = id.toStdString();
    return body;
}

} // namespace

class MisskeyStreamTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeMisskeyServer> m_server;
    std::unique_ptr<MisskeyStream> m_stream;
    QStringList m_notes;    ///< ids of the notes handed on
    QStringList m_events;   ///< other events handed on
    QStringList m_failures; ///< messages
    QList<std::chrono::milliseconds> m_waits; ///< the reconnection waits the loop asked for

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

    void start(TimelineKind timeline = TimelineKind::home, const QUrl &address = {})
    {
        m_stream->start(address.isEmpty() ? m_server->url() : address, token, timeline,
                        StreamHandlers{[this](const MisskeyNote &received) { m_notes.append(received.id); },
                                       [this](const QString &event) { m_events.append(event); },
                                       [this](const MisskeyAPIError &error) { m_failures.append(error.errorDescription()); }});
    }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<FakeMisskeyServer>();
        QVERIFY(m_server->start());
        m_stream = std::make_unique<MisskeyStream>(fastTimings());
        m_notes.clear();
        m_events.clear();
        m_failures.clear();
        m_waits.clear();
    }

    void cleanup()
    {
        m_stream.reset();
        m_server.reset();
    }

    // Addresses the stream cannot use, and a server that never answers the upgrade.
    void streamingAddressAndSilentHandshake()
    {
        // Plain http becomes ws; the reconnection failures below name that address.
        QCOMPARE(MisskeyStream::streamingURL(QUrl(QStringLiteral("https://misskey.example")), token).value().toString(QUrl::RemoveQuery),
                 QStringLiteral("wss://misskey.example/streaming"));
        // The token would cross the network in clear text: reported once, and the stream does not run.
        start(TimelineKind::home, QUrl(QStringLiteral("http://misskey.example")));
        QCOMPARE(m_failures, QStringList{QStringLiteral("Misskey instances must use HTTPS unless they run on this Mac.")});
        QVERIFY(!m_stream->isRunning());

        QTcpServer silent; // accepts the connection and never answers the upgrade
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        StreamTimings timings = fastTimings();
        timings.handshakeTimeout = 100ms;
        m_stream = std::make_unique<MisskeyStream>(timings);
        start(TimelineKind::home, QUrl(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort())));
        QVERIFY(QTest::qWaitFor([this] { return m_failures.size() == 2; }, 10000));
        QVERIFY2(m_failures.last().startsWith(QStringLiteral("The streaming connection timed out (ws://127.0.0.1:")),
                 qPrintable(m_failures.last()));
    }

    // With its keep-alive pings going, the stream hands on notes in order and the events a bot reads.
    void deliversNotesInOrderAndPassesEventsOn()
    {
        StreamTimings timings = fastTimings();
        timings.keepAliveInterval = 20ms;
        m_stream = std::make_unique<MisskeyStream>(timings);
        QSignalSpy pings(m_stream.get(), &MisskeyStream::keepAlivePingSent);
        start();
        FakeStreamConnection *connection = m_server->subscribedStream();
        QVERIFY(connection);
        const QString main = QStringLiteral("main");
        for (const char *id : {"n1", "n2", "n3"})
            QVERIFY(connection->sendChannelMessage(home, note, noteBody(QLatin1String(id))));
        const json binary{{"type", "channel"}, {"body", {{"id", connection->channelID(home).toStdString()}, {"type", "note"},
                                                         {"body", noteBody(QStringLiteral("n4"))}}}};
        connection->sendBinary(QByteArray::fromStdString(binary.dump()));
        QVERIFY(connection->sendChannelMessage(main, QStringLiteral("mention"), noteBody(QStringLiteral("m1"))));
        QVERIFY(connection->sendChannelMessage(main, QStringLiteral("unreadNotification"), json::object())); // not passed on
        QVERIFY(connection->sendChannelMessage(main, QStringLiteral("notification"), json::object()));
        QVERIFY(connection->sendChannelMessage(home, note, nullptr));
        QVERIFY(connection->sendChannelMessage(home, QStringLiteral("noteUpdated"), json::object()));
        connection->sendText(QStringLiteral(R"({"type":"emojiAdded","body":{"type":"note"}})"));
        connection->sendText(QStringLiteral("[1,2]"));
        QVERIFY(connection->sendChannelMessage(main, QStringLiteral("reply"), noteBody(QStringLiteral("r1"))));

        QVERIFY(QTest::qWaitFor([this] { return m_events.size() == 5; }, 10000));
        QCOMPARE(m_notes.join(u' '), QStringLiteral("n1 n2 n3 n4"));
        QCOMPARE(m_events.join(u' '), QStringLiteral("mention notification note noteUpdated reply"));
        QVERIFY(QTest::qWaitFor([&pings] { return pings.count() >= 3; }, 10000));
        QVERIFY(m_failures.isEmpty());
    }

    void closingServerProducesTheDelaySequence()
    {
        m_server->setRefuseStreams(true);
        start();
        QVERIFY(QTest::qWaitFor([this] { return m_waits.size() >= 7; }, 20000));
        m_stream->stop();
        QCOMPARE(m_waits.mid(0, 7), (QList<std::chrono::milliseconds>{2s, 4s, 8s, 16s, 30s, 30s, 30s}));
        // One failure report before each wait, and the address in it without the token.
        QCOMPARE(m_failures.size(), m_waits.size());
        const QString address = m_server->url().toString().replace(QStringLiteral("http:"), QStringLiteral("ws:")) + QStringLiteral("/streaming");
        QVERIFY2(m_failures.first().contains(address), qPrintable(m_failures.first()));
        for (const QString &failure : std::as_const(m_failures))
            QVERIFY(!failure.contains(QStringLiteral("secret")) && !failure.contains(QStringLiteral("i=")));
    }

    void handledMessageResetsTheDelay()
    {
        start();
        for (int attempt = 1; attempt <= 3; ++attempt) {
            FakeStreamConnection *connection = m_server->subscribedStream(attempt);
            QVERIFY(connection);
            if (attempt == 3)
                QVERIFY(connection->sendChannelMessage(home, note, noteBody(QStringLiteral("n"))));
            QTest::qWait(50);
            connection->close(QWebSocketProtocol::CloseCodeBadOperation);
            QVERIFY(QTest::qWaitFor([this, attempt] { return m_waits.size() == attempt; }, 10000));
        }
        QCOMPARE(m_waits, (QList<std::chrono::milliseconds>{2s, 4s, 2s}));
        QCOMPARE(m_notes.size(), 1);
    }

    void stopDuringTheWaitEndsSilently()
    {
        // The wait never ends by itself: the test wakes the loop after the stop, as a late timer would.
        std::function<void()> wake;
        StreamTimings timings;
        timings.waiter = [&](std::chrono::milliseconds, QObject *, std::function<void()> then) { wake = std::move(then); };
        m_stream = std::make_unique<MisskeyStream>(timings);
        m_server->setRefuseStreams(true);
        start();
        QVERIFY(QTest::qWaitFor([&wake] { return bool(wake); }, 10000));
        m_stream->stop();
        wake();
        QTest::qWait(200);
        QCOMPARE(m_failures.size(), 1);
        QCOMPARE(m_server->streamConnections().size(), 1);
        QVERIFY(!m_stream->isRunning());
    }

    // The timeline's channel and main, each with its own lower-case UUID, and the token in the address.
    void subscribesAndSwitchingClosesTheOldSocketNormally()
    {
        start(TimelineKind::social);
        FakeStreamConnection *old = m_server->subscribedStream();
        QVERIFY(old);
        QCOMPARE(old->connectedChannels(), (QStringList{QStringLiteral("hybridTimeline"), QStringLiteral("main")}));
        QCOMPARE(QUrlQuery(old->requestURL()).queryItemValue(QStringLiteral("i"), QUrl::FullyDecoded), token);
        const QString timelineID = old->channelID(QStringLiteral("hybridTimeline"));
        QVERIFY(timelineID != old->channelID(QStringLiteral("main")));
        QVERIFY(!QUuid::fromString(timelineID).isNull() && timelineID == timelineID.toLower());
        start(TimelineKind::local);
        QVERIFY(m_server->subscribedStream(2));
        QCOMPARE(m_server->subscribedStream(2)->connectedChannels(), (QStringList{QStringLiteral("localTimeline"), QStringLiteral("main")}));
        QVERIFY(QTest::qWaitFor([old] { return old->clientCloseCode().has_value(); }, 10000));
        QCOMPARE(*old->clientCloseCode(), QWebSocketProtocol::CloseCodeNormal);
        QTest::qWait(100); // the old loop says nothing about its socket going away
        QVERIFY(m_failures.isEmpty() && m_waits.isEmpty());
    }

    // A frame that is not JSON, then a note that does not decode: each closes the socket and reconnects once.
    void untrustworthyMessageReconnectsOnce()
    {
        start();
        for (qsizetype count = 1; count <= 2; ++count) {
            FakeStreamConnection *connection = m_server->subscribedStream(count);
            QVERIFY(connection);
            if (count == 1)
                connection->sendText(QStringLiteral(R"({"type":"channel","body":{"type":"note","body":{"id":)"));
            else
                QVERIFY(connection->sendChannelMessage(home, note, json{{"id", "x"}}));
            QVERIFY(m_server->subscribedStream(count + 1));
            QVERIFY(QTest::qWaitFor([connection] { return connection->clientCloseCode().has_value(); }, 10000));
            QCOMPARE(*connection->clientCloseCode(), QWebSocketProtocol::CloseCodeGoingAway);
            QTest::qWait(100);
            QCOMPARE(m_failures, QStringList(count, QStringLiteral("The Misskey server returned an invalid response.")));
            QCOMPARE(m_server->streamConnections().size(), count + 1);
        }
        QVERIFY(m_notes.isEmpty());
    }
};

QTEST_GUILESS_MAIN(MisskeyStreamTest)
#include "misskey_stream_test.moc"
