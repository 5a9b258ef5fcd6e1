#include "tests/app/support/fake_misskey_server.h"

#include "tests/app/support/fixtures.h"

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QTcpSocket>
#include <QTimer>

namespace quill::test {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return QByteArrayLiteral("OK");
    case 204: return QByteArrayLiteral("No Content");
    case 301: return QByteArrayLiteral("Moved Permanently");
    case 302: return QByteArrayLiteral("Found");
    case 307: return QByteArrayLiteral("Temporary Redirect");
    case 400: return QByteArrayLiteral("Bad Request");
    case 401: return QByteArrayLiteral("Unauthorized");
    case 403: return QByteArrayLiteral("Forbidden");
    case 404: return QByteArrayLiteral("Not Found");
    case 429: return QByteArrayLiteral("Too Many Requests");
    case 500: return QByteArrayLiteral("Internal Server Error");
    case 502: return QByteArrayLiteral("Bad Gateway");
    case 503: return QByteArrayLiteral("Service Unavailable");
    default: return QByteArrayLiteral("Unknown");
    }
}

// Without a length the body is announced as chunked.
void writeHead(QTcpSocket &socket, const FakeResponse &response, std::optional<qint64> contentLength)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (contentLength)
        head += "Content-Length: " + QByteArray::number(*contentLength) + "\r\n\r\n";
    else
        head += "Transfer-Encoding: chunked\r\n\r\n";
    socket.write(head);
}

void writeChunked(QTcpSocket &socket, const QByteArray &body, bool finish)
{
    constexpr qsizetype chunkSize = 16 * 1024;
    for (qsizetype offset = 0; offset < body.size(); offset += chunkSize) {
        const QByteArray chunk = body.mid(offset, chunkSize);
        socket.write(QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n");
    }
    if (finish)
        socket.write("0\r\n\r\n");
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
    case FakeBehaviour::stallMidBody: {
        const qint64 announced = std::max<qint64>(response.body.size(), 2);
        writeHead(socket, response, announced);
        socket.write(response.body.left(response.body.size() / 2));
        break;
    }
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
        writeChunked(socket, response.body, response.behaviour == FakeBehaviour::chunked);
        break;
    }
}

QByteArray methodName(QHttpServerRequest::Method method)
{
    const char *key = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method));
    return key ? QByteArray(key).toUpper() : QByteArrayLiteral("UNKNOWN");
}

RecordedRequest record(const QHttpServerRequest &request)
{
    return RecordedRequest{methodName(request.method()), request.url().path(), request.query(), request.headers(),
                           request.body()};
}

const QString apiPrefix = QStringLiteral("/api/");

FakeResponse unauthorised(const QString &fixture)
{
    FakeResponse response = FakeResponse::fixture(fixture, 401);
    response.headers.append({QByteArrayLiteral("WWW-Authenticate"),
                             QByteArrayLiteral(R"(Bearer realm="Misskey", error="invalid_token")")});
    return response;
}

} // namespace

bool RecordedRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return QByteArray();
}

nlohmann::json RecordedRequest::jsonBody() const
{
    return nlohmann::json::parse(body.cbegin(), body.cend(), nullptr, false);
}

FakeResponse FakeResponse::json(const QByteArray &body, int status)
{
    return text(body, QByteArrayLiteral("application/json; charset=utf-8"), status);
}

FakeResponse FakeResponse::fixture(const QString &name, int status)
{
    return json(readFixture(QStringLiteral("misskey/") + name), status);
}

FakeResponse FakeResponse::text(const QByteArray &body, const QByteArray &contentType, int status)
{
    FakeResponse response;
    response.status = status;
    response.body = body;
    response.headers = {{QByteArrayLiteral("Content-Type"), contentType}};
    return response;
}

FakeResponse FakeResponse::empty(int status)
{
    FakeResponse response;
    response.status = status;
    return response;
}

FakeResponse FakeResponse::redirect(const QUrl &location, int status)
{
    FakeResponse response;
    response.status = status;
    response.headers = {{QByteArrayLiteral("Location"), location.toEncoded()}};
    return response;
}

FakeResponse FakeResponse::closing()
{
    return FakeResponse().withBehaviour(FakeBehaviour::closeConnection);
}

FakeResponse FakeResponse::delayedBy(std::chrono::milliseconds wait) const
{
    FakeResponse response = *this;
    response.delay = wait;
    return response;
}

FakeResponse FakeResponse::withBehaviour(FakeBehaviour how) const
{
    FakeResponse response = *this;
    response.behaviour = how;
    return response;
}

FakeStreamConnection::FakeStreamConnection(std::unique_ptr<QWebSocket> socket, QObject *parent)
    : QObject(parent), m_socket(std::move(socket)), m_requestURL(m_socket->requestUrl())
{
    connect(m_socket.get(), &QWebSocket::textMessageReceived, this, [this](const QString &text) {
        m_receivedTexts.append(text);
        handleClientMessage(text);
        Q_EMIT textReceived(text);
    });
    connect(m_socket.get(), &QWebSocket::pong, this, [this] { ++m_pongCount; });
    connect(m_socket.get(), &QWebSocket::disconnected, this, [this] {
        m_clientCloseCode = m_socket->closeCode();
        Q_EMIT disconnected();
    });
}

FakeStreamConnection::~FakeStreamConnection()
{
    m_socket->disconnect(this);
}

