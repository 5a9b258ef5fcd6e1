#include "ui/relative_time.h"

#include <QLocale>

namespace quill {

QString relativeTimeText(const QDateTime &date, const QDateTime &now)
{
    if (!date.isValid())
        return QString();
    const qint64 seconds = date.secsTo(now);
    if (seconds < 5)
        return QStringLiteral("now");
    if (seconds < 60)
        return QStringLiteral("%1s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1m").arg(seconds / 60);
    if (seconds < 86400)
        return QStringLiteral("%1h").arg(seconds / 3600);
    if (seconds < 7 * 86400)
        return QStringLiteral("%1d").arg(seconds / 86400);
    const QDate local = date.toLocalTime().date();
    const bool sameYear = local.year() == now.toLocalTime().date().year();
    return QLocale().toString(local, sameYear ? QStringLiteral("d MMM") : QStringLiteral("d MMM yyyy"));
}

} // namespace quill
