#pragma once

#include <QString>

namespace quill {

/// The ways a script's general HTTP request can fail before or after the network is involved.
enum class HTTPRequestError {
    invalidURL,
    invalidOptions,
    invalidMethod,
    invalidQuery,
    invalidHeaders,
    invalidBody,
    invalidResponse,
    responseTooLarge,
    nonTextResponse,
};

/// The message a script sees for the error.
QString errorDescription(HTTPRequestError error);

} // namespace quill
