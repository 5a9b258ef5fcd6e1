#include "app/script/http_request_error.h"

namespace quill {

QString errorDescription(HTTPRequestError error)
{
    switch (error) {
    case HTTPRequestError::invalidURL:
        return QStringLiteral("HTTP requests require an absolute http:// or https:// URL.");
    case HTTPRequestError::invalidOptions:
        return QStringLiteral("HTTP request options must be a table.");
    case HTTPRequestError::invalidMethod:
        return QStringLiteral("The HTTP method is invalid.");
    case HTTPRequestError::invalidQuery:
        return QStringLiteral("HTTP query values must be strings, numbers, booleans, or arrays of those values.");
    case HTTPRequestError::invalidHeaders:
        return QStringLiteral("HTTP headers must contain valid string names and values.");
    case HTTPRequestError::invalidBody:
        return QStringLiteral("The HTTP body is invalid.");
    case HTTPRequestError::invalidResponse:
        return QStringLiteral("The HTTP server returned an invalid response.");
    case HTTPRequestError::responseTooLarge:
        return QStringLiteral("The HTTP response exceeds the 10 MiB limit.");
    case HTTPRequestError::nonTextResponse:
        return QStringLiteral("The HTTP response is neither JSON nor UTF-8 text.");
    }
    return QStringLiteral("The HTTP server returned an invalid response.");
}

} // namespace quill
