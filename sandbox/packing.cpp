// How the sandbox writes its users, notes, files, notifications and channels: the shapes of the real
// API's packed entities, with the fields that clients read.
#include "sandbox/sandbox_api.h"

#include <algorithm>

namespace quill::sandbox {

using nlohmann::json;

namespace {

json textOrNull(const std::string &text)
{
    return text.empty() ? json(nullptr) : json(text);
}

} // namespace

json SandboxApi::packUser(const SandboxUser &user) const
{
    return {{"id", user.id},
            {"name", textOrNull(user.name)},
            {"username", user.username},
            {"host", nullptr},
            {"avatarUrl", m_baseURL + "/identicon/" + user.username},
            {"avatarBlurhash", nullptr},
            {"avatarDecorations", json::array()},
            {"isBot", user.isBot},
            {"isCat", false},
            {"emojis", json::object()},
            {"onlineStatus", "online"},
            {"badgeRoles", json::array()}};
}

json SandboxApi::packDetailedUser(const SandboxUser &user, const std::string &viewerId) const
{
    json packed = packUser(user);
    const auto count = [&](const std::set<UserPair> &pairs, bool first) {
        return std::count_if(pairs.begin(), pairs.end(),
                             [&](const UserPair &pair) { return (first ? pair.first : pair.second) == user.id; });
    };
    const auto notesCount = std::count_if(m_state.notes.begin(), m_state.notes.end(),
                                          [&](const auto &entry) { return entry.second.userId == user.id; });
    packed.update({{"url", nullptr},
                   {"uri", nullptr},
                   {"createdAt", user.createdAt},
                   {"updatedAt", nullptr},
                   {"bannerUrl", nullptr},
                   {"isLocked", false},
                   {"isSilenced", false},
                   {"isSuspended", false},
                   {"description", textOrNull(user.description)},
                   {"location", nullptr},
                   {"birthday", nullptr},
                   {"lang", nullptr},
                   {"fields", json::array()},
                   {"followersCount", count(m_state.following, false)},
                   {"followingCount", count(m_state.following, true)},
                   {"notesCount", notesCount},
                   {"pinnedNoteIds", json::array()},
                   {"pinnedNotes", json::array()},
                   {"publicReactions", true},
                   {"followingVisibility", "public"},
                   {"followersVisibility", "public"}});
    if (!viewerId.empty() && viewerId != user.id) {
        packed.update({{"isFollowing", m_state.following.contains({viewerId, user.id})},
                       {"isFollowed", m_state.following.contains({user.id, viewerId})},
                       {"isMuted", m_state.mutes.contains({viewerId, user.id})},
                       {"isBlocking", m_state.blocks.contains({viewerId, user.id})},
                       {"isBlocked", m_state.blocks.contains({user.id, viewerId})}});
    }
    return packed;
}

std::string SandboxApi::fileURL(const SandboxFile &file) const
{
    return m_baseURL + "/files/" + file.id;
}

json SandboxApi::packFile(const SandboxFile &file) const
{
    const bool isImage = file.type.starts_with("image/");
    return {{"id", file.id},
            {"createdAt", file.createdAt},
            {"name", file.name},
            {"type", file.type},
            {"md5", file.md5},
            {"size", file.size},
            {"isSensitive", file.isSensitive},
            {"blurhash", nullptr},
            {"properties", json::object()},
            {"url", fileURL(file)},
            {"thumbnailUrl", isImage ? json(fileURL(file)) : json(nullptr)},
            {"comment", textOrNull(file.comment)},
            {"folderId", textOrNull(file.folderId)},
            {"folder", nullptr},
            {"userId", file.userId},
            {"user", nullptr}};
}

json SandboxApi::packNote(const SandboxNote &note, const std::string &viewerId) const
{
    // Embedded notes go one level deep: a renote's own renote is left as an id.
    const std::function<json(const SandboxNote &, int)> pack = [&](const SandboxNote &current, int depth) -> json {
        const SandboxUser *author = m_state.user(current.userId);
        std::map<std::string, int> reactions;
        for (const auto &[userId, reaction] : current.reactions)
            ++reactions[reaction];
        json files = json::array();
        for (const std::string &id : current.fileIds) {
            if (const auto file = m_state.files.find(id); file != m_state.files.end())
                files.push_back(packFile(file->second));
        }
        const auto countOf = [&](auto matches) {
            return std::count_if(m_state.notes.begin(), m_state.notes.end(),
                                 [&](const auto &entry) { return matches(entry.second); });
        };
        json packed = {
            {"id", current.id},
            {"createdAt", current.createdAt},
            {"userId", current.userId},
            {"user", author ? packUser(*author) : json()},
            {"text", textOrNull(current.text)},
            {"cw", textOrNull(current.cw)},
            {"visibility", current.visibility},
            {"localOnly", current.localOnly},
            {"reactionAcceptance", nullptr},
            {"renoteCount", countOf([&](const SandboxNote &n) { return n.renoteId == current.id; })},
            {"repliesCount", countOf([&](const SandboxNote &n) { return n.replyId == current.id; })},
            {"reactionCount", current.reactions.size()},
            {"reactions", reactions},
            {"reactionEmojis", json::object()},
            {"emojis", json::object()},
            {"fileIds", current.fileIds},
            {"files", files},
            {"replyId", textOrNull(current.replyId)},
            {"renoteId", textOrNull(current.renoteId)},
            {"channelId", textOrNull(current.channelId)},
            {"mentions", current.mentions},
            {"clippedCount", 0},
        };
        if (const auto mine = current.reactions.find(viewerId); mine != current.reactions.end())
            packed["myReaction"] = mine->second;
        if (current.poll) {
            json choices = json::array();
            for (std::size_t index = 0; index < current.poll->choices.size(); ++index) {
                int votes = 0;
                bool isVoted = false;
                for (const auto &[voter, picked] : current.poll->votes) {
                    const bool hit = std::find(picked.begin(), picked.end(), int(index)) != picked.end();
                    votes += hit ? 1 : 0;
                    isVoted = isVoted || (hit && voter == viewerId);
                }
                choices.push_back({{"text", current.poll->choices[index]}, {"votes", votes}, {"isVoted", isVoted}});
            }
            packed["hasPoll"] = true;
            packed["poll"] = {{"multiple", current.poll->multiple}, {"expiresAt", nullptr}, {"choices", choices}};
        }
        if (depth < 1) {
            for (const auto &[key, id] : {std::pair{"renote", current.renoteId}, std::pair{"reply", current.replyId}}) {
                if (const auto linked = m_state.notes.find(id); !id.empty() && linked != m_state.notes.end())
                    packed[key] = pack(linked->second, depth + 1);
            }
        }
        return packed;
    };
    return pack(note, 0);
}

json SandboxApi::packNotification(const SandboxNotification &notification) const
{
    json packed = {{"id", notification.id},
                   {"createdAt", notification.createdAt},
                   {"type", notification.type},
                   {"isRead", notification.isRead}};
    if (const SandboxUser *notifier = m_state.user(notification.notifierId)) {
        packed["userId"] = notifier->id;
        packed["user"] = packUser(*notifier);
    }
    if (const auto note = m_state.notes.find(notification.noteId); note != m_state.notes.end())
        packed["note"] = packNote(note->second, notification.recipientId);
    if (!notification.reaction.empty())
        packed["reaction"] = notification.reaction;
    return packed;
}

json SandboxApi::packChannel(const SandboxChannel &channel, const std::string &viewerId) const
{
    const auto notes = std::count_if(m_state.notes.begin(), m_state.notes.end(),
                                     [&](const auto &entry) { return entry.second.channelId == channel.id; });
    const auto users = std::count_if(m_state.channelFollows.begin(), m_state.channelFollows.end(),
                                     [&](const UserPair &pair) { return pair.second == channel.id; });
    json packed = {{"id", channel.id},
                   {"createdAt", channel.createdAt},
                   {"lastNotedAt", nullptr},
                   {"name", channel.name},
                   {"description", textOrNull(channel.description)},
                   {"userId", channel.userId},
                   {"bannerUrl", nullptr},
                   {"color", "#86b300"},
                   {"isArchived", false},
                   {"isSensitive", false},
                   {"allowRenoteToExternal", true},
                   {"usersCount", users},
                   {"notesCount", notes},
                   {"pinnedNoteIds", json::array()}};
    if (!viewerId.empty()) {
        packed["isFollowing"] = m_state.channelFollows.contains({viewerId, channel.id});
        packed["isFavorited"] = m_state.channelFavourites.contains({viewerId, channel.id});
    }
    return packed;
}

} // namespace quill::sandbox
