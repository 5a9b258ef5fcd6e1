#include "app/api/misskey_api.h"

#include "app/api/endpoints.h"
#include "app/api/pending_reply.h"
#include "app/api/transport_security.h"

#include <QNetworkRequest>
#include <QStringDecoder>

#include <QCoro/QCoroSignal>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace quill {

namespace {

using nlohmann::json;

// Deep enough for any real request, shallow enough that serialising never exhausts the stack.
constexpr int maxParameterDepth = 256;

// How much of an unexpected body an error message quotes.
constexpr qsizetype maxBodyTextLength = 200;

std::optional<QString> strictUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool isUtf8(const std::string &text)
{
    return strictUtf8(QByteArrayView(text.data(), qsizetype(text.size()))).has_value();
}

// A JSON object that serialises faithfully: finite numbers, UTF-8 texts, bounded nesting.
bool isSerialisableObject(const json &parameters)
{
    if (!parameters.is_object())
        return false;
    std::vector<std::pair<const json *, int>> pending{{&parameters, 0}};
    while (!pending.empty()) {
        const auto [value, depth] = pending.back();
        pending.pop_back();
        if (depth > maxParameterDepth)
            return false;
        if (value->is_number_float() && !std::isfinite(value->get<double>()))
            return false;
        if (value->is_string() && !isUtf8(value->get_ref<const std::string &>()))
            return false;
        if (value->is_binary() || value->is_discarded())
            return false;
        if (value->is_object()) {
            for (const auto &[key, member] : value->items()) {
                if (!isUtf8(key))
                    return false;
                pending.emplace_back(&member, depth + 1);
            }
        } else if (value->is_array()) {
            for (const json &element : *value)
                pending.emplace_back(&element, depth + 1);
        }
    }
    return true;
}

// Qt writes header values verbatim, so a control character in a token could smuggle in headers.
bool isHeaderSafe(const QString &value)
{
    return std::none_of(value.cbegin(), value.cend(), [](QChar character) {
        return character.unicode() < 0x20 || character.unicode() == 0x7F;
    });
}

// The text shown after "Misskey returned HTTP ...: ": the start of the body, on one line, so
// that an error page cannot flood an alert or the log.
QString bodyText(const QByteArray &body)
{
    const std::optional<QString> text = strictUtf8(body);
    if (!text)
        return QStringLiteral("No response body");
    QString line = text->simplified();
    if (line.isEmpty())
        return QStringLiteral("No response body");
    if (line.size() > maxBodyTextLength) {
        // Never split a surrogate pair.
        const qsizetype cut = line.at(maxBodyTextLength - 1).isHighSurrogate() ? maxBodyTextLength - 1
                                                                                : maxBodyTextLength;
        line.truncate(cut);
    }
    return line;
}

// Failures below HTTP: connection, DNS, TLS, proxy. Their own description is shown.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    return error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

bool isRedirectRefusal(QNetworkReply::NetworkError error)
{
    return error == QNetworkReply::InsecureRedirectError || error == QNetworkReply::TooManyRedirectsError;
}

// Garbled HTTP. Qt also files a 400 status under the protocol errors, so only these two count.
bool isProtocolFailure(QNetworkReply::NetworkError error)
{
    return error == QNetworkReply::ProtocolUnknownError || error == QNetworkReply::ProtocolFailure;
}

} // namespace

APIResult<QByteArray> settledResponse(const PendingReply &pending)
{
    switch (pending.outcome()) {
    case PendingReply::Outcome::pending:
    case PendingReply::Outcome::lost:
    case PendingReply::Outcome::cancelled:
        return Failure{MisskeyAPIError::cancelled()};
    case PendingReply::Outcome::timedOut:
        return Failure{MisskeyAPIError::transport(QNetworkReply::TimeoutError, QStringLiteral("The request timed out."))};
    case PendingReply::Outcome::tooLarge:
        return Failure{MisskeyAPIError::invalidResponse()};
    case PendingReply::Outcome::finished:
        break;
    }

    // Only the copy taken when the reply finished is used: the reply may be deleted by now.
    const FinishedReply &reply = pending.finishedReply();
    if (reply.error == QNetworkReply::OperationCanceledError)
        return Failure{MisskeyAPIError::cancelled()};
    // A refused redirect is the server's answer, not a broken connection: report its status.
    if (isTransportFailure(reply.error) && !(isRedirectRefusal(reply.error) && reply.statusCode))
        return Failure{MisskeyAPIError::transport(reply.error, reply.errorString)};
    // A body cut short or garbled on the wire cannot be trusted, whatever its status.
    if (isProtocolFailure(reply.error))
        return Failure{MisskeyAPIError::invalidResponse()};
    return MisskeyAPI::validatedData(reply.body, reply.statusCode);
}

MisskeyAPI::MisskeyAPI(QUrl instanceURL, std::optional<QString> token, QNetworkAccessManager *network,
                       RequestLimits limits)
    : m_instanceURL(std::move(instanceURL)), m_token(std::move(token)), m_network(network), m_limits(limits)
{
}

