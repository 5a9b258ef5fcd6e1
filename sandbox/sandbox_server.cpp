#include "sandbox/sandbox_server.h"

#include "sandbox/identicon.h"
#include "sandbox/multipart_form.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QSaveFile>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QUuid>

#include <array>
#include <set>

namespace quill::sandbox {

using nlohmann::json;

namespace {

// A request body larger than this is refused before it is parsed (uploads included).
constexpr qsizetype maxBodyBytes = 32 * 1024 * 1024;
// A long-running sandbox drops its oldest chatter beyond this many notes.
constexpr std::size_t maxNotes = 2000;
constexpr std::size_t keptRequests = 500;

struct HttpAnswer {
    int status = 200;
    QByteArray contentType = "application/json; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
};

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    default: return "Unknown";
    }
}

// Writes the answer on the socket once the HTTP server has left its request handler.
void deliver(QTcpSocket *socket, HttpAnswer answer)
{
    const QPointer<QTcpSocket> target(socket);
    QMetaObject::invokeMethod(
        socket,
        [target, answer = std::move(answer)] {
            if (!target)
                return;
            QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonPhrase(answer.status) + "\r\n";
            if (answer.status != 204)
                head += "Content-Type: " + answer.contentType + "\r\n";
            for (const auto &[name, value] : answer.headers)
                head += name + ": " + value + "\r\n";
            head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n\r\n";
            target->write(head + answer.body);
        },
        Qt::QueuedConnection);
}

// Upload form fields arrive as raw bytes; text that is not UTF-8 is written with replacement
// characters rather than failing the whole answer.
std::string dumped(const json &value, int indent = -1)
{
    return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

HttpAnswer jsonAnswer(int status, const json &body)
{
    return HttpAnswer{status, "application/json; charset=utf-8", QByteArray::fromStdString(dumped(body)), {}};
}

HttpAnswer textAnswer(int status, const QByteArray &contentType, const QByteArray &body)
{
    return HttpAnswer{status, contentType, body, {}};
}

QByteArray header(const QHttpServerRequest &request, const QByteArray &name)
{
    for (const auto &[key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QString methodName(QHttpServerRequest::Method method)
{
    const char *key = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method));
    return key ? QString::fromLatin1(key).toUpper() : QStringLiteral("UNKNOWN");
}

std::string bearerToken(const QHttpServerRequest &request)
{
    const QByteArray authorization = header(request, "Authorization");
    if (!authorization.startsWith("Bearer "))
        return {};
    return authorization.mid(7).trimmed().toStdString();
}

QByteArray htmlPage(const QString &title, const QString &text)
{
    return (QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>") + title.toHtmlEscaped()
            + QStringLiteral("</title></head>\n<body><h1>") + title.toHtmlEscaped() + QStringLiteral("</h1><p>")
            + text.toHtmlEscaped() + QStringLiteral("</p></body></html>\n"))
        .toUtf8();
}

// What seeded users say when the sandbox makes its timeline live.
constexpr std::array chatterLines{
    "The ferry is late again.",
    "Fresh bread on the counter, help yourselves.",
    "Gulls: 3, my sandwich: 0.",
    "Low tide at the harbour, the rock pools are out.",
    "Anyone else hearing that foghorn?",
    "Trying a new bot script today.",
    "Lighthouse keeper says hello.",
    "Sunset in twenty minutes, grab a spot on the pier.",
};

} // namespace

SandboxServer::SandboxServer(SandboxOptions options, QObject *parent) : QObject(parent), m_options(std::move(options))
{
    m_http.setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        handleHttp(request, responder.socket());
    });
    // The HTTP server hands over a WebSocket upgrade only when a route accepts the request.
    m_http.route(QStringLiteral("/streaming"), [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        if (header(request, "Upgrade").compare("websocket", Qt::CaseInsensitive) != 0)
            handleHttp(request, responder.socket());
    });
    connect(&m_http, &QAbstractHttpServer::newWebSocketConnection, this, &SandboxServer::acceptStreams);

    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(200);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] {
        if (!saveNow())
            std::fprintf(stderr, "quill-sandbox: %s\n", qPrintable(m_error));
    });
    connect(&m_chatterTimer, &QTimer::timeout, this, &SandboxServer::chatter);
}

SandboxServer::~SandboxServer()
{
    // Stream sockets go before the HTTP server that accepted them.
    for (const auto &client : m_streams)
        client->socket->disconnect(this);
    m_streams.clear();
}

QUrl SandboxServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

