#include "sandbox/sandbox_api.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QUuid>

#include <algorithm>

namespace quill::sandbox {

using nlohmann::json;

SandboxApi::SandboxApi(SandboxState &state, std::string baseURL)
    : m_state(state), m_baseURL(std::move(baseURL)), m_ids(state)
{
}

const std::string &SandboxApi::Call::myId() const
{
    static const std::string anonymous;
    return me ? me->id : anonymous;
}

const std::map<std::string, SandboxApi::Route> &SandboxApi::routes()
{
    // Reading public notes and profiles works without a token, as on a real instance; everything
    // that acts for an account, or reads its private side, needs one.
    static const std::map<std::string, Route> table{
        {"i", {&SandboxApi::i, true}},
        {"i/notifications", {&SandboxApi::notifications, true}},
        {"notifications/mark-all-as-read", {&SandboxApi::markAllRead, true}},
        {"meta", {&SandboxApi::meta, false}},
        {"notes/create", {&SandboxApi::notesCreate, true}},
        {"notes/show", {&SandboxApi::notesShow, false}},
        {"notes/delete", {&SandboxApi::notesDelete, true}},
        {"notes/reactions/create", {&SandboxApi::reactionsCreate, true}},
        {"notes/reactions/delete", {&SandboxApi::reactionsDelete, true}},
        {"notes/reactions", {&SandboxApi::reactionsList, false}},
        {"notes/timeline", {&SandboxApi::homeTimeline, true}},
        {"notes/local-timeline", {&SandboxApi::localTimeline, false}},
        {"notes/hybrid-timeline", {&SandboxApi::hybridTimeline, true}},
        {"notes/global-timeline", {&SandboxApi::globalTimeline, false}},
        {"notes/children", {&SandboxApi::children, false}},
        {"notes/replies", {&SandboxApi::children, false}},
        {"notes/renotes", {&SandboxApi::renotes, false}},
        {"notes/conversation", {&SandboxApi::conversation, false}},
        {"notes/favorites/create", {&SandboxApi::favouriteCreate, true}},
        {"notes/favorites/delete", {&SandboxApi::favouriteDelete, true}},
        {"notes/search", {&SandboxApi::search, false}},
        {"notes/mentions", {&SandboxApi::mentions, true}},
        {"notes/featured", {&SandboxApi::featured, false}},
        {"notes/polls/vote", {&SandboxApi::vote, true}},
        {"users/show", {&SandboxApi::usersShow, false}},
        {"users/search", {&SandboxApi::usersSearch, false}},
        {"users/notes", {&SandboxApi::usersNotes, false}},
        {"users/followers", {&SandboxApi::followers, false}},
        {"users/following", {&SandboxApi::followingList, false}},
        {"following/create", {&SandboxApi::follow, true}},
        {"following/delete", {&SandboxApi::unfollow, true}},
        {"mute/create", {&SandboxApi::mute, true}},
        {"mute/delete", {&SandboxApi::unmute, true}},
        {"blocking/create", {&SandboxApi::block, true}},
        {"blocking/delete", {&SandboxApi::unblock, true}},
        {"channels/show", {&SandboxApi::channelShow, false}},
        {"channels/follow", {&SandboxApi::channelFollow, true}},
        {"channels/unfollow", {&SandboxApi::channelUnfollow, true}},
        {"channels/favorite", {&SandboxApi::channelFavourite, true}},
        {"channels/unfavorite", {&SandboxApi::channelUnfavourite, true}},
        {"channels/timeline", {&SandboxApi::channelTimeline, false}},
        {"channels/featured", {&SandboxApi::channelsFeatured, false}},
        {"drive/files", {&SandboxApi::driveFiles, true}},
        {"drive/files/show", {&SandboxApi::driveFileShow, true}},
        {"drive/files/delete", {&SandboxApi::driveFileDelete, true}},
    };
    return table;
}

const SandboxUser *SandboxApi::userForToken(const std::string &token) const
{
    const auto found = m_state.tokens.find(token);
    return found == m_state.tokens.end() ? nullptr : m_state.user(found->second);
}

ApiReply SandboxApi::call(const std::string &endpoint, const json &params, const std::string &bearerToken)
{
    try {
        // MiAuth's check is the one endpoint with the session in its path; it needs no token.
        constexpr std::string_view miauthPrefix = "miauth/";
        constexpr std::string_view checkSuffix = "/check";
        if (endpoint.starts_with(miauthPrefix) && endpoint.ends_with(checkSuffix)
            && endpoint.size() > miauthPrefix.size() + checkSuffix.size()) {
            const std::string session =
                endpoint.substr(miauthPrefix.size(), endpoint.size() - miauthPrefix.size() - checkSuffix.size());
            const auto approved = m_state.miauthSessions.find(session);
            if (approved == m_state.miauthSessions.end())
                return {200, json{{"ok", false}}};
            const SandboxUser *user = userForToken(approved->second);
            return {200, json{{"ok", true}, {"token", approved->second}, {"user", user ? packUser(*user) : json()}}};
        }

        const auto route = routes().find(endpoint);
        if (route == routes().end())
            throw unknownEndpoint();
        if (!params.is_object())
            throw invalidParam("#/type", "must be object");

        std::string token = bearerToken;
        if (token.empty()) {
            if (const auto given = params.find("i"); given != params.end() && given->is_string())
                token = given->get<std::string>();
        }
        const SandboxUser *me = nullptr;
        if (!token.empty()) {
            me = userForToken(token);
            if (!me)
                throw authenticationFailed();
        } else if (route->second.needsCredential) {
            throw credentialRequired();
        }

        const Params reader(params);
        json body = (this->*route->second.handler)(Call{reader, me});
        if (body.is_null())
            return {204, std::nullopt};
        return {200, std::move(body)};
    } catch (const ApiError &error) {
        return {error.status, error.envelope()};
    } catch (const std::exception &error) {
        return {500, internalError(error.what()).envelope()};
    }
}

ApiReply SandboxApi::upload(const UploadedFile &file, const std::string &bearerToken)
{
    try {
        const SandboxUser *me = bearerToken.empty() ? nullptr : userForToken(bearerToken);
        if (bearerToken.empty()) {
            const auto given = file.fields.find("i");
            me = given == file.fields.end() ? nullptr : userForToken(given->second);
            if (given == file.fields.end())
                throw credentialRequired();
        }
        if (!me)
            throw authenticationFailed();

        const auto field = [&file](const char *key) {
            const auto found = file.fields.find(key);
            return found == file.fields.end() ? std::string() : found->second;
        };
        SandboxFile stored;
        stored.id = newId();
        stored.createdAt = isoTime(currentTimeMs());
        stored.userId = me->id;
        stored.name = field("name").empty() ? file.fileName : field("name");
        if (stored.name.empty())
            stored.name = "untitled";
        stored.type = file.contentType.empty() ? "application/octet-stream" : file.contentType;
        stored.comment = field("comment");
        stored.folderId = field("folderId");
        stored.isSensitive = field("isSensitive") == "true";
        stored.size = std::int64_t(file.bytes.size());
        const QByteArray bytes = QByteArray::fromStdString(file.bytes);
        stored.md5 = QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toStdString();
        stored.data = bytes.toBase64().toStdString();
        const SandboxFile &kept = m_state.files.emplace(stored.id, std::move(stored)).first->second;
        changed();
        return {200, packFile(kept)};
    } catch (const ApiError &error) {
        return {error.status, error.envelope()};
    }
}

void SandboxApi::approveMiAuth(const std::string &session)
{
    if (m_state.miauthSessions.contains(session))
        return;
    const std::string token =
        QUuid::createUuid().toString(QUuid::Id128).toStdString() + QUuid::createUuid().toString(QUuid::Id128).toStdString();
    m_state.tokens.emplace(token, m_state.sandboxUserId);
    m_state.miauthSessions.emplace(session, token);
    changed();
}

std::string SandboxApi::newId()
{
    return m_ids.next(currentTimeMs());
}

void SandboxApi::changed()
{
    if (onStateChanged)
        onStateChanged();
}

void SandboxApi::notify(const std::string &recipientId, const std::string &type, const std::string &notifierId,
                        const std::string &noteId, const std::string &reaction)
{
    if (recipientId == notifierId || m_state.mutes.contains({recipientId, notifierId})
        || m_state.blocks.contains({recipientId, notifierId}))
        return;
    SandboxNotification notification{newId(), isoTime(currentTimeMs()), recipientId, type, notifierId, noteId,
                                     reaction, false};
    // Old notifications go, as on a real instance; a long-running sandbox stays small.
    constexpr std::size_t kept = 500;
    if (m_state.notifications.size() >= kept)
        m_state.notifications.erase(m_state.notifications.begin());
    m_state.notifications.push_back(notification);
    if (onMainEvent)
        onMainEvent(recipientId, "notification", packNotification(notification));
}

const SandboxNote &SandboxApi::noteOrThrow(const std::string &id) const
{
    const auto found = m_state.notes.find(id);
    if (found == m_state.notes.end())
        throw clientError("NO_SUCH_NOTE", "No such note.");
    return found->second;
}

const SandboxUser &SandboxApi::userOrThrow(const std::string &id) const
{
    const SandboxUser *user = m_state.user(id);
    if (!user)
        throw clientError("NO_SUCH_USER", "No such user.");
    return *user;
}

const SandboxChannel &SandboxApi::channelOrThrow(const std::string &id) const
{
    const auto found = std::find_if(m_state.channels.begin(), m_state.channels.end(),
                                    [&id](const SandboxChannel &channel) { return channel.id == id; });
    if (found == m_state.channels.end())
        throw clientError("NO_SUCH_CHANNEL", "No such channel.");
    return *found;
}

bool SandboxApi::visibleTo(const SandboxNote &note, const std::string &viewerId) const
{
    if (note.userId == viewerId)
        return true;
    if (!viewerId.empty() && m_state.blocks.contains({note.userId, viewerId}))
        return false;
    const bool mentioned = std::find(note.mentions.begin(), note.mentions.end(), viewerId) != note.mentions.end();
    if (note.visibility == "followers")
        return !viewerId.empty() && (mentioned || m_state.following.contains({viewerId, note.userId}));
    if (note.visibility == "specified")
        return !viewerId.empty() && mentioned;
    return true;
}

bool SandboxApi::hidesAuthor(const SandboxNote &note, const std::string &viewerId) const
{
    return !viewerId.empty() && note.userId != viewerId
           && (m_state.mutes.contains({viewerId, note.userId}) || m_state.blocks.contains({viewerId, note.userId}));
}

bool SandboxApi::onTimeline(const SandboxNote &note, TimelineChannel channel, const std::string &viewerId) const
{
    if (!note.channelId.empty() || !visibleTo(note, viewerId) || hidesAuthor(note, viewerId))
        return false;
    const bool home = !viewerId.empty() && (note.userId == viewerId || m_state.following.contains({viewerId, note.userId}));
    const bool isPublic = note.visibility == "public";
    switch (channel) {
    case TimelineChannel::home: return home;
    case TimelineChannel::local:
    case TimelineChannel::global: return isPublic;
    case TimelineChannel::hybrid: return home || isPublic;
    }
    return false;
}

json SandboxApi::page(const Call &call, const std::function<bool(const SandboxNote &)> &keep) const
{
    const int limit = call.params.limit();
    const std::string sinceId = call.params.optionalString("sinceId");
    const std::string untilId = call.params.optionalString("untilId");
    const auto wanted = [&](const SandboxNote &note) {
        return (sinceId.empty() || note.id > sinceId) && (untilId.empty() || note.id < untilId)
               && visibleTo(note, call.myId()) && keep(note);
    };
    std::vector<const SandboxNote *> chosen;
    if (!sinceId.empty() && untilId.empty()) {
        // Paging forward takes the notes right after sinceId, so that a bot catching up skips none.
        for (auto it = m_state.notes.upper_bound(sinceId); it != m_state.notes.end() && int(chosen.size()) < limit; ++it) {
            if (wanted(it->second))
                chosen.push_back(&it->second);
        }
        std::reverse(chosen.begin(), chosen.end());
    } else {
        for (auto it = m_state.notes.rbegin(); it != m_state.notes.rend() && int(chosen.size()) < limit; ++it) {
            if (wanted(it->second))
                chosen.push_back(&it->second);
        }
    }
    json notes = json::array();
    for (const SandboxNote *note : chosen)
        notes.push_back(packNote(*note, call.myId()));
    return notes;
}

} // namespace quill::sandbox
