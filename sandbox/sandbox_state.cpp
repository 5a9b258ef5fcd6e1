#include "sandbox/sandbox_state.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace quill::sandbox {

using nlohmann::json;

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(SandboxUser, id, createdAt, username, name, description, isBot)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(SandboxPoll, choices, multiple, votes)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(SandboxFile, id, createdAt, userId, name, type, md5, comment, folderId,
                                                isSensitive, data, size)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(SandboxNotification, id, createdAt, recipientId, type, notifierId,
                                                noteId, reaction, isRead)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(SandboxChannel, id, createdAt, userId, name, description)

// Written by hand for the optional poll, which the macros cannot express.
void to_json(json &out, const SandboxNote &note)
{
    out = {{"id", note.id},           {"createdAt", note.createdAt}, {"userId", note.userId},
           {"text", note.text},       {"cw", note.cw},               {"visibility", note.visibility},
           {"replyId", note.replyId}, {"renoteId", note.renoteId},   {"channelId", note.channelId},
           {"localOnly", note.localOnly}, {"fileIds", note.fileIds}, {"mentions", note.mentions},
           {"reactions", note.reactions}};
    if (note.poll)
        out["poll"] = *note.poll;
}

void from_json(const json &in, SandboxNote &note)
{
    const SandboxNote defaults;
    note.id = in.at("id").get<std::string>();
    note.createdAt = in.at("createdAt").get<std::string>();
    note.userId = in.at("userId").get<std::string>();
    note.text = in.value("text", defaults.text);
    note.cw = in.value("cw", defaults.cw);
    note.visibility = in.value("visibility", defaults.visibility);
    note.replyId = in.value("replyId", defaults.replyId);
    note.renoteId = in.value("renoteId", defaults.renoteId);
    note.channelId = in.value("channelId", defaults.channelId);
    note.localOnly = in.value("localOnly", false);
    note.fileIds = in.value("fileIds", std::vector<std::string>{});
    note.mentions = in.value("mentions", std::vector<std::string>{});
    note.reactions = in.value("reactions", std::map<std::string, std::string>{});
    if (const auto poll = in.find("poll"); poll != in.end() && !poll->is_null())
        note.poll = poll->get<SandboxPoll>();
}

namespace {

template <typename Match>
const SandboxUser *firstUser(const std::vector<SandboxUser> &users, Match match)
{
    const auto found = std::find_if(users.begin(), users.end(), match);
    return found == users.end() ? nullptr : &*found;
}

} // namespace

const SandboxUser *SandboxState::user(const std::string &id) const
{
    return firstUser(users, [&id](const SandboxUser &u) { return u.id == id; });
}

const SandboxUser *SandboxState::userByName(const std::string &username) const
{
    // Misskey matches user names without regard to case.
    const auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        return text;
    };
    const std::string wanted = lower(username);
    return firstUser(users, [&](const SandboxUser &u) { return lower(u.username) == wanted; });
}

json stateToJson(const SandboxState &state)
{
    json notes = json::array();
    for (const auto &[id, note] : state.notes)
        notes.push_back(note);
    json files = json::array();
    for (const auto &[id, file] : state.files)
        files.push_back(file);
    return {{"format", "quill-sandbox-state-1"},
            {"sandboxUserId", state.sandboxUserId},
            {"sandboxToken", state.sandboxToken},
            {"lastId", state.lastId},
            {"users", state.users},
            {"notes", notes},
            {"files", files},
            {"notifications", state.notifications},
            {"channels", state.channels},
            {"following", state.following},
            {"mutes", state.mutes},
            {"blocks", state.blocks},
            {"favourites", state.favourites},
            {"channelFollows", state.channelFollows},
            {"channelFavourites", state.channelFavourites},
            {"tokens", state.tokens},
            {"miauthSessions", state.miauthSessions}};
}

SandboxState stateFromJson(const json &in)
{
    if (in.value("format", std::string()) != "quill-sandbox-state-1")
        throw json::other_error::create(501, "not a quill-sandbox state file", &in);
    SandboxState state;
    state.sandboxUserId = in.at("sandboxUserId").get<std::string>();
    state.sandboxToken = in.at("sandboxToken").get<std::string>();
    state.lastId = in.value("lastId", std::string());
    state.users = in.at("users").get<std::vector<SandboxUser>>();
    for (SandboxNote &note : in.at("notes").get<std::vector<SandboxNote>>())
        state.notes.emplace(note.id, std::move(note));
    for (SandboxFile &file : in.value("files", std::vector<SandboxFile>{}))
        state.files.emplace(file.id, std::move(file));
    state.notifications = in.value("notifications", std::vector<SandboxNotification>{});
    state.channels = in.value("channels", std::vector<SandboxChannel>{});
    state.following = in.value("following", std::set<UserPair>{});
    state.mutes = in.value("mutes", std::set<UserPair>{});
    state.blocks = in.value("blocks", std::set<UserPair>{});
    state.favourites = in.value("favourites", std::set<UserPair>{});
    state.channelFollows = in.value("channelFollows", std::set<UserPair>{});
    state.channelFavourites = in.value("channelFavourites", std::set<UserPair>{});
    state.tokens = in.at("tokens").get<std::map<std::string, std::string>>();
    state.miauthSessions = in.value("miauthSessions", std::map<std::string, std::string>{});
    const auto token = state.tokens.find(state.sandboxToken);
    if (!state.user(state.sandboxUserId) || token == state.tokens.end() || token->second != state.sandboxUserId)
        throw json::other_error::create(501, "the state has no sandbox account", &in);
    return state;
}

