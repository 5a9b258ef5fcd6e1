#include "app/model/misskey_user.h"

namespace quill {

QString MisskeyUser::displayName() const
{
    if (name) {
        const QString trimmed = name->trimmed();
        if (!trimmed.isEmpty())
            return trimmed;
    }
    return username;
}

QString MisskeyUser::handle() const
{
    QString text = QLatin1Char('@') + username;
    // An empty host is treated like a local account: never a dangling second "@".
    if (host && !host->isEmpty())
        text += QLatin1Char('@') + *host;
    return text;
}

} // namespace quill
