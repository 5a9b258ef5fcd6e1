#include "app/api/stream_message.h"

#include "app/model/misskey_json.h"

#include <nlohmann/json.hpp>

#include <array>

namespace quill {

namespace {

using nlohmann::json;

const json *member(const json &object, const char *key)
{
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

bool isMainChannelEvent(const std::string &type)
{
    static constexpr std::array<const char *, 3> shown = {"notification", "mention", "reply"};
    for (const char *candidate : shown) {
        if (type == candidate)
            return true;
    }
    return false;
}

StreamDelivery eventDelivery(const std::string &type)
{
    StreamDelivery delivery;
    delivery.kind = StreamDelivery::Kind::event;
    delivery.event = QString::fromStdString(type);
    return delivery;
}

} // namespace

QByteArray connectRequest(const QString &channel, const QString &id)
{
    const json request = {{"type", "connect"},
                          {"body", {{"channel", channel.toStdString()}, {"id", id.toStdString()}, {"params", json::object()}}}};
    return QByteArray::fromStdString(request.dump());
}

Result<StreamDelivery, MisskeyAPIError> interpretStreamMessage(const QByteArray &bytes,
                                                               const StreamSubscription &subscription)
{
    const Result<json, DecodeError> parsed = parseJSONBody(bytes);
    if (!parsed)
        return Failure{MisskeyAPIError::invalidResponse()};
    const json &message = parsed.value();

    if (!message.is_object() || message.value("type", json()) != "channel")
        return StreamDelivery{};
    const json *body = member(message, "body");
    if (!body || !body->is_object())
        return StreamDelivery{};
    const json *type = member(*body, "type");
    if (!type || !type->is_string())
        return StreamDelivery{};
    const std::string &typeText = type->get_ref<const std::string &>();

    const json *id = member(*body, "id");
    if (id && id->is_string() && !subscription.mainID.isEmpty() &&
        id->get_ref<const std::string &>() == subscription.mainID.toStdString()) {
        if (isMainChannelEvent(typeText))
            return eventDelivery(typeText);
        return StreamDelivery{};
    }

    if (typeText != "note")
        return eventDelivery(typeText);
    const json *note = member(*body, "body");
    if (!note || note->is_null())
        return eventDelivery(typeText);
    Result<MisskeyNote, DecodeError> decoded = decodeJSONValue<MisskeyNote>(*note);
    if (!decoded)
        return Failure{MisskeyAPIError::invalidResponse()};
    StreamDelivery delivery;
    delivery.kind = StreamDelivery::Kind::note;
    delivery.note = std::move(decoded).value();
    return delivery;
}

} // namespace quill
