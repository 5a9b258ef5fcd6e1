#pragma once

#include <QByteArray>
#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

namespace quill {

/**
 * @brief Parses JSON text that came from a script or a server.
 *
 * Nesting is bounded before the parser sees the text, so hostile input cannot exhaust the stack.
 * On failure `error` (when given) receives the parser's description.
 */
std::optional<nlohmann::json> parseHostJSON(const QByteArray &text, bool allowScalars, QString *error = nullptr);

/// Compact JSON text, or nothing when the value holds text that is not UTF-8.
std::optional<QByteArray> serialiseHostJSON(const nlohmann::json &value);

/// The bytes as text when they are well-formed UTF-8.
std::optional<QString> strictUTF8(const QByteArray &bytes);

} // namespace quill
