#pragma once

#include <QDateTime>
#include <QString>

namespace quill {

/**
 * @brief A note's age as a short text: "now", "42s", "5m", "3h", "6d", then the date.
 *
 * Dates slightly in the future (a server clock ahead of ours) read "now" rather than a negative age.
 */
QString relativeTimeText(const QDateTime &date, const QDateTime &now = QDateTime::currentDateTimeUtc());

} // namespace quill
