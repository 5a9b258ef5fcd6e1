#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace quill::sandbox {

/// A refused API call, thrown by an endpoint and turned into Misskey's error envelope:
/// {"error":{"message","code","id","kind","info"?}} with the HTTP status.
struct ApiError {
    int status = 400;
    std::string code;
    std::string message;
    std::string kind = "client";
    nlohmann::json info; ///< null when there is none

    nlohmann::json envelope() const;
};

ApiError invalidParam(const std::string &param, const std::string &reason);
ApiError clientError(const std::string &code, const std::string &message);
ApiError unknownEndpoint();
ApiError credentialRequired();
ApiError authenticationFailed();
ApiError internalError(const std::string &what);

/// Reading request parameters with Misskey's validation errors.
class Params {
public:
    explicit Params(const nlohmann::json &object) : m_object(object) {}

    const nlohmann::json &raw() const { return m_object; }
    bool has(const char *key) const;
    std::string requiredString(const char *key) const;
    /// Empty when missing or null.
    std::string optionalString(const char *key) const;
    bool optionalBool(const char *key, bool fallback) const;
    int optionalInteger(const char *key, int fallback, int minimum, int maximum) const;
    /// The usual "limit": 1 to 100.
    int limit(int fallback = 10) const { return optionalInteger("limit", fallback, 1, 100); }
    std::vector<std::string> optionalStringArray(const char *key) const;

private:
    const nlohmann::json *find(const char *key) const;
    const nlohmann::json &m_object;
};

} // namespace quill::sandbox
