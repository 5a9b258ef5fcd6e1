#pragma once

#include "app/api/misskey_api_error.h"
#include "app/api/request_cancellation.h"
#include "app/api/request_limits.h"
#include "app/common/result.h"
#include "app/model/misskey_json.h"
#include "app/model/misskey_note.h"
#include "app/model/misskey_user.h"
#include "app/model/note_visibility.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>
#include <nlohmann/json.hpp>

#include <optional>
#include <utility>

namespace quill {

class PendingReply;

template <typename T>
using APIResult = Result<T, MisskeyAPIError>;

/**
 * @brief The client for one Misskey instance's HTTP API, as one signed-in user.
 *
 * A small value, copied freely: the application makes a new one whenever the instance or the token
 * changes. Every call is one JSON POST to the endpoint under the instance's "api" directory, with
 * the token as a bearer header, and fails with exactly one MisskeyAPIError. Nothing is retried and
 * a failed call leaves nothing behind.
 *
 * Calls run on the thread of the network access manager, which must outlive them.
 */
class MisskeyAPI {
public:
    /// Parameters of a call: a JSON object whose values are texts, numbers, booleans, null, lists or maps.
    using Parameters = nlohmann::json;

    MisskeyAPI(QUrl instanceURL, std::optional<QString> token, QNetworkAccessManager *network,
               RequestLimits limits = {});

    const QUrl &instanceURL() const { return m_instanceURL; }
    /// The access token; absent or empty means that no credentials are sent.
    const std::optional<QString> &token() const { return m_token; }
    const RequestLimits &limits() const { return m_limits; }

    /**
     * @brief Turns what the user typed into the canonical base URL of an instance.
     *
     * A bare host gets "https://"; plain "http" is allowed only for this machine; user name,
     * password, path, query and fragment are not kept.
     */
    static APIResult<QUrl> normaliseInstance(const QString &input);

    /// The URL of an endpoint ("notes/create") under the instance's "api" directory.
    static APIResult<QUrl> endpointURL(const QUrl &instanceURL, const QString &endpoint);

    /**
     * @brief Checks one HTTP response and returns its body.
     *
     * @param statusCode the HTTP status, or nothing when the response was not an HTTP response.
     * A status from 200 to 299 returns the body unchanged; any other becomes a `server` error when
     * the body is a Misskey error object and an `http` error otherwise.
     */
    static APIResult<QByteArray> validatedData(const QByteArray &body, std::optional<int> statusCode);

    /**
     * @brief One POST of the parameters as JSON; the body of a successful response.
     *
     * Parameters that are not a serialisable JSON object, and a token with control characters
     * (which would corrupt the request's headers), fail as `invalidResponse` without sending anything.
     */
    QCoro::Task<APIResult<QByteArray>> requestData(QString endpoint, Parameters parameters,
                                                   RequestCancellation cancellation = {}) const;

    /// requestData, then the body decoded as T; a body that does not decode is `invalidResponse`.
    template <typename T>
    QCoro::Task<APIResult<T>> request(QString endpoint, Parameters parameters,
                                      RequestCancellation cancellation = {}) const
    {
        return requestDecoded<T>(*this, std::move(endpoint), std::move(parameters), std::move(cancellation));
    }

    /// The signed-in account ("i").
    QCoro::Task<APIResult<MisskeyUser>> me(RequestCancellation cancellation = {}) const;

    /// Posts a note; an empty text is left out (a renote), as are absent reply and renote ids.
    QCoro::Task<APIResult<MisskeyNote>> createNote(QString text, NoteVisibility visibility,
                                                   std::optional<QString> replyID,
                                                   std::optional<QString> renoteID,
                                                   RequestCancellation cancellation = {}) const;

    /// Adds a reaction to a note; the response body is not used.
    QCoro::Task<APIResult<void>> react(QString noteID, QString reaction, RequestCancellation cancellation = {}) const;

private:
    // The coroutines take the client by value so that a call outlives the object it was made on.
    static QCoro::Task<APIResult<QByteArray>> send(MisskeyAPI api, QString endpoint, Parameters parameters,
                                                   RequestCancellation cancellation);
    static QCoro::Task<APIResult<MisskeyNote>> sendNote(MisskeyAPI api, Parameters parameters,
                                                        RequestCancellation cancellation);
    static QCoro::Task<APIResult<void>> sendReaction(MisskeyAPI api, Parameters parameters,
                                                     RequestCancellation cancellation);

    template <typename T>
    static QCoro::Task<APIResult<T>> requestDecoded(MisskeyAPI api, QString endpoint, Parameters parameters,
                                                    RequestCancellation cancellation)
    {
        APIResult<QByteArray> body = co_await api.requestData(std::move(endpoint), std::move(parameters),
                                                              std::move(cancellation));
        if (!body)
            co_return Failure{body.error()};
        Result<T, DecodeError> decoded = decodeJSON<T>(body.value());
        if (!decoded)
            co_return Failure{MisskeyAPIError::invalidResponse()};
        co_return std::move(decoded).value();
    }

    QUrl m_instanceURL;
    std::optional<QString> m_token;
    QPointer<QNetworkAccessManager> m_network;
    RequestLimits m_limits;
};

/**
 * @brief The body of a settled Misskey reply, or the one error it amounts to.
 *
 * Shared by every caller that sends Misskey requests through a PendingReply, so that a failing
 * status, a time-out or a cancellation reads the same whoever sent the request.
 */
APIResult<QByteArray> settledResponse(const PendingReply &pending);

} // namespace quill
