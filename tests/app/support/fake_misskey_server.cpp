#include "tests/app/support/fake_misskey_server.h"

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest/QTest>

namespace quill::test {

namespace {

const QString apiPrefix = QStringLiteral("/api/");

// Without a length the body is announced as chunked. Clients ignore the reason phrase.
void writeHead(QTcpSocket &socket, const FakeResponse &response, std::optional<qint64> contentLength)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Fake\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (contentLength)
        head += "Content-Length: " + QByteArray::number(*contentLength) + "\r\n\r\n";
    else
        head += "Transfer-Encoding: chunked\r\n\r\n";
    socket.write(head);
}

// Writes the response straight to the socket, so that it can also be malformed on purpose.
void deliver(QTcpSocket &socket, const FakeResponse &response)
{
    switch (response.behaviour) {
    case FakeBehaviour::respond:
        writeHead(socket, response, response.body.size());
        socket.write(response.body);
        break;
    case FakeBehaviour::closeConnection:
        socket.disconnectFromHost();
        break;
    case FakeBehaviour::stallMidBody:
        writeHead(socket, response, std::max<qint64>(response.body.size(), 2));
        socket.write(response.body.left(response.body.size() / 2));
        break;
    case FakeBehaviour::trickleForever: {
        writeHead(socket, response, qint64(1) << 30);
        auto *drip = new QTimer(&socket);
        QObject::connect(drip, &QTimer::timeout, &socket, [&socket] { socket.write(" "); });
        drip->start(20);
        break;
    }
    case FakeBehaviour::rawBytes:
        socket.write(response.body);
        socket.disconnectFromHost();
        break;
    case FakeBehaviour::chunked:
    case FakeBehaviour::chunkedStall:
        writeHead(socket, response, std::nullopt);
        for (qsizetype offset = 0; offset < response.body.size(); offset += 16 * 1024) {
            const QByteArray chunk = response.body.mid(offset, 16 * 1024);
            socket.write(QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n");
        }
        if (response.behaviour == FakeBehaviour::chunked)
            socket.write("0\r\n\r\n");
        break;
    }
}

RecordedRequest record(const QHttpServerRequest &request)
{
    const char *method = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(request.method()));
    return RecordedRequest{QByteArray(method ? method : "UNKNOWN").toUpper(), request.url().path(), request.query(),
                           request.headers(), request.body()};
}

} // namespace

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value.isNull() ? QByteArray("") : value;
    return QByteArray();
}

FakeStreamConnection::FakeStreamConnection(std::unique_ptr<QWebSocket> socket, QObject *parent)
    : QObject(parent), m_socket(std::move(socket))
{
    connect(m_socket.get(), &QWebSocket::textMessageReceived, this, &FakeStreamConnection::handleClientMessage);
    connect(m_socket.get(), &QWebSocket::disconnected, this, [this] { m_clientCloseCode = m_socket->closeCode(); });
}

// Misskey's channel bookkeeping for {"type":"connect","body":{"channel","id","params"}}; a connection
// without a params object connects nothing. The client closes a socket rather than disconnect a channel.
void FakeStreamConnection::handleClientMessage(const QString &text)
{
    const nlohmann::json message = nlohmann::json::parse(text.toStdString(), nullptr, false);
    if (!message.is_object() || !message.contains("body") || !message["body"].is_object())
        return;
    const nlohmann::json &body = message["body"];
    const auto textOf = [&body](const char *key) {
        return body.contains(key) && body[key].is_string() ? QString::fromStdString(body[key].get<std::string>()) : QString();
    };
    const QString id = textOf("id");
    if (id.isEmpty())
        return;
    if (message.value("type", nlohmann::json()) == "connect" && body.contains("params") && body["params"].is_object())
        m_channels.append({id, textOf("channel")});
}

QStringList FakeStreamConnection::connectedChannels() const
{
    QStringList names;
    for (const auto &[id, channel] : m_channels)
        names.append(channel);
    return names;
}

QString FakeStreamConnection::channelID(const QString &channel) const
{
    for (const auto &[id, name] : m_channels)
        if (name == channel)
            return id;
    return QString();
}

bool FakeStreamConnection::sendChannelMessage(const QString &channel, const QString &type, const nlohmann::json &body)
{
    const QString id = channelID(channel);
    const nlohmann::json message{{"type", "channel"}, {"body", {{"id", id.toStdString()}, {"type", type.toStdString()}, {"body", body}}}};
    if (!id.isEmpty())
        sendText(QString::fromStdString(message.dump()));
    return !id.isEmpty();
}

