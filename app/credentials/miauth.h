#pragma once

#include "app/api/misskey_api.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>

namespace quill {

/// The permissions a MiAuth login asks for, in the order the page lists them.
QStringList miAuthPermissions();

/// The browser address of a MiAuth session: <instance>/miauth/<session id>?name=Quill&permission=...
APIResult<QUrl> miAuthURL(const QUrl &instanceURL, const QString &sessionID);

/// How often and how long a MiAuth login asks whether the user has approved it.
struct MiAuthSchedule {
    std::chrono::milliseconds pollInterval{std::chrono::seconds(2)};
    /// 150 checks at 2 s: about five minutes.
    int maxChecks = 150;
};

} // namespace quill
