// The account side of the sandbox API: the signed-in user, other users and the relations between
// them, notifications, channels and the drive.
#include "sandbox/sandbox_api.h"

#include <algorithm>

namespace quill::sandbox {

using nlohmann::json;

namespace {

bool containsFolded(std::string text, std::string part)
{
    const auto fold = [](std::string &value) {
        std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    };
    fold(text);
    fold(part);
    return text.find(part) != std::string::npos;
}

} // namespace

json SandboxApi::i(const Call &call)
{
    json me = packDetailedUser(*call.me, {});
    const bool unread = std::any_of(m_state.notifications.begin(), m_state.notifications.end(),
                                    [&](const SandboxNotification &n) { return n.recipientId == call.myId() && !n.isRead; });
    me.update({{"avatarId", nullptr},
               {"bannerId", nullptr},
               {"isModerator", false},
               {"isAdmin", false},
               {"injectFeaturedNote", true},
               {"alwaysMarkNsfw", false},
               {"autoSensitive", false},
               {"carefulBot", false},
               {"autoAcceptFollowed", true},
               {"noCrawle", false},
               {"isExplorable", true},
               {"isDeleted", false},
               {"hideOnlineStatus", false},
               {"hasUnreadNotification", unread},
               {"hasUnreadMentions", unread},
               {"mutedWords", json::array()},
               {"email", nullptr},
               {"emailVerified", false},
               {"policies", json::object()}});
    return me;
}

json SandboxApi::notifications(const Call &call)
{
    const Params &params = call.params;
    const int limit = params.limit();
    const std::string sinceId = params.optionalString("sinceId");
    const std::string untilId = params.optionalString("untilId");
    const bool markAsRead = params.optionalBool("markAsRead", true);
    const std::vector<std::string> include = params.optionalStringArray("includeTypes");
    const std::vector<std::string> exclude = params.optionalStringArray("excludeTypes");
    const auto listed = [](const std::vector<std::string> &types, const std::string &type) {
        return std::find(types.begin(), types.end(), type) != types.end();
    };
    json list = json::array();
    for (auto it = m_state.notifications.rbegin(); it != m_state.notifications.rend() && int(list.size()) < limit; ++it) {
        SandboxNotification &notification = *it;
        if (notification.recipientId != call.myId() || (!sinceId.empty() && notification.id <= sinceId)
            || (!untilId.empty() && notification.id >= untilId) || (!include.empty() && !listed(include, notification.type))
            || listed(exclude, notification.type))
            continue;
        list.push_back(packNotification(notification));
        if (markAsRead)
            notification.isRead = true;
    }
    if (markAsRead && !list.empty())
        changed();
    return list;
}

json SandboxApi::markAllRead(const Call &call)
{
    for (SandboxNotification &notification : m_state.notifications) {
        if (notification.recipientId == call.myId())
            notification.isRead = true;
    }
    changed();
    return nullptr;
}

json SandboxApi::usersShow(const Call &call)
{
    const Params &params = call.params;
    if (params.has("userIds")) {
        json users = json::array();
        for (const std::string &id : params.optionalStringArray("userIds")) {
            if (const SandboxUser *user = m_state.user(id))
                users.push_back(packDetailedUser(*user, call.myId()));
        }
        return users;
    }
    if (params.has("userId"))
        return packDetailedUser(userOrThrow(params.requiredString("userId")), call.myId());
    if (params.has("username")) {
        const std::string username = params.requiredString("username");
        const std::string host = params.optionalString("host");
        // Every account here is local; a remote host names nobody the sandbox knows.
        const SandboxUser *user = host.empty() ? m_state.userByName(username) : nullptr;
        if (!user)
            throw clientError("NO_SUCH_USER", "No such user.");
        return packDetailedUser(*user, call.myId());
    }
    throw invalidParam("#/anyOf", "must match a schema in anyOf");
}

json SandboxApi::usersSearch(const Call &call)
{
    const std::string query = call.params.requiredString("query");
    const int limit = call.params.limit();
    json users = json::array();
    for (const SandboxUser &user : m_state.users) {
        if (int(users.size()) < limit && (containsFolded(user.username, query) || containsFolded(user.name, query)))
            users.push_back(packDetailedUser(user, call.myId()));
    }
    return users;
}

json SandboxApi::usersNotes(const Call &call)
{
    const SandboxUser &author = userOrThrow(call.params.requiredString("userId"));
    const bool withReplies = call.params.optionalBool("withReplies", false);
    const bool withRenotes = call.params.optionalBool("withRenotes", true);
    return page(call, [&](const SandboxNote &note) {
        return note.userId == author.id && note.channelId.empty() && (withReplies || note.replyId.empty())
               && (withRenotes || !note.isPureRenote());
    });
}

namespace {

// One entry of users/followers and users/following, with the user on the far side packed.
json followingEntry(const UserPair &pair, const char *side, const json &user, const std::string &createdAt)
{
    return {{"id", pair.first + "-" + pair.second},
            {"createdAt", createdAt},
            {"followerId", pair.first},
            {"followeeId", pair.second},
            {side, user}};
}

} // namespace

json SandboxApi::followers(const Call &call)
{
    const SandboxUser &user = userOrThrow(call.params.requiredString("userId"));
    const int limit = call.params.limit();
    json list = json::array();
    for (const UserPair &pair : m_state.following) {
        const SandboxUser *follower = m_state.user(pair.first);
        if (pair.second == user.id && follower && int(list.size()) < limit)
            list.push_back(followingEntry(pair, "follower", packDetailedUser(*follower, call.myId()), user.createdAt));
    }
    return list;
}

json SandboxApi::followingList(const Call &call)
{
    const SandboxUser &user = userOrThrow(call.params.requiredString("userId"));
    const int limit = call.params.limit();
    json list = json::array();
    for (const UserPair &pair : m_state.following) {
        const SandboxUser *followee = m_state.user(pair.second);
        if (pair.first == user.id && followee && int(list.size()) < limit)
            list.push_back(followingEntry(pair, "followee", packDetailedUser(*followee, call.myId()), user.createdAt));
    }
    return list;
}

json SandboxApi::follow(const Call &call)
{
    const SandboxUser &followee = userOrThrow(call.params.requiredString("userId"));
    if (followee.id == call.myId())
        throw clientError("FOLLOWEE_IS_YOURSELF", "Followee is yourself.");
    if (m_state.blocks.contains({call.myId(), followee.id}))
        throw clientError("BLOCKING", "You are blocking that user.");
    if (m_state.blocks.contains({followee.id, call.myId()}))
        throw clientError("BLOCKED", "You are blocked by that user.");
    if (!m_state.following.insert({call.myId(), followee.id}).second)
        throw clientError("ALREADY_FOLLOWING", "You are already following that user.");
    notify(followee.id, "follow", call.myId(), {});
    changed();
    return packUser(followee);
}

json SandboxApi::unfollow(const Call &call)
{
    const SandboxUser &followee = userOrThrow(call.params.requiredString("userId"));
    if (followee.id == call.myId())
        throw clientError("FOLLOWEE_IS_YOURSELF", "Followee is yourself.");
    if (m_state.following.erase({call.myId(), followee.id}) == 0)
        throw clientError("NOT_FOLLOWING", "You are not following that user.");
    changed();
    return packUser(followee);
}

json SandboxApi::mute(const Call &call)
{
    const SandboxUser &mutee = userOrThrow(call.params.requiredString("userId"));
    if (mutee.id == call.myId())
        throw clientError("MUTEE_IS_YOURSELF", "Mutee is yourself.");
    if (!m_state.mutes.insert({call.myId(), mutee.id}).second)
        throw clientError("ALREADY_MUTING", "You are already muting that user.");
    changed();
    return nullptr;
}

json SandboxApi::unmute(const Call &call)
{
    const SandboxUser &mutee = userOrThrow(call.params.requiredString("userId"));
    if (mutee.id == call.myId())
        throw clientError("MUTEE_IS_YOURSELF", "Mutee is yourself.");
    if (m_state.mutes.erase({call.myId(), mutee.id}) == 0)
        throw clientError("NOT_MUTING", "You are not muting that user.");
    changed();
    return nullptr;
}

json SandboxApi::block(const Call &call)
{
    const SandboxUser &blockee = userOrThrow(call.params.requiredString("userId"));
    if (blockee.id == call.myId())
        throw clientError("BLOCKEE_IS_YOURSELF", "Blockee is yourself.");
    if (!m_state.blocks.insert({call.myId(), blockee.id}).second)
        throw clientError("ALREADY_BLOCKING", "You are already blocking that user.");
    // A block ends following in both directions.
    m_state.following.erase({call.myId(), blockee.id});
    m_state.following.erase({blockee.id, call.myId()});
    changed();
    return packDetailedUser(blockee, call.myId());
}

json SandboxApi::unblock(const Call &call)
{
    const SandboxUser &blockee = userOrThrow(call.params.requiredString("userId"));
    if (blockee.id == call.myId())
        throw clientError("BLOCKEE_IS_YOURSELF", "Blockee is yourself.");
    if (m_state.blocks.erase({call.myId(), blockee.id}) == 0)
        throw clientError("NOT_BLOCKING", "You are not blocking that user.");
    changed();
    return packDetailedUser(blockee, call.myId());
}

json SandboxApi::meta(const Call &)
{
    return {{"name", "Quill Sandbox"},
            {"version", "sandbox"},
            {"uri", m_baseURL},
            {"description", "A local Misskey-compatible instance for trying Quill and its bots."},
            {"langs", json::array()},
            {"disableRegistration", true},
            {"maxNoteTextLength", 3000}};
}

json SandboxApi::channelShow(const Call &call)
{
    return packChannel(channelOrThrow(call.params.requiredString("channelId")), call.myId());
}

json SandboxApi::channelFollow(const Call &call)
{
    m_state.channelFollows.insert({call.myId(), channelOrThrow(call.params.requiredString("channelId")).id});
    changed();
    return nullptr;
}

json SandboxApi::channelUnfollow(const Call &call)
{
    m_state.channelFollows.erase({call.myId(), channelOrThrow(call.params.requiredString("channelId")).id});
    changed();
    return nullptr;
}

json SandboxApi::channelFavourite(const Call &call)
{
    m_state.channelFavourites.insert({call.myId(), channelOrThrow(call.params.requiredString("channelId")).id});
    changed();
    return nullptr;
}

json SandboxApi::channelUnfavourite(const Call &call)
{
    m_state.channelFavourites.erase({call.myId(), channelOrThrow(call.params.requiredString("channelId")).id});
    changed();
    return nullptr;
}

json SandboxApi::channelTimeline(const Call &call)
{
    const SandboxChannel &channel = channelOrThrow(call.params.requiredString("channelId"));
    return page(call, [&](const SandboxNote &note) { return note.channelId == channel.id; });
}

json SandboxApi::channelsFeatured(const Call &call)
{
    json list = json::array();
    for (const SandboxChannel &channel : m_state.channels)
        list.push_back(packChannel(channel, call.myId()));
    return list;
}

json SandboxApi::driveFiles(const Call &call)
{
    const Params &params = call.params;
    const int limit = params.limit();
    const std::string folderId = params.optionalString("folderId");
    const std::string sinceId = params.optionalString("sinceId");
    const std::string untilId = params.optionalString("untilId");
    std::string type = params.optionalString("type");
    // "image/*" is a prefix pattern, as on Misskey.
    const bool prefix = type.ends_with('*');
    if (prefix)
        type.pop_back();
    json list = json::array();
    for (auto it = m_state.files.rbegin(); it != m_state.files.rend() && int(list.size()) < limit; ++it) {
        const SandboxFile &file = it->second;
        if (file.userId != call.myId() || file.folderId != folderId || (!sinceId.empty() && file.id <= sinceId)
            || (!untilId.empty() && file.id >= untilId)
            || (!type.empty() && (prefix ? !file.type.starts_with(type) : file.type != type)))
            continue;
        list.push_back(packFile(file));
    }
    return list;
}

json SandboxApi::driveFileShow(const Call &call)
{
    const auto found = m_state.files.find(call.params.requiredString("fileId"));
    if (found == m_state.files.end())
        throw clientError("NO_SUCH_FILE", "No such file.");
    if (found->second.userId != call.myId())
        throw clientError("ACCESS_DENIED", "Access denied.");
    return packFile(found->second);
}

json SandboxApi::driveFileDelete(const Call &call)
{
    const auto found = m_state.files.find(call.params.requiredString("fileId"));
    if (found == m_state.files.end())
        throw clientError("NO_SUCH_FILE", "No such file.");
    if (found->second.userId != call.myId())
        throw clientError("ACCESS_DENIED", "Access denied.");
    const std::string id = found->first;
    m_state.files.erase(found);
    for (auto &[noteId, note] : m_state.notes)
        std::erase(note.fileIds, id);
    changed();
    return nullptr;
}

} // namespace quill::sandbox
