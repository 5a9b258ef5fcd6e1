#include "sandbox/api_error.h"

#include <map>
#include <QUuid>

namespace quill::sandbox {

using nlohmann::json;

namespace {

// Misskey gives every error a fixed UUID. The well-known ones are Misskey's own; the others get a
// stable one derived from their code, so that a client may compare ids across runs.
std::string errorId(const std::string &code)
{
    static const std::map<std::string, std::string> known{
        {"INVALID_PARAM", "3d81ceae-475f-4600-b2a8-2bc116157532"},
        {"NO_SUCH_NOTE", "24fcbfc6-2e37-42b6-8388-c29b3861a08d"},
        {"AUTHENTICATION_FAILED", "b0a7f5f8-dc2f-4171-b91f-de88ad238e14"},
        {"CREDENTIAL_REQUIRED", "1384574d-a912-4b81-8601-c7b1c4085df1"},
        {"UNKNOWN_API_ENDPOINT", "2ca3b769-540a-4f08-9dd5-b5a825b6d0f1"},
        {"INTERNAL_ERROR", "5d37dbcb-891e-41ca-a3d6-e690c97775ac"},
    };
    if (const auto found = known.find(code); found != known.end())
        return found->second;
    const QUuid derived = QUuid::createUuidV5(QUuid(QStringLiteral("{6f1d3b52-0c1e-4a8e-9a57-2b9f0e4c7d31}")),
                                              QByteArray::fromStdString(code));
    return derived.toString(QUuid::WithoutBraces).toStdString();
}

} // namespace

json ApiError::envelope() const
{
    json payload = {{"message", message}, {"code", code}, {"id", errorId(code)}, {"kind", kind}};
    if (!info.is_null())
        payload["info"] = info;
    return {{"error", payload}};
}

ApiError invalidParam(const std::string &param, const std::string &reason)
{
    return ApiError{400, "INVALID_PARAM", "Invalid param.", "client", {{"param", param}, {"reason", reason}}};
}

ApiError clientError(const std::string &code, const std::string &message)
{
    return ApiError{400, code, message, "client", nullptr};
}

ApiError unknownEndpoint()
{
    return ApiError{404, "UNKNOWN_API_ENDPOINT", "Unknown API endpoint.", "client", nullptr};
}

ApiError credentialRequired()
{
    return ApiError{401, "CREDENTIAL_REQUIRED", "Credential required.", "client", nullptr};
}

ApiError authenticationFailed()
{
    return ApiError{401, "AUTHENTICATION_FAILED", "Authentication failed. Please ensure your token is correct.",
                    "client", nullptr};
}

ApiError internalError(const std::string &what)
{
    return ApiError{500, "INTERNAL_ERROR", "Internal error occurred. Please contact us if the error persists.",
                    "server", {{"e", {{"message", what}, {"code", "Error"}}}}};
}

const json *Params::find(const char *key) const
{
    const auto found = m_object.find(key);
    return found == m_object.end() || found->is_null() ? nullptr : &*found;
}

bool Params::has(const char *key) const
{
    return find(key) != nullptr;
}

std::string Params::requiredString(const char *key) const
{
    const json *value = find(key);
    if (!value)
        throw invalidParam("#/required", std::string("must have required property '") + key + "'");
    if (!value->is_string())
        throw invalidParam(std::string("#/properties/") + key + "/type", "must be string");
    return value->get<std::string>();
}

std::string Params::optionalString(const char *key) const
{
    return has(key) ? requiredString(key) : std::string();
}

bool Params::optionalBool(const char *key, bool fallback) const
{
    const json *value = find(key);
    if (!value)
        return fallback;
    if (!value->is_boolean())
        throw invalidParam(std::string("#/properties/") + key + "/type", "must be boolean");
    return value->get<bool>();
}

int Params::optionalInteger(const char *key, int fallback, int minimum, int maximum) const
{
    const json *value = find(key);
    if (!value)
        return fallback;
    const std::string where = std::string("#/properties/") + key;
    if (!value->is_number_integer())
        throw invalidParam(where + "/type", "must be integer");
    const auto number = value->get<std::int64_t>();
    if (number < minimum)
        throw invalidParam(where + "/minimum", "must be >= " + std::to_string(minimum));
    if (number > maximum)
        throw invalidParam(where + "/maximum", "must be <= " + std::to_string(maximum));
    return int(number);
}

std::vector<std::string> Params::optionalStringArray(const char *key) const
{
    const json *value = find(key);
    if (!value)
        return {};
    const std::string where = std::string("#/properties/") + key;
    if (!value->is_array())
        throw invalidParam(where + "/type", "must be array");
    std::vector<std::string> items;
    for (const json &item : *value) {
        if (!item.is_string())
            throw invalidParam(where + "/items/type", "must be string");
        items.push_back(item.get<std::string>());
    }
    return items;
}

} // namespace quill::sandbox
