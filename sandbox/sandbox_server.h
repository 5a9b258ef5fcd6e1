#pragma once

#include "sandbox/sandbox_api.h"
#include "sandbox/sandbox_state.h"

#include <QHttpServer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <nlohmann/json.hpp>

#include <deque>
#include <memory>
#include <random>

class QTcpSocket;

namespace quill::sandbox {

struct SandboxOptions {
    quint16 port = 0;            ///< 0: any free port
    QString statePath;           ///< empty: the state lives in memory only
    QString keyFilePath;         ///< where the sandbox account's token is written
    int chatterIntervalMs = 5000; ///< how often a seeded user posts; 0 turns the chatter off
};

/**
 * @brief The sandbox instance on the network: Misskey's HTTP API, its streaming API and MiAuth
 * pages on 127.0.0.1, over one SandboxApi and its state.
 */
class SandboxServer : public QObject {
    Q_OBJECT

public:
    explicit SandboxServer(SandboxOptions options, QObject *parent = nullptr);
    ~SandboxServer() override;

    /// Loads or seeds the state, binds the port and writes the key file. On failure the reason
    /// is in errorString().
    bool start();
    QString errorString() const { return m_error; }
    QUrl url() const;
    QString keyFilePath() const { return m_options.keyFilePath; }

    /// Writes the state file now, if there is one; false (with errorString()) when that fails.
    bool saveNow();

private:
    struct StreamClient {
        std::unique_ptr<QWebSocket> socket;
        std::string userId; ///< empty for an anonymous stream
        /// Connected channels as (id, name).
        std::vector<std::pair<std::string, std::string>> channels;
    };

    bool loadOrSeed();
    bool writeKeyFile();
    void handleHttp(const QHttpServerRequest &request, QTcpSocket *socket);
    void handleApi(const QHttpServerRequest &request, const QString &endpoint, QTcpSocket *socket);
    void acceptStreams();
    void handleStreamMessage(StreamClient &client, const QString &text);
    void dropClosedStreams();
    void sendChannel(StreamClient &client, const std::string &channelId, const std::string &type,
                     const nlohmann::json &body);
    void deliverNote(const SandboxNote &note);
    void deliverMainEvent(const std::string &userId, const std::string &type, const nlohmann::json &body);
    void chatter();
    void pruneOldNotes();
    void scheduleSave();
    void record(const QString &method, const QString &path, int status, const QByteArray &body);

    SandboxOptions m_options;
    SandboxState m_state;
    std::unique_ptr<SandboxApi> m_api;
    QHttpServer m_http;
    quint16 m_port = 0;
    QString m_error;
    std::vector<std::unique_ptr<StreamClient>> m_streams;
    QTimer m_chatterTimer;
    QTimer m_saveTimer;
    std::mt19937 m_random{std::random_device{}()};
    int m_chatterCount = 0;
    /// The latest API requests, newest last, for the inspection endpoint.
    std::deque<nlohmann::json> m_requests;
};

} // namespace quill::sandbox
