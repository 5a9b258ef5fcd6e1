#include "app/script/script_host.h"

#include "app/api/endpoints.h"
#include "app/api/misskey_api.h"
#include "app/api/pending_reply.h"
#include "app/api/transport_security.h"
#include "app/script/host_json.h"
#include "app/script/http_request_error.h"
#include "app/script/multipart_body.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <map>
#include <utility>

namespace quill {

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr std::chrono::milliseconds misskeyTimeout = 30s;
constexpr std::chrono::milliseconds uploadTimeout = 120s;
// The whole upload is held in memory while it is sent, so an absurd file is refused up front.
constexpr qint64 maxUploadBytes = qint64(512) * 1024 * 1024;

Failure<QString> failure(HTTPRequestError error)
{
    return Failure{errorDescription(error)};
}

Failure<QString> failure(const MisskeyAPIError &error)
{
    return Failure{error.errorDescription()};
}

bool hasControlCharacters(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar character) {
        return character.unicode() < 0x20 || character.unicode() == 0x7F;
    });
}

/// The address of a Misskey endpoint, once the token may safely travel there: never in clear
/// text to another machine, and never carrying bytes that would smuggle in headers.
APIResult<QUrl> tokenBearingURL(const QUrl &instanceURL, const QString &token, const QString &endpoint)
{
    APIResult<QUrl> url = MisskeyAPI::endpointURL(instanceURL, endpoint);
    if (!url)
        return url;
    if (const std::optional<MisskeyAPIError> refusal = transportRefusal(instanceURL))
        return Failure{*refusal};
    if (hasControlCharacters(token))
        return Failure{MisskeyAPIError::invalidResponse()};
    return url;
}

bool hasLineBreakOrNul(const std::string &text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// A query value as text: a string as is, a boolean as true or false, a number in decimal.
std::optional<std::string> queryText(const json &value)
{
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_boolean())
        return value.get<bool>() ? "true" : "false";
    if (value.is_number())
        return value.dump();
    return std::nullopt;
}

QByteArray encodedQueryItem(const std::string &key, const std::string &value)
{
    // Every reserved character is escaped ("+" and "%" included), so values arrive as written.
    return QByteArray::fromStdString(key).toPercentEncoding() + '='
           + QByteArray::fromStdString(value).toPercentEncoding();
}

// Failures of the network layer itself (no connection, DNS, TLS, a dropped connection).
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    return error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

bool isProtocolFailure(QNetworkReply::NetworkError error)
{
    return error == QNetworkReply::ProtocolUnknownError || error == QNetworkReply::ProtocolFailure;
}

} // namespace

ScriptHost::ScriptHost(QUrl instanceURL, QString token, LogHandler logHandler)
    : m_instanceURL(std::move(instanceURL)), m_token(std::move(token)), m_logHandler(std::move(logHandler))
{
}

void ScriptHost::log(const QString &message) const
{
    if (m_logHandler)
        m_logHandler(message);
}

void ScriptHost::cancel()
{
    std::optional<RequestCancellation> task;
    {
        const std::lock_guard guard(m_lock);
        m_cancelled = true;
        task = std::exchange(m_activeTask, std::nullopt);
    }
    // Outside the lock: the waiting worker takes the lock on every slice.
    if (task)
        task->cancel();
}

bool ScriptHost::isCancelled() const
{
    const std::lock_guard guard(m_lock);
    return m_cancelled;
}

QNetworkRequest ScriptHost::misskeyRequest(const QUrl &url) const
{
    QNetworkRequest request(url);
    request.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json"));
    if (!m_token.isEmpty())
        request.setRawHeader(QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + m_token.toUtf8());
    // The bearer token never follows a redirect to another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    return request;
}