bool SandboxServer::start()
{
    if (!loadOrSeed())
        return false;
    // Loopback only: the sandbox speaks plain http and hands out tokens without asking.
    m_port = m_http.listen(QHostAddress::LocalHost, m_options.port);
    if (m_port == 0) {
        m_error = QStringLiteral("Cannot listen on 127.0.0.1:%1 (is the port in use? --port 0 picks a free one).")
                      .arg(m_options.port);
        return false;
    }
    m_api = std::make_unique<SandboxApi>(m_state, url().toString().toStdString());
    m_api->onNoteCreated = [this](const SandboxNote &note) { deliverNote(note); };
    m_api->onMainEvent = [this](const std::string &userId, const std::string &type, const json &body) {
        deliverMainEvent(userId, type, body);
    };
    m_api->onStateChanged = [this] { scheduleSave(); };
    if (!writeKeyFile() || !saveNow())
        return false;
    if (m_options.chatterIntervalMs > 0)
        m_chatterTimer.start(m_options.chatterIntervalMs);
    return true;
}

bool SandboxServer::loadOrSeed()
{
    if (!m_options.statePath.isEmpty() && QFileInfo::exists(m_options.statePath)) {
        QFile file(m_options.statePath);
        if (!file.open(QIODevice::ReadOnly)) {
            m_error = QStringLiteral("Cannot read the state file ") + m_options.statePath + QStringLiteral(": ")
                      + file.errorString();
            return false;
        }
        const QByteArray bytes = file.readAll();
        try {
            m_state = stateFromJson(json::parse(bytes.cbegin(), bytes.cend()));
            return true;
        } catch (const json::exception &error) {
            // A damaged state is left alone for its owner to look at, never overwritten.
            m_error = QStringLiteral("The state file ") + m_options.statePath
                      + QStringLiteral(" is not a usable sandbox state: ") + QString::fromUtf8(error.what());
            return false;
        }
    }
    const std::string token = QUuid::createUuid().toString(QUuid::Id128).toStdString();
    m_state = seededState(token, currentTimeMs());
    return true;
}

bool SandboxServer::writeKeyFile()
{
    const QFileInfo info(m_options.keyFilePath);
    if (!QDir().mkpath(info.absolutePath())) {
        m_error = QStringLiteral("Cannot create the folder of the key file ") + m_options.keyFilePath;
        return false;
    }
    QSaveFile file(m_options.keyFilePath);
    // Only the owner may read the token, as with any API key file.
    const bool written = file.open(QIODevice::WriteOnly)
                         && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
                         && file.write(QByteArray::fromStdString(m_state.sandboxToken) + '\n') > 0 && file.commit();
    if (!written) {
        m_error = QStringLiteral("Cannot write the key file ") + m_options.keyFilePath + QStringLiteral(": ")
                  + file.errorString();
        return false;
    }
    return true;
}

bool SandboxServer::saveNow()
{
    m_saveTimer.stop();
    if (m_options.statePath.isEmpty())
        return true;
    QSaveFile file(m_options.statePath);
    const QByteArray bytes = QByteArray::fromStdString(dumped(stateToJson(m_state), 1));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        m_error = QStringLiteral("Cannot save the state to ") + m_options.statePath + QStringLiteral(": ")
                  + file.errorString();
        return false;
    }
    return true;
}

void SandboxServer::scheduleSave()
{
    if (!m_options.statePath.isEmpty() && !m_saveTimer.isActive())
        m_saveTimer.start();
}

void SandboxServer::record(const QString &method, const QString &path, int status, const QByteArray &body)
{
    // Large bodies are only counted: writing out a deeply nested one later would recurse too far.
    constexpr qsizetype keptBodyBytes = 4096;
    json parsed = body.size() > keptBodyBytes ? json("<" + std::to_string(body.size()) + " bytes>")
                                              : json::parse(body.cbegin(), body.cend(), nullptr, false);
    if (parsed.is_discarded())
        parsed = body.toStdString();
    m_requests.push_back({{"method", method.toStdString()}, {"path", path.toStdString()}, {"status", status},
                          {"body", parsed}});
    if (m_requests.size() > keptRequests)
        m_requests.pop_front();
}

