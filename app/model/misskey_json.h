#pragma once

#include "app/common/result.h"
#include "app/model/misskey_note.h"
#include "app/model/response_envelopes.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <nlohmann/json.hpp>

namespace quill {

/// Why a body did not decode. Callers turn it into their own error; the text is for developers.
struct DecodeError {
    QString message;
};

/**
 * @brief Decodes a parsed JSON document into one of the Misskey value types.
 *
 * Keys are matched exactly; unknown keys are ignored; a required key that is missing, null or of the
 * wrong JSON type fails the whole value; an optional key that is missing or null stays absent.
 * Available for the types declared below.
 */
template <typename T>
Result<T, DecodeError> decodeJSONValue(const nlohmann::json &document);

template <>
Result<MisskeyUser, DecodeError> decodeJSONValue<MisskeyUser>(const nlohmann::json &document);
template <>
Result<MisskeyFile, DecodeError> decodeJSONValue<MisskeyFile>(const nlohmann::json &document);
template <>
Result<MisskeyNote, DecodeError> decodeJSONValue<MisskeyNote>(const nlohmann::json &document);
template <>
Result<QList<MisskeyNote>, DecodeError> decodeJSONValue<QList<MisskeyNote>>(const nlohmann::json &document);
template <>
Result<CreatedNoteResponse, DecodeError> decodeJSONValue<CreatedNoteResponse>(const nlohmann::json &document);
template <>
Result<MiAuthCheckResponse, DecodeError> decodeJSONValue<MiAuthCheckResponse>(const nlohmann::json &document);
template <>
Result<MisskeyAPIErrorEnvelope, DecodeError> decodeJSONValue<MisskeyAPIErrorEnvelope>(const nlohmann::json &document);

/// The deepest nesting of arrays and objects a Misskey body may have; real objects stay far below it.
inline constexpr int maxJSONNesting = 64;

/// Whether the arrays and objects of a JSON text nest at most `limit` deep (a quick scan, no parse).
bool isNestingWithin(QByteArrayView text, int limit);

/**
 * @brief Parses a body as JSON (a scalar at the top level is allowed).
 *
 * Malformed text, and nesting deeper than maxJSONNesting, is a DecodeError.
 */
Result<nlohmann::json, DecodeError> parseJSONBody(const QByteArray &body);

/// Parses and decodes a body; a timeline is decoded as QList<MisskeyNote>.
template <typename T>
Result<T, DecodeError> decodeJSON(const QByteArray &body)
{
    Result<nlohmann::json, DecodeError> document = parseJSONBody(body);
    if (!document)
        return Failure{document.error()};
    return decodeJSONValue<T>(document.value());
}

/// Encodes with the same keys as decoding; absent optionals are left out.
nlohmann::json toJSON(const MisskeyUser &user);
nlohmann::json toJSON(const MisskeyFile &file);
nlohmann::json toJSON(const MisskeyRenote &renote);
nlohmann::json toJSON(const MisskeyNote &note);

/// Compact JSON text of a value, as UTF-8 bytes.
template <typename T>
QByteArray encodeJSON(const T &value)
{
    return QByteArray::fromStdString(toJSON(value).dump());
}

} // namespace quill
