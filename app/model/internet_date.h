#pragma once

#include <QDateTime>
#include <QStringView>

#include <optional>

namespace quill {

/**
 * @brief Parses an RFC 3339 internet date-time ("2025-11-20T13:10:42.007Z", "...T13:10:42+09:00").
 *
 * Fractional seconds are optional and kept to the millisecond. Anything else, including a date
 * without a time or a time without an offset, yields no value. The result is in UTC.
 */
std::optional<QDateTime> parseInternetDate(QStringView text);

} // namespace quill
