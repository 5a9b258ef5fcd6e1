#pragma once

#include <QNetworkReply>
#include <QString>

#include <optional>

namespace quill {

/**
 * @brief Every way a Misskey call can fail, each with the one message the user sees.
 *
 * `transport` carries a failure of the network layer itself (refused connection, time-out, dropped
 * connection) unchanged, with the network layer's own description as its message.
 */
class MisskeyAPIError {
public:
    enum class Kind {
        http,             ///< a failing status whose body is not a Misskey error object
        server,           ///< a failing status with a Misskey error object
        invalidInstance,  ///< the instance address cannot be used
        insecureInstance, ///< plain http to a host that is not this machine
        invalidEndpoint,  ///< the endpoint name is not a clean path
        invalidResponse,  ///< the server answered with something unusable
        cancelled,        ///< the caller cancelled the request
        transport,        ///< the network layer failed; passed through
    };

    static MisskeyAPIError http(int statusCode, const QString &bodyText);
    static MisskeyAPIError server(const QString &message, const std::optional<QString> &code);
    static MisskeyAPIError invalidInstance();
    static MisskeyAPIError insecureInstance();
    static MisskeyAPIError invalidEndpoint();
    static MisskeyAPIError invalidResponse();
    static MisskeyAPIError cancelled();
    static MisskeyAPIError transport(QNetworkReply::NetworkError networkError, const QString &description);

    Kind kind() const { return m_kind; }
    /// The HTTP status of an `http` error, 0 otherwise.
    int statusCode() const { return m_statusCode; }
    /// The body text of `http`, the message of `server`, the description of `transport`.
    const QString &text() const { return m_text; }
    /// The Misskey error code of a `server` error, when the server sent one.
    const std::optional<QString> &code() const { return m_code; }
    /// The network layer's error of a `transport` error.
    QNetworkReply::NetworkError networkError() const { return m_networkError; }

    /// The user-facing message.
    QString errorDescription() const;

    bool operator==(const MisskeyAPIError &) const = default;

private:
    explicit MisskeyAPIError(Kind kind) : m_kind(kind) {}

    Kind m_kind;
    int m_statusCode = 0;
    QString m_text;
    std::optional<QString> m_code;
    QNetworkReply::NetworkError m_networkError = QNetworkReply::NoError;
};

} // namespace quill