void SandboxServer::handleHttp(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QString path = request.url().path();
    const bool isGet = request.method() == QHttpServerRequest::Method::Get;
    static const QString apiPrefix = QStringLiteral("/api/");
    if (path.startsWith(apiPrefix)) {
        handleApi(request, path.mid(apiPrefix.size()), socket);
        return;
    }
    if (isGet && path.startsWith(QStringLiteral("/miauth/"))) {
        // The browser page of MiAuth: the sandbox grants whatever is asked, at once.
        const QString session = path.mid(8);
        if (session.isEmpty() || session.size() > 256 || session.contains(QLatin1Char('/'))) {
            deliver(socket, textAnswer(404, "text/plain; charset=utf-8", "Not Found"));
            return;
        }
        m_api->approveMiAuth(session.toStdString());
        const QString app = request.query().queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded);
        deliver(socket, textAnswer(200, "text/html; charset=utf-8",
                                   htmlPage(QStringLiteral("Quill Sandbox"),
                                            (app.isEmpty() ? QStringLiteral("The application") : app)
                                                + QStringLiteral(" may now use the sandbox account. You can close this page."))));
        return;
    }
    if (isGet && path.startsWith(QStringLiteral("/files/"))) {
        const auto file = m_state.files.find(path.mid(7).toStdString());
        if (file == m_state.files.end()) {
            deliver(socket, textAnswer(404, "text/plain; charset=utf-8", "Not Found"));
            return;
        }
        deliver(socket, textAnswer(200, QByteArray::fromStdString(file->second.type),
                                   QByteArray::fromBase64(QByteArray::fromStdString(file->second.data))));
        return;
    }
    if (isGet && path.startsWith(QStringLiteral("/identicon/"))) {
        deliver(socket, textAnswer(200, "image/bmp", identiconBitmap(path.mid(11).toUtf8())));
        return;
    }
    // Read-only views for tests and the curious; nothing here can change the state.
    if (isGet && path == QStringLiteral("/sandbox/state")) {
        // Without the credentials: a program that only looks should not learn how to act.
        json view = stateToJson(m_state);
        for (const char *secret : {"sandboxToken", "tokens", "miauthSessions"})
            view.erase(secret);
        deliver(socket, jsonAnswer(200, view));
        return;
    }
    if (isGet && path == QStringLiteral("/sandbox/requests")) {
        deliver(socket, jsonAnswer(200, json(m_requests)));
        return;
    }
    if (isGet && path == QStringLiteral("/")) {
        deliver(socket, textAnswer(200, "text/html; charset=utf-8",
                                   htmlPage(QStringLiteral("Quill Sandbox"),
                                            QStringLiteral("A local Misskey-compatible instance. The API is under /api/, "
                                                           "the streaming API at /streaming."))));
        return;
    }
    deliver(socket, textAnswer(404, "text/plain; charset=utf-8", "Not Found"));
}

void SandboxServer::handleApi(const QHttpServerRequest &request, const QString &endpoint, QTcpSocket *socket)
{
    const QByteArray body = request.body();
    const QString method = methodName(request.method());
    const QString path = request.url().path();
    ApiReply reply;
    if (body.size() > maxBodyBytes) {
        reply = {413, ApiError{413, "PAYLOAD_TOO_LARGE", "The request is too large.", "client", nullptr}.envelope()};
    } else if (endpoint == QStringLiteral("drive/files/create")) {
        const std::optional<UploadedFile> upload = parseMultipartForm(header(request, "Content-Type"), body);
        reply = upload ? m_api->upload(*upload, bearerToken(request))
                       : ApiReply{400, invalidParam("#/required", "must have required property 'file'").envelope()};
    } else {
        // Misskey reads parameters from a JSON body; a GET may come without one.
        json params = body.trimmed().isEmpty() ? json::object() : json::parse(body.cbegin(), body.cend(), nullptr, false);
        if (params.is_discarded())
            reply = {400, invalidParam("#", "the body is not JSON").envelope()};
        else
            reply = m_api->call(endpoint.toStdString(), params, bearerToken(request));
    }
    record(method, path, reply.status, endpoint == QStringLiteral("drive/files/create") ? QByteArray() : body);

    HttpAnswer answer = reply.body ? jsonAnswer(reply.status, *reply.body) : HttpAnswer{reply.status, {}, {}, {}};
    if (reply.status == 401) {
        answer.headers.append(qMakePair(QByteArrayLiteral("WWW-Authenticate"), QByteArrayLiteral(R"(Bearer realm="Misskey", error="invalid_token")")));
    }
    deliver(socket, std::move(answer));
}

void SandboxServer::acceptStreams()
{
    while (m_http.hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_http.nextPendingWebSocketConnection();
        if (!socket)
            break;
        auto client = std::make_unique<StreamClient>();
        const QString token =
            QUrlQuery(socket->requestUrl()).queryItemValue(QStringLiteral("i"), QUrl::FullyDecoded);
        const SandboxUser *user = token.isEmpty() ? nullptr : m_api->userForToken(token.toStdString());
        client->socket = std::move(socket);
        QWebSocket *raw = client->socket.get();
        StreamClient *clientPointer = client.get();
        m_streams.push_back(std::move(client));
        if (!token.isEmpty() && !user) {
            // A wrong token ends the stream once the handshake has settled.
            QTimer::singleShot(0, raw, [raw] { raw->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("Authentication failed")); });
        } else if (user) {
            clientPointer->userId = user->id;
        }
        connect(raw, &QWebSocket::textMessageReceived, this,
                [this, clientPointer](const QString &text) { handleStreamMessage(*clientPointer, text); });
        connect(raw, &QWebSocket::disconnected, this, [this] {
            // Not at once: the socket is inside its own signal.
            QTimer::singleShot(0, this, &SandboxServer::dropClosedStreams);
        });
    }
}

