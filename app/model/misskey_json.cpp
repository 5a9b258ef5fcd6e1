#include "app/model/misskey_json.h"

#include <cmath>
#include <limits>
#include <string>

namespace quill {

namespace {

using nlohmann::json;

// Thrown inside this file only: the public decoders catch it and return a DecodeError.
struct DecodeFailure {
    QString message;
};

[[noreturn]] void fail(const QString &path, const char *key, const char *problem)
{
    throw DecodeFailure{path + QLatin1Char('.') + QLatin1String(key) + QLatin1Char(' ') +
                        QLatin1String(problem)};
}

void requireObject(const json &value, const QString &path)
{
    if (!value.is_object())
        throw DecodeFailure{path + QStringLiteral(" is not an object")};
}

// The value under key, or nullptr when the key is missing or null (both mean "absent").
const json *present(const json &object, const char *key)
{
    const auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return nullptr;
    return &*found;
}

QString toQString(const json &value)
{
    return QString::fromStdString(value.get_ref<const std::string &>());
}

std::optional<QString> optionalString(const json &object, const char *key, const QString &path)
{
    const json *value = present(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_string())
        fail(path, key, "is not a text");
    return toQString(*value);
}

QString requiredString(const json &object, const char *key, const QString &path)
{
    std::optional<QString> value = optionalString(object, key, path);
    if (!value)
        fail(path, key, "is missing");
    return *value;
}

std::optional<bool> optionalBool(const json &object, const char *key, const QString &path)
{
    const json *value = present(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_boolean())
        fail(path, key, "is not a boolean");
    return value->get<bool>();
}

bool requiredBool(const json &object, const char *key, const QString &path)
{
    std::optional<bool> value = optionalBool(object, key, path);
    if (!value)
        fail(path, key, "is missing");
    return *value;
}

// An integer count; a float is accepted only when it is a whole number in range.
std::optional<qint64> integerValue(const json &value)
{
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return static_cast<qint64>(number);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // 2^63 is exactly representable; anything at or above it does not fit.
        if (std::isfinite(number) && std::trunc(number) == number && number >= -9223372036854775808.0 &&
            number < 9223372036854775808.0)
            return static_cast<qint64>(number);
    }
    return std::nullopt;
}

std::optional<ReactionCounts> optionalReactions(const json &object, const char *key, const QString &path)
{
    const json *value = present(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_object())
        fail(path, key, "is not an object");
    ReactionCounts counts;
    for (const auto &[reaction, count] : value->items()) {
        const std::optional<qint64> number = integerValue(count);
        if (!number)
            fail(path, key, "holds a count that is not an integer");
        counts.insert(QString::fromStdString(reaction), *number);
    }
    return counts;
}

MisskeyUser decodeUser(const json &object, const QString &path)
{
    requireObject(object, path);
    MisskeyUser user;
    user.id = requiredString(object, "id", path);
    user.name = optionalString(object, "name", path);
    user.username = requiredString(object, "username", path);
    user.host = optionalString(object, "host", path);
    user.avatarURLString = optionalString(object, "avatarUrl", path);
    user.isBot = optionalBool(object, "isBot", path);
    return user;
}

MisskeyUser requiredUser(const json &object, const char *key, const QString &path)
{
    const json *value = present(object, key);
    if (!value)
        fail(path, key, "is missing");
    return decodeUser(*value, path + QLatin1Char('.') + QLatin1String(key));
}

MisskeyFile decodeFile(const json &object, const QString &path)
{
    requireObject(object, path);
    MisskeyFile file;
    file.id = requiredString(object, "id", path);
    file.name = optionalString(object, "name", path);
    file.type = optionalString(object, "type", path);
    file.urlString = optionalString(object, "url", path);
    file.thumbnailURLString = optionalString(object, "thumbnailUrl", path);
    return file;
}

std::optional<QList<MisskeyFile>> optionalFiles(const json &object, const char *key, const QString &path)
{
    const json *value = present(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_array())
        fail(path, key, "is not a list");
    QList<MisskeyFile> files;
    files.reserve(static_cast<qsizetype>(value->size()));
    for (std::size_t index = 0; index < value->size(); ++index) {
        const QString itemPath = path + QLatin1Char('.') + QLatin1String(key) + QLatin1Char('[') +
                                 QString::number(index) + QLatin1Char(']');
        files.append(decodeFile((*value)[index], itemPath));
    }
    return files;
}

/// The fields a note and an embedded renote share.
template <typename NoteLike>
void decodeNoteContent(NoteLike &note, const json &object, const QString &path)
{
    requireObject(object, path);
    note.id = requiredString(object, "id", path);
    note.createdAt = requiredString(object, "createdAt", path);
    note.text = optionalString(object, "text", path);
    note.cw = optionalString(object, "cw", path);
    note.user = requiredUser(object, "user", path);
    note.visibility = optionalString(object, "visibility", path);
    note.reactions = optionalReactions(object, "reactions", path);
    note.myReaction = optionalString(object, "myReaction", path);
    note.files = optionalFiles(object, "files", path);
}

MisskeyRenote decodeRenote(const json &object, const QString &path)
{
    MisskeyRenote renote;
    decodeNoteContent(renote, object, path);
    return renote;
}

MisskeyNote decodeNote(const json &object, const QString &path)
{
    MisskeyNote note;
    decodeNoteContent(note, object, path);
    note.replyID = optionalString(object, "replyId", path);
    note.renoteID = optionalString(object, "renoteId", path);
    note.hasPoll = present(object, "poll") != nullptr;
    // Optional, but when present the embedded note must be complete.
    if (const json *renote = present(object, "renote"))
        note.renote = decodeRenote(*renote, path + QStringLiteral(".renote"));
    return note;
}

QList<MisskeyNote> decodeNoteList(const json &array, const QString &path)
{
    if (!array.is_array())
        throw DecodeFailure{path + QStringLiteral(" is not a list")};
    QList<MisskeyNote> notes;
    notes.reserve(static_cast<qsizetype>(array.size()));
    for (std::size_t index = 0; index < array.size(); ++index)
        notes.append(decodeNote(array[index], path + QLatin1Char('[') + QString::number(index) + QLatin1Char(']')));
    return notes;
}

CreatedNoteResponse decodeCreatedNote(const json &object, const QString &path)
{
    requireObject(object, path);
    const json *note = present(object, "createdNote");
    if (!note)
        fail(path, "createdNote", "is missing");
    return CreatedNoteResponse{decodeNote(*note, path + QStringLiteral(".createdNote"))};
}

MiAuthCheckResponse decodeMiAuthCheck(const json &object, const QString &path)
{
    requireObject(object, path);
    MiAuthCheckResponse response;
    response.ok = requiredBool(object, "ok", path);
    response.token = optionalString(object, "token", path);
    if (const json *user = present(object, "user"))
        response.user = decodeUser(*user, path + QStringLiteral(".user"));
    return response;
}

MisskeyAPIErrorEnvelope decodeErrorEnvelope(const json &object, const QString &path)
{
    requireObject(object, path);
    const json *payload = present(object, "error");
    if (!payload)
        fail(path, "error", "is missing");
    const QString payloadPath = path + QStringLiteral(".error");
    requireObject(*payload, payloadPath);
    MisskeyAPIErrorEnvelope envelope;
    envelope.error.message = optionalString(*payload, "message", payloadPath);
    envelope.error.code = optionalString(*payload, "code", payloadPath);
    envelope.error.id = optionalString(*payload, "id", payloadPath);
    envelope.error.kind = optionalString(*payload, "kind", payloadPath);
    return envelope;
}

template <typename T, typename Decoder>
Result<T, DecodeError> run(const json &document, Decoder decoder)
{
    try {
        return decoder(document, QStringLiteral("$"));
    } catch (const DecodeFailure &failure) {
        return Failure{DecodeError{failure.message}};
    }
}

void putOptional(json &object, const char *key, const std::optional<QString> &value)
{
    if (value)
        object[key] = value->toStdString();
}

json toJSON(const ReactionCounts &reactions)
{
    json object = json::object();
    for (auto it = reactions.cbegin(); it != reactions.cend(); ++it)
        object[it.key().toStdString()] = it.value();
    return object;
}

json toJSON(const QList<MisskeyFile> &files)
{
    json array = json::array();
    for (const MisskeyFile &file : files)
        array.push_back(toJSON(file));
    return array;
}

} // namespace

