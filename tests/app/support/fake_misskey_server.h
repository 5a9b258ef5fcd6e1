#pragma once

#include <QFile>
#include <QHash>
#include <QHttpServer>
#include <QPointer>
#include <QQueue>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>
#include <QWebSocket>

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <optional>

class QTcpSocket;

namespace quill::test {

/// Absolute path of a file under tests/app/fixtures ("misskey/timeline-notes.json").
inline QString fixturePath(const QString &relativePath) { return QStringLiteral(QUILL_APP_FIXTURES_DIR "/") + relativePath; }

/// The bytes of a fixture; a test that cannot read its input cannot run.
inline QByteArray readFixture(const QString &relativePath)
{
    QFile file(fixturePath(relativePath));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read fixture %s", qPrintable(file.fileName()));
    return file.readAll();
}

/// One HTTP request as the fake server received it.
struct RecordedRequest {
    QByteArray method; ///< upper case: "POST"
    QString path;      ///< "/api/notes/create"
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const; ///< any case, as in HTTP; a null array when absent
    /// A discarded value when the body is not JSON.
    nlohmann::json jsonBody() const { return nlohmann::json::parse(body.cbegin(), body.cend(), nullptr, false); }
    /// A text field of the JSON body, or an empty text.
    QString field(const char *key) const
    {
        const nlohmann::json json = jsonBody();
        const bool isText = json.is_object() && json.contains(key) && json[key].is_string();
        return isText ? QString::fromStdString(json[key].get<std::string>()) : QString();
    }
};

/// How the server delivers a response.
enum class FakeBehaviour {
    respond,         ///< a complete, well-formed answer
    closeConnection, ///< close the connection without answering
    stallMidBody,    ///< the headers and half the body, then nothing, keeping the connection open
    trickleForever,  ///< the headers, then one byte every 20 ms, never reaching the announced length
    rawBytes,        ///< the body verbatim, with no status line or headers, then close
    chunked,         ///< the body in chunks with "Transfer-Encoding: chunked" and no length
    chunkedStall,    ///< like chunked, but the final empty chunk never comes
};

/// A canned answer. Build one with the factories, then adjust fields.
struct FakeResponse {
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; ///< the server adds Content-Length unless the body is chunked
    FakeBehaviour behaviour = FakeBehaviour::respond;
    std::chrono::milliseconds delay{0}; ///< a slow server

    static FakeResponse text(const QByteArray &body, const QByteArray &contentType, int status = 200)
    {
        return FakeResponse{status, body, {{"Content-Type", contentType}}};
    }
    static FakeResponse json(const QByteArray &body, int status = 200) { return text(body, "application/json; charset=utf-8", status); }
    static FakeResponse fixture(const QString &name, int status = 200) { return json(readFixture(QStringLiteral("misskey/") + name), status); }
    static FakeResponse empty(int status = 204) { return FakeResponse{status, {}, {}}; }
    static FakeResponse redirect(const QUrl &url, int status = 302) { return FakeResponse{status, {}, {{"Location", url.toEncoded()}}}; }

    FakeResponse delayedBy(std::chrono::milliseconds wait) const { return FakeResponse{status, body, headers, behaviour, wait}; }
    FakeResponse withBehaviour(FakeBehaviour how) const { return FakeResponse{status, body, headers, how, delay}; }
};

/// One WebSocket connection accepted by the fake server: the server side of Misskey's streaming
/// API, keeping track of the channels the client connects by id.
class FakeStreamConnection : public QObject {
    Q_OBJECT

public:
    FakeStreamConnection(std::unique_ptr<QWebSocket> socket, QObject *parent);
    ~FakeStreamConnection() override { m_socket->disconnect(this); }

    QUrl requestURL() const { return m_socket->requestUrl(); }
    /// The close code the client sent, once it has closed.
    std::optional<QWebSocketProtocol::CloseCode> clientCloseCode() const { return m_clientCloseCode; }
    /// Channel names ("homeTimeline", "main") the client has connected, in order.
    QStringList connectedChannels() const;
    /// The id the client gave a connected channel, or an empty text.
    QString channelID(const QString &channel) const;

    void sendText(const QString &text) { m_socket->sendTextMessage(text); }
    void sendBinary(const QByteArray &bytes) { m_socket->sendBinaryMessage(bytes); }
    /// Sends {"type":"channel","body":{"id":<the channel's id>,"type":type,"body":body}}; false
    /// (and nothing sent) when the client has not connected that channel.
    bool sendChannelMessage(const QString &channel, const QString &type, const nlohmann::json &body);
    void close(QWebSocketProtocol::CloseCode code = QWebSocketProtocol::CloseCodeNormal) { m_socket->close(code); }

private:
    void handleClientMessage(const QString &text);

    std::unique_ptr<QWebSocket> m_socket;
    QList<QPair<QString, QString>> m_channels; ///< (id, name), in the order of connection
    std::optional<QWebSocketProtocol::CloseCode> m_clientCloseCode;
};

/**
 * @brief A local stand-in for a Misskey instance on 127.0.0.1, on a free port.
 *
 * Every request is recorded and answered with the next queued response for its path, else the
 * standing one, else 404 (a Misskey error object under "/api/"). With a required token, "/api/"
 * requests without the matching bearer header get Misskey's 401, and a stream whose "i" is not the
 * token is closed at once. Upgrades to "/streaming" become FakeStreamConnection objects.
 */
class FakeMisskeyServer : public QObject {
    Q_OBJECT

public:
    explicit FakeMisskeyServer(QObject *parent = nullptr);
    ~FakeMisskeyServer() override;

    bool start();
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }

    /// Answers requests (any method) to a path ("/api/i", "/elsewhere") or to an endpoint ("i").
    void setResponse(const QString &path, const FakeResponse &response) { m_responses.insert(path, response); }
    void setEndpointResponse(const QString &endpoint, const FakeResponse &response) { setResponse(QStringLiteral("/api/") + endpoint, response); }
    /// A one-time answer for an endpoint, used before the standing one; several are used in order.
    void queueEndpointResponse(const QString &endpoint, const FakeResponse &response)
    {
        m_queued[QStringLiteral("/api/") + endpoint].enqueue(response);
    }
    /// Realistic answers for "i", the four timelines, "notes/create", reactions and deletion.
    void serveDefaultFixtures();
    /// Requests to "/api/" must carry "Authorization: Bearer <token>"; nothing turns the check off.
    void setRequiredToken(const QString &token) { m_requiredToken = token; }

    QList<RecordedRequest> requests() const { return m_requests; }
    QList<RecordedRequest> requestsTo(const QString &endpoint) const;
    void clearRequests() { m_requests.clear(); }

    QList<FakeStreamConnection *> streamConnections() const;
    /// The `count`th stream connection once it has connected two channels (a timeline and main);
    /// null when that does not happen within ten seconds.
    FakeStreamConnection *subscribedStream(qsizetype count = 1) const;
    /// When set, every new stream connection is closed at once with 1011 (a failing server).
    void setRefuseStreams(bool refuse) { m_refuseStreams = refuse; }

private:
    void handle(const RecordedRequest &request, QTcpSocket *socket);
    FakeResponse responseFor(const RecordedRequest &request);
    void acceptStreams();

    QHttpServer m_http;
    quint16 m_port = 0;
    QList<RecordedRequest> m_requests;
    QHash<QString, FakeResponse> m_responses;
    QHash<QString, QQueue<FakeResponse>> m_queued;
    std::optional<QString> m_requiredToken;
    QList<QPointer<FakeStreamConnection>> m_streams;
    bool m_refuseStreams = false;
};

} // namespace quill::test