FakeMisskeyServer::FakeMisskeyServer(QObject *parent) : QObject(parent)
{
    // No routes: every request reaches this one handler, which records it first.
    m_http.setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        handle(record(request), responder.socket());
    });
    // The HTTP server hands a WebSocket upgrade over only when a route accepts the request, so the
    // streaming path has one; it leaves upgrades alone and answers plain requests like any path.
    m_http.route(QStringLiteral("/streaming"), [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        if (request.value(QByteArrayLiteral("Upgrade")).compare(QByteArrayLiteral("websocket"), Qt::CaseInsensitive) != 0)
            handle(record(request), responder.socket());
    });
    connect(&m_http, &QAbstractHttpServer::newWebSocketConnection, this, &FakeMisskeyServer::acceptStreams);
}

FakeMisskeyServer::~FakeMisskeyServer()
{
    // Stream sockets must go before the HTTP server that accepted them.
    for (const QPointer<FakeStreamConnection> &stream : std::as_const(m_streams))
        delete stream.data();
}

bool FakeMisskeyServer::start()
{
    return (m_port = m_http.listen(QHostAddress::LocalHost, 0)) != 0;
}

void FakeMisskeyServer::serveDefaultFixtures()
{
    setEndpointResponse(QStringLiteral("i"), FakeResponse::fixture(QStringLiteral("i-alice.json")));
    for (const char *timeline : {"notes/timeline", "notes/local-timeline", "notes/hybrid-timeline", "notes/global-timeline"})
        setEndpointResponse(QLatin1String(timeline), FakeResponse::fixture(QStringLiteral("timeline-notes.json")));
    setEndpointResponse(QStringLiteral("notes/create"), FakeResponse::fixture(QStringLiteral("notes-create-response.json")));
    setEndpointResponse(QStringLiteral("notes/reactions/create"), FakeResponse::empty());
    setEndpointResponse(QStringLiteral("notes/delete"), FakeResponse::empty());
}

QList<RecordedRequest> FakeMisskeyServer::requestsTo(const QString &endpoint) const
{
    QList<RecordedRequest> matching;
    for (const RecordedRequest &request : m_requests)
        if (request.path == apiPrefix + endpoint)
            matching.append(request);
    return matching;
}

QList<FakeStreamConnection *> FakeMisskeyServer::streamConnections() const
{
    QList<FakeStreamConnection *> alive;
    for (const QPointer<FakeStreamConnection> &stream : m_streams)
        if (stream)
            alive.append(stream.data());
    return alive;
}

FakeStreamConnection *FakeMisskeyServer::subscribedStream(qsizetype count) const
{
    const auto ready = [this, count] {
        const QList<FakeStreamConnection *> streams = streamConnections();
        return streams.size() >= count && streams.at(count - 1)->connectedChannels().size() == 2;
    };
    return QTest::qWaitFor(ready, 10000) ? streamConnections().at(count - 1) : nullptr;
}

FakeResponse FakeMisskeyServer::responseFor(const RecordedRequest &request)
{
    const bool isAPI = request.path.startsWith(apiPrefix);
    if (isAPI && m_requiredToken) {
        // Misskey tells a missing credential from a wrong one; both carry a bearer challenge.
        const QByteArray authorization = request.header(QByteArrayLiteral("Authorization"));
        if (authorization != "Bearer " + m_requiredToken->toUtf8()) {
            FakeResponse refusal = FakeResponse::fixture(authorization.isEmpty() ? QStringLiteral("error-401-credential-required.json")
                                                                                 : QStringLiteral("error-401-authentication-failed.json"),
                                                         401);
            refusal.headers.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray(R"(Bearer realm="Misskey", error="invalid_token")")));
            return refusal;
        }
    }
    if (QQueue<FakeResponse> &queued = m_queued[request.path]; !queued.isEmpty())
        return queued.dequeue();
    if (m_responses.contains(request.path))
        return m_responses.value(request.path);
    return isAPI ? FakeResponse::fixture(QStringLiteral("error-404-unknown-endpoint.json"), 404)
                 : FakeResponse::text("Not Found", "text/plain", 404);
}

void FakeMisskeyServer::handle(const RecordedRequest &request, QTcpSocket *socket)
{
    m_requests.append(request);
    const FakeResponse response = responseFor(request);
    // The socket may be gone by the time a delayed answer is due (the client gave up). Even an
    // immediate answer leaves the server's request handler first.
    QTimer::singleShot(response.delay, socket, [target = QPointer<QTcpSocket>(socket), response] {
        if (target)
            deliver(*target, response);
    });
}

void FakeMisskeyServer::acceptStreams()
{
    while (m_http.hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_http.nextPendingWebSocketConnection();
        if (!socket)
            break;
        auto *connection = new FakeStreamConnection(std::move(socket), this);
        m_streams.append(connection);
        const QString token = QUrlQuery(connection->requestURL()).queryItemValue(QStringLiteral("i"), QUrl::FullyDecoded);
        // Close from the event loop, once the handshake has fully settled.
        if (m_refuseStreams || (m_requiredToken && token != *m_requiredToken))
            QTimer::singleShot(0, connection, [connection] { connection->close(QWebSocketProtocol::CloseCodeBadOperation); });
    }
}

} // namespace quill::test