void SandboxServer::dropClosedStreams()
{
    std::erase_if(m_streams, [](const std::unique_ptr<StreamClient> &client) {
        return client->socket->state() == QAbstractSocket::UnconnectedState;
    });
}

void SandboxServer::handleStreamMessage(StreamClient &client, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const json message = json::parse(bytes.cbegin(), bytes.cend(), nullptr, false);
    if (!message.is_object() || !message.contains("body") || !message["body"].is_object())
        return;
    const json &body = message["body"];
    const std::string type = message.value("type", std::string());
    const std::string id = body.contains("id") && body["id"].is_string() ? body["id"].get<std::string>() : std::string();
    if (id.empty())
        return;
    if (type == "connect") {
        const std::string channel =
            body.contains("channel") && body["channel"].is_string() ? body["channel"].get<std::string>() : std::string();
        static const std::set<std::string> known{"homeTimeline", "localTimeline", "hybridTimeline", "globalTimeline",
                                                 "main"};
        // The account's own channels need a signed-in stream.
        const bool personal = channel == "main" || channel == "homeTimeline" || channel == "hybridTimeline";
        if (known.contains(channel) && (!personal || !client.userId.empty()))
            client.channels.emplace_back(id, channel);
    } else if (type == "disconnect") {
        std::erase_if(client.channels, [&id](const auto &entry) { return entry.first == id; });
    }
}

void SandboxServer::sendChannel(StreamClient &client, const std::string &channelId, const std::string &type,
                                const json &body)
{
    const json message = {{"type", "channel"}, {"body", {{"id", channelId}, {"type", type}, {"body", body}}}};
    client.socket->sendTextMessage(QString::fromStdString(dumped(message)));
}

void SandboxServer::deliverNote(const SandboxNote &note)
{
    static const std::map<std::string, TimelineChannel> timelines{{"homeTimeline", TimelineChannel::home},
                                                                  {"localTimeline", TimelineChannel::local},
                                                                  {"hybridTimeline", TimelineChannel::hybrid},
                                                                  {"globalTimeline", TimelineChannel::global}};
    for (const auto &client : m_streams) {
        for (const auto &[channelId, name] : client->channels) {
            const auto timeline = timelines.find(name);
            if (timeline != timelines.end() && m_api->onTimeline(note, timeline->second, client->userId))
                sendChannel(*client, channelId, "note", m_api->packNote(note, client->userId));
        }
    }
}

void SandboxServer::deliverMainEvent(const std::string &userId, const std::string &type, const json &body)
{
    for (const auto &client : m_streams) {
        if (client->userId != userId)
            continue;
        for (const auto &[channelId, name] : client->channels) {
            if (name == "main")
                sendChannel(*client, channelId, type, body);
        }
    }
}

void SandboxServer::chatter()
{
    std::vector<const SandboxUser *> speakers;
    for (const SandboxUser &user : m_state.users) {
        if (user.id != m_state.sandboxUserId)
            speakers.push_back(&user);
    }
    if (speakers.empty())
        return;
    const SandboxUser &speaker = *speakers[m_random() % speakers.size()];
    ++m_chatterCount;
    NoteContent draft;
    draft.text = chatterLines[m_random() % chatterLines.size()];
    // Now and then someone talks to the sandbox account, so that a bot has mentions to answer.
    if (m_chatterCount % 5 == 0)
        draft.text = "@" + m_state.user(m_state.sandboxUserId)->username + " " + draft.text;
    try {
        m_api->post(speaker.id, draft);
    } catch (const ApiError &) {
        // Chatter that the API refuses (a block, say) is simply not said.
    }
    pruneOldNotes();
}

void SandboxServer::pruneOldNotes()
{
    if (m_state.notes.size() <= maxNotes)
        return;
    std::set<std::string> referenced;
    for (const auto &[id, note] : m_state.notes) {
        referenced.insert(note.replyId);
        referenced.insert(note.renoteId);
    }
    for (auto it = m_state.notes.begin(); it != m_state.notes.end() && m_state.notes.size() > maxNotes - 100;) {
        const SandboxNote &note = it->second;
        // The sandbox account's own notes and anything another note points at are kept.
        if (note.userId != m_state.sandboxUserId && !referenced.contains(note.id)) {
            const std::string id = note.id;
            std::erase_if(m_state.notifications, [&id](const SandboxNotification &n) { return n.noteId == id; });
            std::erase_if(m_state.favourites, [&id](const UserPair &pair) { return pair.second == id; });
            it = m_state.notes.erase(it);
        } else {
            ++it;
        }
    }
    scheduleSave();
}

} // namespace quill::sandbox
