#include "app/model/internet_date.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace quill {

namespace {

// Date, "T", time, optional fraction, then "Z" or a numeric offset. RFC 3339 allows lower-case
// "t" and "z"; the fraction may have any number of digits. Only ASCII digits count.
const QRegularExpression &internetDatePattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^([0-9]{4})-([0-9]{2})-([0-9]{2})[Tt]([0-9]{2}):([0-9]{2}):([0-9]{2})(?:\.([0-9]+))?(?:([Zz])|([+-])([0-9]{2}):([0-9]{2}))$)"));
    return pattern;
}

int milliseconds(QStringView fraction)
{
    // Keep three digits: "5" is 500 ms, "0071" is 7 ms.
    QString digits = fraction.left(3).toString();
    while (digits.size() < 3)
        digits += QLatin1Char('0');
    return digits.toInt();
}

} // namespace

std::optional<QDateTime> parseInternetDate(QStringView text)
{
    const QRegularExpressionMatch match = internetDatePattern().match(text);
    if (!match.hasMatch())
        return std::nullopt;

    auto number = [&match](int group) { return match.capturedView(group).toInt(); };
    const QDate date(number(1), number(2), number(3));
    const QTime time(number(4), number(5), number(6), milliseconds(match.capturedView(7)));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    int offsetSeconds = 0;
    if (match.capturedView(8).isEmpty()) {
        const int hours = number(10);
        const int minutes = number(11);
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 60 + minutes) * 60;
        if (match.capturedView(9) == u"-")
            offsetSeconds = -offsetSeconds;
    }

    const QDateTime local(date, time, QTimeZone::utc());
    return local.addSecs(-offsetSeconds);
}

} // namespace quill
