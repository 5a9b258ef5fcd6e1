#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quill::sandbox {

// Everything the sandbox instance knows. Plain values: the API layer changes them, the server
// saves them. Empty strings stand for absent optional texts (Misskey never sends an empty id).

struct SandboxUser {
    std::string id;
    std::string createdAt;
    std::string username;
    std::string name;
    std::string description;
    bool isBot = false;
};

struct SandboxPoll {
    std::vector<std::string> choices;
    bool multiple = false;
    /// userId -> the choice indices that user voted for.
    std::map<std::string, std::vector<int>> votes;
};

/// What a new note is made of, from "notes/create" or from a seeded user's chatter; a stored
/// note adds what the instance gives it.
struct NoteContent {
    std::string text;
    std::string cw;
    std::string visibility = "public";
    std::string replyId;
    std::string renoteId;
    std::string channelId;
    bool localOnly = false;
    std::vector<std::string> fileIds;
    std::optional<SandboxPoll> poll;
};

struct SandboxNote : NoteContent {
    std::string id;
    std::string createdAt;
    std::string userId;
    /// Ids of the users named with "@username" in the text.
    std::vector<std::string> mentions;
    /// userId -> that user's reaction.
    std::map<std::string, std::string> reactions;

    /// A renote with nothing of its own; Misskey refuses to reply to or renote one.
    bool isPureRenote() const
    {
        return !renoteId.empty() && text.empty() && cw.empty() && fileIds.empty() && !poll;
    }
};

struct SandboxFile {
    std::string id;
    std::string createdAt;
    std::string userId;
    std::string name;
    std::string type;
    std::string md5;
    std::string comment;
    std::string folderId;
    bool isSensitive = false;
    /// The bytes, base64-encoded so that the state stays one JSON text.
    std::string data;
    std::int64_t size = 0;
};

struct SandboxNotification {
    std::string id;
    std::string createdAt;
    std::string recipientId;
    std::string type; ///< "mention", "reply", "renote", "quote", "reaction", "follow", "pollVote"
    std::string notifierId;
    std::string noteId;
    std::string reaction;
    bool isRead = false;
};

struct SandboxChannel {
    std::string id;
    std::string createdAt;
    std::string userId;
    std::string name;
    std::string description;
};

using UserPair = std::pair<std::string, std::string>;

struct SandboxState {
    std::vector<SandboxUser> users;
    /// Keyed by id; ids sort by creation time, so the map is in chronological order.
    std::map<std::string, SandboxNote> notes;
    std::map<std::string, SandboxFile> files;
    std::vector<SandboxNotification> notifications;
    std::vector<SandboxChannel> channels;
    std::set<UserPair> following;  ///< (follower, followee)
    std::set<UserPair> mutes;      ///< (muter, mutee)
    std::set<UserPair> blocks;     ///< (blocker, blockee)
    std::set<UserPair> favourites; ///< (userId, noteId)
    std::set<UserPair> channelFollows;    ///< (userId, channelId)
    std::set<UserPair> channelFavourites; ///< (userId, channelId)
    /// Access token -> userId.
    std::map<std::string, std::string> tokens;
    /// MiAuth session -> the token its approval issued.
    std::map<std::string, std::string> miauthSessions;
    /// The account the key file is written for, and its token.
    std::string sandboxUserId;
    std::string sandboxToken;
    /// The newest id handed out, so that ids keep growing across restarts.
    std::string lastId;

    const SandboxUser *user(const std::string &id) const;
    const SandboxUser *userByName(const std::string &username) const;
};

/// A fresh instance: the sandbox account, a few neighbours who follow each other, some notes.
SandboxState seededState(const std::string &sandboxToken, std::int64_t nowMs);

/// Whole-state conversion for the state file and the inspection endpoint. Reading throws
/// nlohmann::json::exception on a malformed state.
nlohmann::json stateToJson(const SandboxState &state);
SandboxState stateFromJson(const nlohmann::json &json);

/// Misskey-style ids: 8 base-36 digits of milliseconds since 2000, then 2 of a counter, so that
/// they sort by time as text (bots compare ids to find newer notes).
class IdGenerator {
public:
    explicit IdGenerator(SandboxState &state) : m_state(state) {}
    std::string next(std::int64_t nowMs);

private:
    SandboxState &m_state;
};

std::string isoTime(std::int64_t msSinceEpoch);
std::int64_t currentTimeMs();

} // namespace quill::sandbox