bool isNestingWithin(QByteArrayView text, int limit)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char character : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (character == '\\')
                escaped = true;
            else if (character == '"')
                inString = false;
            continue;
        }
        switch (character) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > limit)
                return false;
            break;
        case ']':
        case '}':
            // Unbalanced closers are the parser's to reject; the count only has to stay honest.
            if (depth > 0)
                --depth;
            break;
        default:
            break;
        }
    }
    return true;
}

Result<nlohmann::json, DecodeError> parseJSONBody(const QByteArray &body)
{
    // A hostile body of nested brackets would otherwise build millions of containers before failing.
    if (!isNestingWithin(body, maxJSONNesting))
        return Failure{DecodeError{QStringLiteral("the body nests deeper than %1 levels").arg(maxJSONNesting)}};
    // No exceptions from the parser: a malformed body is an ordinary decode failure.
    json document = json::parse(body.cbegin(), body.cend(), nullptr, false);
    if (document.is_discarded())
        return Failure{DecodeError{QStringLiteral("the body is not valid JSON")}};
    return document;
}

template <>
Result<MisskeyUser, DecodeError> decodeJSONValue<MisskeyUser>(const nlohmann::json &document)
{
    return run<MisskeyUser>(document, decodeUser);
}

template <>
Result<MisskeyFile, DecodeError> decodeJSONValue<MisskeyFile>(const nlohmann::json &document)
{
    return run<MisskeyFile>(document, decodeFile);
}