HostResult ScriptHost::performRequest(const QString &endpoint, const QByteArray &parametersJSON)
{
    QString parseError;
    const std::optional<json> parameters = parseHostJSON(parametersJSON, false, &parseError);
    if (!parameters)
        return Failure{parseError};
    if (!parameters->is_object() || !serialiseHostJSON(*parameters))
        return failure(MisskeyAPIError::invalidResponse());

    const APIResult<QUrl> url = tokenBearingURL(m_instanceURL, m_token, endpoint);
    if (!url)
        return failure(url.error());

    QNetworkRequest request = misskeyRequest(url.value());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    // Sent exactly as the engine wrote it: its key order and number forms are the script's.
    return execute(std::move(request), QByteArrayLiteral("POST"), parametersJSON, misskeyTimeout, Flavour::misskey);
}

HostResult ScriptHost::performUpload(const QString &filePath, const QByteArray &optionsJSON)
{
    QString parseError;
    const std::optional<json> options = parseHostJSON(optionsJSON, true, &parseError);
    if (!options)
        return Failure{parseError};
    if (!options->is_object())
        return failure(MisskeyAPIError::invalidResponse());

    const QFileInfo info(filePath);
    if (!info.exists())
        return Failure{QStringLiteral("No such file: ") + filePath};
    // A directory or a device has no size to check and may never end.
    if (!info.isFile())
        return Failure{QStringLiteral("Not a regular file: ") + filePath};
    if (info.size() > maxUploadBytes)
        return Failure{QStringLiteral("The file is too large to upload: ") + filePath};
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return Failure{file.errorString() + QStringLiteral(": ") + filePath};
    QByteArray bytes;
    if (uchar *mapped = file.map(0, file.size()); mapped && file.size() > 0)
        bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), file.size());
    else
        bytes = file.read(maxUploadBytes + 1);
    if (file.error() != QFileDevice::NoError && bytes.isEmpty())
        return Failure{file.errorString() + QStringLiteral(": ") + filePath};
    if (bytes.size() > maxUploadBytes)
        return Failure{QStringLiteral("The file is too large to upload: ") + filePath};

    QList<QPair<QString, QString>> fields;
    for (const char *key : {"folderId", "name", "isSensitive", "comment", "force"}) {
        const auto found = options->find(key);
        if (found == options->end() || found->is_null())
            continue;
        if (found->is_string())
            fields.append({QString::fromUtf8(key), QString::fromStdString(found->get<std::string>())});
        else if (found->is_boolean())
            fields.append({QString::fromUtf8(key), found->get<bool>() ? QStringLiteral("true") : QStringLiteral("false")});
        else
            return failure(MisskeyAPIError::invalidResponse());
    }

    QString fileName;
    if (const auto name = options->find("name"); name != options->end() && name->is_string())
        fileName = QString::fromStdString(name->get<std::string>()).trimmed();
    if (fileName.isEmpty())
        fileName = info.fileName();

    const QMimeType mime = QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    const QString contentType = mime.isValid() && !mime.isDefault() ? mime.name()
                                                                    : QStringLiteral("application/octet-stream");

    const APIResult<QUrl> url = tokenBearingURL(m_instanceURL, m_token, endpoints::createDriveFile());
    if (!url)
        return failure(url.error());

    const QString boundary = QStringLiteral("Quill-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QByteArray body = multipartBody(boundary, fields, fileName, contentType, bytes);
    bytes.clear();
    file.close();

    QNetworkRequest request = misskeyRequest(url.value());
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("multipart/form-data; boundary=") + boundary.toUtf8());
    return execute(std::move(request), QByteArrayLiteral("POST"), body, uploadTimeout, Flavour::misskey);
}

