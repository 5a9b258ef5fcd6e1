#pragma once

#include "app/api/misskey_api_error.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace quill {

/// The only hosts that may be reached over plain http ("localhost", "127.0.0.1", "::1", any case).
bool isLoopbackHost(const QString &host);

/**
 * @brief Why the token may not be sent to this instance address, if it may not.
 *
 * https is always allowed, plain http only to this machine (`insecureInstance` otherwise); any other
 * scheme, or no host, is `invalidInstance`. The REST and streaming clients check it before every
 * connection, whatever address they were given.
 */
std::optional<MisskeyAPIError> transportRefusal(const QUrl &instanceURL);

} // namespace quill