APIResult<QByteArray> MisskeyAPI::validatedData(const QByteArray &body, std::optional<int> statusCode)
{
    if (!statusCode)
        return Failure{MisskeyAPIError::invalidResponse()};
    if (*statusCode >= 200 && *statusCode <= 299)
        return body;

    const Result<MisskeyAPIErrorEnvelope, DecodeError> envelope = decodeJSON<MisskeyAPIErrorEnvelope>(body);
    if (envelope) {
        const MisskeyAPIErrorEnvelope::Payload &payload = envelope.value().error;
        return Failure{MisskeyAPIError::server(payload.message.value_or(QStringLiteral("Misskey rejected the request.")),
                                               payload.code)};
    }
    return Failure{MisskeyAPIError::http(*statusCode, bodyText(body))};
}

QCoro::Task<APIResult<QByteArray>> MisskeyAPI::requestData(QString endpoint, Parameters parameters,
                                                           RequestCancellation cancellation) const
{
    return send(*this, std::move(endpoint), std::move(parameters), std::move(cancellation));
}

QCoro::Task<APIResult<QByteArray>> MisskeyAPI::send(MisskeyAPI api, QString endpoint, Parameters parameters,
                                                    RequestCancellation cancellation)
{
    // There is no separate error for a bad request, so it is reported like a bad response.
    if (!isSerialisableObject(parameters))
        co_return Failure{MisskeyAPIError::invalidResponse()};
    const QByteArray body = QByteArray::fromStdString(parameters.dump());
    // Likewise a token that cannot be sent as a header: the request cannot be formed.
    if (api.m_token && !isHeaderSafe(*api.m_token))
        co_return Failure{MisskeyAPIError::invalidResponse()};

    const APIResult<QUrl> url = endpointURL(api.m_instanceURL, endpoint);
    if (!url)
        co_return Failure{url.error()};
    // Checked here as well as when the address was typed: a client may be built from any URL, and
    // the bearer token must never cross the network in clear text.
    if (const std::optional<MisskeyAPIError> refusal = transportRefusal(api.m_instanceURL))
        co_return Failure{*refusal};
    if (cancellation.isCancelled() || !api.m_network)
        co_return Failure{MisskeyAPIError::cancelled()};

    QNetworkRequest request(url.value());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json"));
    if (api.m_token && !api.m_token->isEmpty())
        request.setRawHeader(QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + api.m_token->toUtf8());
    // The bearer token must never follow a redirect to another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);

    PendingReply pending(api.m_network->post(request, body), api.m_limits, cancellation);
    if (pending.outcome() == PendingReply::Outcome::pending)
        co_await qCoro(&pending, &PendingReply::settled);
    co_return settledResponse(pending);
}

QCoro::Task<APIResult<MisskeyUser>> MisskeyAPI::me(RequestCancellation cancellation) const
{
    return request<MisskeyUser>(endpoints::account(), json::object(), std::move(cancellation));
}

QCoro::Task<APIResult<MisskeyNote>> MisskeyAPI::createNote(QString text, NoteVisibility visibility,
                                                           std::optional<QString> replyID,
                                                           std::optional<QString> renoteID,
                                                           RequestCancellation cancellation) const
{
    json parameters = json::object();
    parameters["visibility"] = rawValue(visibility).toStdString();
    if (!text.isEmpty())
        parameters["text"] = text.toStdString();
    if (replyID)
        parameters["replyId"] = replyID->toStdString();
    if (renoteID)
        parameters["renoteId"] = renoteID->toStdString();
    return sendNote(*this, std::move(parameters), std::move(cancellation));
}

QCoro::Task<APIResult<MisskeyNote>> MisskeyAPI::sendNote(MisskeyAPI api, Parameters parameters,
                                                         RequestCancellation cancellation)
{
    APIResult<CreatedNoteResponse> response =
        co_await requestDecoded<CreatedNoteResponse>(api, endpoints::createNote(), std::move(parameters),
                                                     std::move(cancellation));
    if (!response)
        co_return Failure{response.error()};
    co_return std::move(response).value().createdNote;
}

QCoro::Task<APIResult<void>> MisskeyAPI::react(QString noteID, QString reaction, RequestCancellation cancellation) const
{
    json parameters = json::object();
    parameters["noteId"] = noteID.toStdString();
    parameters["reaction"] = reaction.toStdString();
    return sendReaction(*this, std::move(parameters), std::move(cancellation));
}

QCoro::Task<APIResult<void>> MisskeyAPI::sendReaction(MisskeyAPI api, Parameters parameters,
                                                      RequestCancellation cancellation)
{
    const APIResult<QByteArray> body =
        co_await api.requestData(endpoints::createReaction(), std::move(parameters), std::move(cancellation));
    if (!body)
        co_return Failure{body.error()};
    co_return APIResult<void>();
}

} // namespace quill
