#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace quill {

/**
 * @brief Takes the value that follows the option at `index` into `slot` and moves `index` onto it.
 *
 * The same rules hold for every program's options: each may be given once, and always with a value.
 * Returns the message for standard error when the option breaks one of them.
 */
inline std::optional<QString> takeOptionValue(const QStringList &arguments, qsizetype &index,
                                              std::optional<QString> &slot)
{
    const QString &option = arguments.at(index);
    if (slot)
        return option + QStringLiteral(" is given more than once.");
    if (index + 1 >= arguments.size())
        return option + QStringLiteral(" needs a value.");
    slot = arguments.at(++index);
    return std::nullopt;
}

} // namespace quill