HostResult ScriptHost::performHTTP(const QString &urlString, const QByteArray &optionsJSON)
{
    QUrl url(urlString, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) || url.host().isEmpty())
        return failure(HTTPRequestError::invalidURL);

    QString parseError;
    const std::optional<json> options = parseHostJSON(optionsJSON, true, &parseError);
    if (!options)
        return Failure{parseError};
    if (!options->is_object())
        return failure(HTTPRequestError::invalidOptions);

    if (const auto query = options->find("query"); query != options->end()) {
        if (!query->is_object())
            return failure(HTTPRequestError::invalidQuery);
        QByteArray encoded = url.query(QUrl::FullyEncoded).toUtf8();
        // nlohmann keeps object keys in ascending byte order, the order the items are sent in.
        for (const auto &[key, value] : query->items()) {
            if (value.is_null())
                continue;
            std::vector<std::string> texts;
            if (value.is_array()) {
                for (const json &element : value) {
                    std::optional<std::string> text = queryText(element);
                    if (!text)
                        return failure(HTTPRequestError::invalidQuery);
                    texts.push_back(std::move(*text));
                }
            } else if (std::optional<std::string> text = queryText(value)) {
                texts.push_back(std::move(*text));
            } else {
                return failure(HTTPRequestError::invalidQuery);
            }
            for (const std::string &text : texts) {
                if (!encoded.isEmpty())
                    encoded += '&';
                encoded += encodedQueryItem(key, text);
            }
        }
        if (!encoded.isEmpty())
            url.setQuery(QString::fromLatin1(encoded), QUrl::StrictMode);
        if (!url.isValid())
            return failure(HTTPRequestError::invalidURL);
    }

    QByteArray method = QByteArrayLiteral("GET");
    if (const auto given = options->find("method"); given != options->end() && given->is_string()) {
        method = QByteArray::fromStdString(given->get<std::string>()).toUpper();
        const bool letters = std::all_of(method.cbegin(), method.cend(), [](char c) { return c >= 'A' && c <= 'Z'; });
        if (method.isEmpty() || !letters)
            return failure(HTTPRequestError::invalidMethod);
    }

    double seconds = 30;
    if (const auto given = options->find("timeout"); given != options->end() && given->is_number())
        seconds = std::clamp(given->get<double>(), 1.0, 120.0);
    const auto timeout = std::chrono::milliseconds(qint64(seconds * 1000));

    QNetworkRequest request(url);
    request.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json, text/plain;q=0.9, */*;q=0.8"));
    request.setRawHeader(QByteArrayLiteral("User-Agent"), QByteArrayLiteral("Quill/1.0"));

    bool scriptSetContentType = false;
    if (const auto headers = options->find("headers"); headers != options->end()) {
        if (!headers->is_object())
            return failure(HTTPRequestError::invalidHeaders);
        for (const auto &[name, value] : headers->items()) {
            if (name.empty() || !value.is_string() || hasLineBreakOrNul(name)
                || hasLineBreakOrNul(value.get_ref<const std::string &>()))
                return failure(HTTPRequestError::invalidHeaders);
            const QByteArray headerName = QByteArray::fromStdString(name);
            if (headerName.compare("content-type", Qt::CaseInsensitive) == 0)
                scriptSetContentType = true;
            request.setRawHeader(headerName, QByteArray::fromStdString(value.get<std::string>()));
        }
    }

    QByteArray body;
    if (const auto payload = options->find("json"); payload != options->end() && !payload->is_null()) {
        std::optional<QByteArray> text;
        if (payload->is_object() || payload->is_array())
            text = serialiseHostJSON(*payload);
        if (!text)
            return failure(HTTPRequestError::invalidBody);
        body = std::move(*text);
        if (!scriptSetContentType)
            request.setRawHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json"));
    } else if (const auto text = options->find("body"); text != options->end()) {
        if (!text->is_string())
            return failure(HTTPRequestError::invalidBody);
        body = QByteArray::fromStdString(text->get<std::string>());
    }

    return execute(std::move(request), method, body, timeout, Flavour::http);
}

HostResult ScriptHost::execute(QNetworkRequest request, const QByteArray &method, const QByteArray &body,
                               std::chrono::milliseconds timeout, Flavour flavour)
{
    RequestCancellation task;
    {
        const std::lock_guard guard(m_lock);
        if (m_cancelled)
            return failure(MisskeyAPIError::cancelled());
        m_activeTask = task;
    }
    if (!m_network) {
        const std::lock_guard guard(m_lock);
        m_activeTask.reset();
        return flavour == Flavour::http ? failure(HTTPRequestError::invalidResponse)
                                        : failure(MisskeyAPIError::invalidResponse());
    }

    const RequestLimits limits{timeout, flavour == Flavour::http ? maxHTTPResponseBytes : RequestLimits().maxResponseBytes};
    QNetworkReply *sent = body.isEmpty() && method == "GET" ? m_network->get(request)
                                                            : m_network->sendCustomRequest(request, method, body);
    const QPointer<QNetworkReply> reply(sent);
    PendingReply pending(sent, limits, task);
    if (pending.outcome() == PendingReply::Outcome::pending) {
        // Waits in slices: a stop is noticed within one slice even if its cancel signal was missed.
        QEventLoop loop;
        QObject::connect(&pending, &PendingReply::settled, &loop, &QEventLoop::quit);
        QTimer slice;
        QObject::connect(&slice, &QTimer::timeout, &loop, [this, &task] {
            if (isCancelled())
                task.cancel();
        });
        slice.start(pollInterval);
        if (pending.outcome() == PendingReply::Outcome::pending)
            loop.exec();
    }

    bool cancelled = false;
    {
        const std::lock_guard guard(m_lock);
        m_activeTask.reset();
        cancelled = m_cancelled;
    }
    if (cancelled || pending.outcome() == PendingReply::Outcome::cancelled)
        return failure(MisskeyAPIError::cancelled());

    if (flavour == Flavour::misskey) {
        const APIResult<QByteArray> data = settledResponse(pending);
        if (!data)
            return failure(data.error());
        if (data.value().isEmpty())
            return QStringLiteral("null");
        std::optional<QString> text = strictUTF8(data.value());
        if (!text)
            return failure(MisskeyAPIError::invalidResponse());
        return std::move(*text);
    }

    switch (pending.outcome()) {
    case PendingReply::Outcome::timedOut:
        return Failure{QStringLiteral("The request timed out.")};
    case PendingReply::Outcome::tooLarge:
        return failure(HTTPRequestError::responseTooLarge);
    case PendingReply::Outcome::finished:
        break;
    default:
        return failure(HTTPRequestError::invalidResponse);
    }
    const FinishedReply &finished = pending.finishedReply();
    if (finished.error == QNetworkReply::OperationCanceledError)
        return failure(MisskeyAPIError::cancelled());
    if (isTransportFailure(finished.error) && !finished.statusCode)
        return Failure{finished.errorString};
    if (!finished.statusCode || !reply || isProtocolFailure(finished.error)
        || (isTransportFailure(finished.error) && finished.error != QNetworkReply::InsecureRedirectError
            && finished.error != QNetworkReply::TooManyRedirectsError))
        return failure(HTTPRequestError::invalidResponse);

    std::map<std::string, std::string> headers;
    for (const auto &[name, value] : reply->rawHeaderPairs()) {
        std::string &slot = headers[name.toLower().toStdString()];
        slot += slot.empty() ? value.toStdString() : ", " + value.toStdString();
    }

    json bodyValue = nullptr;
    if (!finished.body.isEmpty()) {
        if (std::optional<json> parsed = parseHostJSON(finished.body, true))
            bodyValue = std::move(*parsed);
        else if (std::optional<QString> text = strictUTF8(finished.body))
            bodyValue = text->toStdString();
        else
            return failure(HTTPRequestError::nonTextResponse);
    }

    QUrl finalURL = reply->url();
    if (finalURL.isEmpty())
        finalURL = request.url();
    json answer = json::object();
    answer["status"] = *finished.statusCode;
    answer["headers"] = std::move(headers);
    answer["url"] = finalURL.toString(QUrl::FullyEncoded).toStdString();
    answer["body"] = std::move(bodyValue);
    const std::optional<QByteArray> text = serialiseHostJSON(answer);
    if (!text)
        return failure(HTTPRequestError::invalidResponse);
    std::optional<QString> utf8 = strictUTF8(*text);
    if (!utf8)
        return failure(HTTPRequestError::invalidResponse);
    return std::move(*utf8);
}

} // namespace quill