// Misskey's channel bookkeeping: {"type":"connect","body":{"channel","id","params"}} and
// {"type":"disconnect","body":{"id"}}; anything else is only recorded.
void FakeStreamConnection::handleClientMessage(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const nlohmann::json message = nlohmann::json::parse(bytes.cbegin(), bytes.cend(), nullptr, false);
    if (!message.is_object() || !message.contains("type") || !message.contains("body") || !message["body"].is_object())
        return;
    const nlohmann::json &body = message["body"];
    const auto textOf = [&body](const char *key) {
        return body.contains(key) && body[key].is_string() ? QString::fromStdString(body[key].get<std::string>()) : QString();
    };
    const QString id = textOf("id");
    if (id.isEmpty())
        return;
    if (message["type"] == "connect") {
        const QString channel = textOf("channel");
        m_channels.append({id, channel});
        Q_EMIT channelConnected(channel, id);
    } else if (message["type"] == "disconnect") {
        m_channels.removeIf([&id](const QPair<QString, QString> &entry) { return entry.first == id; });
    }
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
    for (const auto &[id, name] : m_channels) {
        if (name == channel)
            return id;
    }
    return QString();
}

bool FakeStreamConnection::isConnected() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

void FakeStreamConnection::sendText(const QString &text)
{
    m_socket->sendTextMessage(text);
}

void FakeStreamConnection::sendBinary(const QByteArray &bytes)
{
    m_socket->sendBinaryMessage(bytes);
}

bool FakeStreamConnection::sendChannelMessage(const QString &channel, const QString &type, const nlohmann::json &body)
{
    const QString id = channelID(channel);
    if (id.isEmpty())
        return false;
    const nlohmann::json message = {
        {"type", "channel"},
        {"body", {{"id", id.toStdString()}, {"type", type.toStdString()}, {"body", body}}}};
    sendText(QString::fromStdString(message.dump()));
    return true;
}

void FakeStreamConnection::sendMalformedFrame()
{
    sendText(QStringLiteral(R"({"type":"channel","body":{"type":"note","body":{"id":)"));
}

void FakeStreamConnection::ping()
{
    m_socket->ping();
}

void FakeStreamConnection::close(QWebSocketProtocol::CloseCode code)
{
    m_socket->close(code);
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
    m_port = m_http.listen(QHostAddress::LocalHost, 0);
    return m_port != 0;
}

QUrl FakeMisskeyServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

void FakeMisskeyServer::setResponse(const QString &path, const FakeResponse &response)
{
    m_responses.insert(path, response);
}

void FakeMisskeyServer::setEndpointResponse(const QString &endpoint, const FakeResponse &response)
{
    setResponse(apiPrefix + endpoint, response);
}

void FakeMisskeyServer::queueEndpointResponse(const QString &endpoint, const FakeResponse &response)
{
    m_queuedResponses[apiPrefix + endpoint].enqueue(response);
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

void FakeMisskeyServer::setRequiredToken(const std::optional<QString> &token)
{
    m_requiredToken = token;
}

QList<RecordedRequest> FakeMisskeyServer::requestsTo(const QString &endpoint) const
{
    QList<RecordedRequest> matching;
    for (const RecordedRequest &request : m_requests) {
        if (request.path == apiPrefix + endpoint)
            matching.append(request);
    }
    return matching;
}

QList<FakeStreamConnection *> FakeMisskeyServer::streamConnections() const
{
    QList<FakeStreamConnection *> alive;
    for (const QPointer<FakeStreamConnection> &stream : m_streams) {
        if (stream)
            alive.append(stream.data());
    }
    return alive;
}

FakeResponse FakeMisskeyServer::responseFor(const RecordedRequest &request)
{
    const bool isAPI = request.path.startsWith(apiPrefix);
    if (isAPI && m_requiredToken) {
        // Misskey tells a missing credential from a wrong one; both carry a bearer challenge.
        const QByteArray authorization = request.header(QByteArrayLiteral("Authorization"));
        if (authorization != "Bearer " + m_requiredToken->toUtf8())
            return unauthorised(authorization.isEmpty() ? QStringLiteral("error-401-credential-required.json")
                                                        : QStringLiteral("error-401-authentication-failed.json"));
    }

    auto queued = m_queuedResponses.find(request.path);
    if (queued != m_queuedResponses.end() && !queued->isEmpty())
        return queued->dequeue();
    const auto standing = m_responses.constFind(request.path);
    if (standing != m_responses.constEnd())
        return *standing;
    if (isAPI)
        return FakeResponse::fixture(QStringLiteral("error-404-unknown-endpoint.json"), 404);
    return FakeResponse::text(QByteArrayLiteral("Not Found"), QByteArrayLiteral("text/plain"), 404);
}

void FakeMisskeyServer::handle(const RecordedRequest &request, QTcpSocket *socket)
{
    m_requests.append(request);
    Q_EMIT requestRecorded();

    const FakeResponse response = responseFor(request);
    // The socket may be gone by the time a delayed answer is due (the client gave up).
    const QPointer<QTcpSocket> target(socket);
    auto act = [target, response] {
        if (target)
            deliver(*target, response);
    };
    // Even an immediate answer leaves the server's request handler first.
    QTimer::singleShot(response.delay, socket, act);
}

void FakeMisskeyServer::acceptStreams()
{
    while (m_http.hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_http.nextPendingWebSocketConnection();
        if (!socket)
            break;
        auto *connection = new FakeStreamConnection(std::move(socket), this);
        m_streams.append(connection);
        const bool tokenAccepted =
            !m_requiredToken ||
            QUrlQuery(connection->requestURL()).queryItemValue(QStringLiteral("i"), QUrl::FullyDecoded) == *m_requiredToken;
        if (m_refuseStreams || !tokenAccepted) {
            // Close from the event loop, once the handshake has fully settled.
            QTimer::singleShot(0, connection, [connection] { connection->close(QWebSocketProtocol::CloseCodeBadOperation); });
        } else {
            Q_EMIT streamConnected(connection);
        }
    }
}

} // namespace quill::test