template <>
Result<MisskeyNote, DecodeError> decodeJSONValue<MisskeyNote>(const nlohmann::json &document)
{
    return run<MisskeyNote>(document, decodeNote);
}

template <>
Result<QList<MisskeyNote>, DecodeError> decodeJSONValue<QList<MisskeyNote>>(const nlohmann::json &document)
{
    return run<QList<MisskeyNote>>(document, decodeNoteList);
}

template <>
Result<CreatedNoteResponse, DecodeError> decodeJSONValue<CreatedNoteResponse>(const nlohmann::json &document)
{
    return run<CreatedNoteResponse>(document, decodeCreatedNote);
}

template <>
Result<MiAuthCheckResponse, DecodeError> decodeJSONValue<MiAuthCheckResponse>(const nlohmann::json &document)
{
    return run<MiAuthCheckResponse>(document, decodeMiAuthCheck);
}

template <>
Result<MisskeyAPIErrorEnvelope, DecodeError> decodeJSONValue<MisskeyAPIErrorEnvelope>(const nlohmann::json &document)
{
    return run<MisskeyAPIErrorEnvelope>(document, decodeErrorEnvelope);
}


nlohmann::json toJSON(const MisskeyUser &user)
{
    json object = json::object();
    object["id"] = user.id.toStdString();
    putOptional(object, "name", user.name);
    object["username"] = user.username.toStdString();
    putOptional(object, "host", user.host);
    putOptional(object, "avatarUrl", user.avatarURLString);
    if (user.isBot)
        object["isBot"] = *user.isBot;
    return object;
}

nlohmann::json toJSON(const MisskeyFile &file)
{
    json object = json::object();
    object["id"] = file.id.toStdString();
    putOptional(object, "name", file.name);
    putOptional(object, "type", file.type);
    putOptional(object, "url", file.urlString);
    putOptional(object, "thumbnailUrl", file.thumbnailURLString);
    return object;
}

nlohmann::json toJSON(const MisskeyRenote &renote)
{
    json object = json::object();
    object["id"] = renote.id.toStdString();
    object["createdAt"] = renote.createdAt.toStdString();
    putOptional(object, "text", renote.text);
    putOptional(object, "cw", renote.cw);
    object["user"] = toJSON(renote.user);
    putOptional(object, "visibility", renote.visibility);
    if (renote.reactions)
        object["reactions"] = toJSON(*renote.reactions);
    putOptional(object, "myReaction", renote.myReaction);
    if (renote.files)
        object["files"] = toJSON(*renote.files);
    return object;
}

nlohmann::json toJSON(const MisskeyNote &note)
{
    json object = json::object();
    object["id"] = note.id.toStdString();
    object["createdAt"] = note.createdAt.toStdString();
    putOptional(object, "text", note.text);
    putOptional(object, "cw", note.cw);
    object["user"] = toJSON(note.user);
    putOptional(object, "visibility", note.visibility);
    putOptional(object, "replyId", note.replyID);
    putOptional(object, "renoteId", note.renoteID);
    if (note.renote)
        object["renote"] = toJSON(*note.renote);
    if (note.reactions)
        object["reactions"] = toJSON(*note.reactions);
    putOptional(object, "myReaction", note.myReaction);
    if (note.files)
        object["files"] = toJSON(*note.files);
    if (note.hasPoll)
        object["poll"] = json::object();
    return object;
}

} // namespace quill