namespace {

// Milliseconds between the Unix epoch and 2000-01-01, the origin of Misskey's time-based ids.
constexpr std::int64_t idEpochMs = 946684800000;

std::string base36(std::int64_t value, std::size_t width)
{
    static constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string text(width, '0');
    for (std::size_t index = width; index > 0 && value > 0; --index) {
        text[index - 1] = digits[value % 36];
        value /= 36;
    }
    return text;
}

} // namespace

std::string IdGenerator::next(std::int64_t nowMs)
{
    std::string id = base36(std::max<std::int64_t>(nowMs - idEpochMs, 0), 8) + "00";
    // Within one millisecond, or when the clock went back, count up from the last id.
    if (id <= m_state.lastId) {
        id = m_state.lastId;
        for (std::size_t index = id.size(); index > 0; --index) {
            char &digit = id[index - 1];
            if (digit == 'z') {
                digit = '0';
                continue;
            }
            digit = digit == '9' ? 'a' : char(digit + 1);
            break;
        }
    }
    m_state.lastId = id;
    return id;
}

std::string isoTime(std::int64_t msSinceEpoch)
{
    const std::time_t seconds = std::time_t(msSinceEpoch / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03dZ", int(msSinceEpoch % 1000));
    return std::string(text) + millis;
}

std::int64_t currentTimeMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

SandboxState seededState(const std::string &sandboxToken, std::int64_t nowMs)
{
    SandboxState state;
    IdGenerator ids(state);
    // Everything seeded is dated a little in the past, oldest first.
    std::int64_t when = nowMs - 3 * 3600 * 1000;
    const auto stamp = [&]() {
        when += 7 * 60 * 1000;
        return std::pair{ids.next(when), isoTime(when)};
    };
    const auto addUser = [&](const char *username, const char *name, const char *description, bool isBot) {
        const auto [id, createdAt] = stamp();
        state.users.push_back(SandboxUser{id, createdAt, username, name, description, isBot});
        return id;
    };
    state.sandboxUserId = addUser("sandbox", "Sandbox", "The account of this local sandbox instance.", false);
    const std::string alice = addUser("alice", "Alice", "Harbour photographer.", false);
    const std::string bob = addUser("bob", "Bob", "Tide tables and sea shanties.", false);
    const std::string carol = addUser("carol", "Carol", "Bakes bread, writes code.", false);
    const std::string tide = addUser("tidebot", "Tide Bot", "Posts the tide now and then.", true);
    state.sandboxToken = sandboxToken;
    state.tokens.emplace(sandboxToken, state.sandboxUserId);

    // The sandbox account follows everyone, so its home timeline is not empty.
    for (const std::string &other : {alice, bob, carol, tide}) {
        state.following.insert({state.sandboxUserId, other});
        state.following.insert({other, state.sandboxUserId});
    }
    state.following.insert({alice, bob});
    state.following.insert({bob, alice});

    const auto addNote = [&](const std::string &userId, const char *text, const char *visibility) {
        const auto [id, createdAt] = stamp();
        SandboxNote note;
        note.id = id;
        note.createdAt = createdAt;
        note.userId = userId;
        note.text = text;
        note.visibility = visibility;
        state.notes.emplace(id, note);
        return id;
    };
    const std::string welcome =
        addNote(alice, "Welcome to the Quill sandbox! Nothing here leaves this machine.", "public");
    addNote(bob, "High tide at 14:20 today. Bring boots.", "public");
    const std::string bread = addNote(carol, "Sourdough number twelve is in the oven.", "home");
    addNote(tide, "Tide report: rising, 1.4 m.", "public");

    auto [replyId, replyAt] = stamp();
    SandboxNote reply;
    reply.id = replyId;
    reply.createdAt = replyAt;
    reply.userId = bob;
    reply.text = "@carol save me a slice!";
    reply.replyId = bread;
    reply.mentions = {carol};
    state.notes.emplace(replyId, reply);

    auto [renoteId, renoteAt] = stamp();
    SandboxNote renote;
    renote.id = renoteId;
    renote.createdAt = renoteAt;
    renote.userId = carol;
    renote.renoteId = welcome;
    state.notes.emplace(renoteId, renote);

    auto [mentionId, mentionAt] = stamp();
    SandboxNote mention;
    mention.id = mentionId;
    mention.createdAt = mentionAt;
    mention.userId = alice;
    mention.text = "@sandbox hello there, try replying to me from a bot!";
    mention.mentions = {state.sandboxUserId};
    state.notes.emplace(mentionId, mention);
    state.notifications.push_back(
        SandboxNotification{ids.next(when), mentionAt, state.sandboxUserId, "mention", alice, mentionId, "", false});

    state.notes.at(welcome).reactions = {{bob, "👍"}, {carol, "🎉"}};

    const auto [channelId, channelAt] = stamp();
    state.channels.push_back(SandboxChannel{channelId, channelAt, alice, "Harbour", "Everything about the harbour."});
    return state;
}

} // namespace quill::sandbox
