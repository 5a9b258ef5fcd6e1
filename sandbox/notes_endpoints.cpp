// The note endpoints of the sandbox API: posting, reading, reacting, timelines and searches.
#include "sandbox/sandbox_api.h"

#include <algorithm>
#include <regex>

namespace quill::sandbox {

using nlohmann::json;

namespace {

constexpr std::size_t maxTextLength = 3000;
constexpr std::size_t maxCwLength = 100;
constexpr std::size_t maxFiles = 16;

std::size_t codePoints(const std::string &text)
{
    return std::size_t(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool isVisibility(const std::string &text)
{
    return text == "public" || text == "home" || text == "followers" || text == "specified";
}

} // namespace

const SandboxNote &SandboxApi::post(const std::string &authorId, const NoteContent &draft)
{
    if (draft.text.empty() && draft.renoteId.empty() && draft.fileIds.empty() && !draft.poll)
        throw invalidParam("#/anyOf", "must match a schema in anyOf");
    if (codePoints(draft.text) > maxTextLength)
        throw invalidParam("#/properties/text/maxLength", "must NOT have more than 3000 characters");
    if (codePoints(draft.cw) > maxCwLength)
        throw invalidParam("#/properties/cw/maxLength", "must NOT have more than 100 characters");
    if (!isVisibility(draft.visibility))
        throw invalidParam("#/properties/visibility/enum", "must be equal to one of the allowed values");
    if (draft.fileIds.size() > maxFiles)
        throw invalidParam("#/properties/fileIds/maxItems", "must NOT have more than 16 items");

    const auto blockedBy = [&](const SandboxNote &target) {
        return m_state.blocks.contains({target.userId, authorId});
    };
    const SandboxNote *reply = nullptr;
    if (!draft.replyId.empty()) {
        const auto found = m_state.notes.find(draft.replyId);
        if (found == m_state.notes.end() || !visibleTo(found->second, authorId))
            throw clientError("NO_SUCH_REPLY_TARGET", "No such reply target.");
        if (found->second.isPureRenote())
            throw clientError("CANNOT_REPLY_TO_A_PURE_RENOTE", "You can not reply to a pure Renote.");
        if (blockedBy(found->second))
            throw clientError("YOU_HAVE_BEEN_BLOCKED", "You have been blocked by this user.");
        reply = &found->second;
    }
    const SandboxNote *renote = nullptr;
    if (!draft.renoteId.empty()) {
        const auto found = m_state.notes.find(draft.renoteId);
        if (found == m_state.notes.end() || !visibleTo(found->second, authorId))
            throw clientError("NO_SUCH_RENOTE_TARGET", "No such renote target.");
        if (found->second.isPureRenote())
            throw clientError("CANNOT_RENOTE_TO_A_PURE_RENOTE", "You can not Renote a pure Renote.");
        if (found->second.userId != authorId
            && (found->second.visibility == "followers" || found->second.visibility == "specified"))
            throw clientError("CANNOT_RENOTE_DUE_TO_VISIBILITY", "You can not Renote due to target visibility.");
        if (blockedBy(found->second))
            throw clientError("YOU_HAVE_BEEN_BLOCKED", "You have been blocked by this user.");
        renote = &found->second;
    }
    for (const std::string &fileId : draft.fileIds) {
        const auto file = m_state.files.find(fileId);
        if (file == m_state.files.end() || file->second.userId != authorId)
            throw clientError("NO_SUCH_FILE", "Some files are not found.");
    }
    if (!draft.channelId.empty())
        channelOrThrow(draft.channelId);

    SandboxNote note;
    note.id = newId();
    note.createdAt = isoTime(currentTimeMs());
    note.userId = authorId;
    static_cast<NoteContent &>(note) = draft;
    // "@name" names a local user; "@name@host" would be a remote one, which the sandbox has none of.
    static const std::regex mentionPattern(R"((^|[^\w@])@([A-Za-z0-9_]+)(?![\w@]))");
    for (auto match = std::sregex_iterator(draft.text.begin(), draft.text.end(), mentionPattern);
         match != std::sregex_iterator(); ++match) {
        const SandboxUser *named = m_state.userByName((*match)[2].str());
        if (named && std::find(note.mentions.begin(), note.mentions.end(), named->id) == note.mentions.end())
            note.mentions.push_back(named->id);
    }
    const std::string replyAuthor = reply ? reply->userId : std::string();
    const std::string renoteAuthor = renote ? renote->userId : std::string();
    const SandboxNote &created = m_state.notes.emplace(note.id, std::move(note)).first->second;

    // Only the strongest reason reaches each user: a reply to them is not also a mention.
    if (!replyAuthor.empty() && replyAuthor != authorId) {
        notify(replyAuthor, "reply", authorId, created.id);
        if (onMainEvent)
            onMainEvent(replyAuthor, "reply", packNote(created, replyAuthor));
    }
    if (!renoteAuthor.empty() && renoteAuthor != authorId) {
        notify(renoteAuthor, created.isPureRenote() ? "renote" : "quote", authorId, created.id);
        if (onMainEvent && created.isPureRenote())
            onMainEvent(renoteAuthor, "renote", packNote(created, renoteAuthor));
    }
    for (const std::string &mentioned : created.mentions) {
        if (mentioned == authorId || mentioned == replyAuthor || !visibleTo(created, mentioned))
            continue;
        notify(mentioned, "mention", authorId, created.id);
        if (onMainEvent)
            onMainEvent(mentioned, "mention", packNote(created, mentioned));
    }
    if (onNoteCreated)
        onNoteCreated(created);
    changed();
    return created;
}

json SandboxApi::notesCreate(const Call &call)
{
    const Params &params = call.params;
    NoteContent draft;
    draft.text = params.optionalString("text");
    draft.cw = params.optionalString("cw");
    draft.visibility = params.has("visibility") ? params.requiredString("visibility") : "public";
    draft.replyId = params.optionalString("replyId");
    draft.renoteId = params.optionalString("renoteId");
    draft.channelId = params.optionalString("channelId");
    draft.localOnly = params.optionalBool("localOnly", false);
    draft.fileIds = params.optionalStringArray(params.has("fileIds") ? "fileIds" : "mediaIds");
    if (params.has("poll")) {
        const json &poll = params.raw().at("poll");
        if (!poll.is_object())
            throw invalidParam("#/properties/poll/type", "must be object");
        const Params pollParams(poll);
        SandboxPoll parsed;
        parsed.choices = pollParams.optionalStringArray("choices");
        parsed.multiple = pollParams.optionalBool("multiple", false);
        if (parsed.choices.size() < 2 || parsed.choices.size() > 10)
            throw invalidParam("#/properties/poll/properties/choices", "must have 2 to 10 items");
        draft.poll = parsed;
    }
    return {{"createdNote", packNote(post(call.myId(), draft), call.myId())}};
}

json SandboxApi::notesShow(const Call &call)
{
    const SandboxNote &note = noteOrThrow(call.params.requiredString("noteId"));
    if (!visibleTo(note, call.myId()))
        throw clientError("NO_SUCH_NOTE", "No such note.");
    return packNote(note, call.myId());
}

json SandboxApi::notesDelete(const Call &call)
{
    const SandboxNote &note = noteOrThrow(call.params.requiredString("noteId"));
    if (note.userId != call.myId())
        throw clientError("ACCESS_DENIED", "Access denied.");
    // Replies and renotes of a deleted note go with it, as Misskey's database cascades them.
    std::vector<std::string> doomed{note.id};
    for (std::size_t index = 0; index < doomed.size(); ++index) {
        for (const auto &[id, other] : m_state.notes) {
            if (other.replyId == doomed[index] || other.renoteId == doomed[index])
                doomed.push_back(id);
        }
    }
    for (const std::string &id : doomed) {
        m_state.notes.erase(id);
        std::erase_if(m_state.favourites, [&id](const UserPair &pair) { return pair.second == id; });
        std::erase_if(m_state.notifications, [&id](const SandboxNotification &n) { return n.noteId == id; });
    }
    changed();
    return nullptr;
}

json SandboxApi::reactionsCreate(const Call &call)
{
    const std::string noteId = call.params.requiredString("noteId");
    std::string reaction = call.params.requiredString("reaction");
    const SandboxNote &found = noteOrThrow(noteId);
    if (!visibleTo(found, call.myId()))
        throw clientError("NO_SUCH_NOTE", "No such note.");
    if (m_state.blocks.contains({found.userId, call.myId()}))
        throw clientError("YOU_HAVE_BEEN_BLOCKED", "You have been blocked by this user.");
    if (reaction.empty())
        reaction = "❤";
    SandboxNote &note = m_state.notes.at(noteId);
    // Reacting again with another reaction replaces the first; the same one twice is refused.
    const auto mine = note.reactions.find(call.myId());
    if (mine != note.reactions.end() && mine->second == reaction)
        throw clientError("ALREADY_REACTED", "You are already reacting to that note.");
    note.reactions[call.myId()] = reaction;
    notify(note.userId, "reaction", call.myId(), note.id, reaction);
    changed();
    return nullptr;
}

json SandboxApi::reactionsDelete(const Call &call)
{
    const SandboxNote &found = noteOrThrow(call.params.requiredString("noteId"));
    SandboxNote &note = m_state.notes.at(found.id);
    if (note.reactions.erase(call.myId()) == 0)
        throw clientError("NOT_REACTED", "You are not reacting to that note.");
    changed();
    return nullptr;
}

json SandboxApi::reactionsList(const Call &call)
{
    const SandboxNote &note = noteOrThrow(call.params.requiredString("noteId"));
    const std::string type = call.params.optionalString("type");
    const int limit = call.params.limit();
    json list = json::array();
    for (const auto &[userId, reaction] : note.reactions) {
        const SandboxUser *user = m_state.user(userId);
        if (!user || (!type.empty() && type != reaction) || int(list.size()) >= limit)
            continue;
        list.push_back({{"id", note.id + "-" + userId}, {"createdAt", note.createdAt}, {"user", packUser(*user)},
                        {"type", reaction}});
    }
    return list;
}

namespace {

// The switches that every timeline endpoint takes.
std::function<bool(const SandboxNote &)> timelineFilter(const Params &params,
                                                        std::function<bool(const SandboxNote &)> base)
{
    const bool withRenotes = params.optionalBool("withRenotes", true);
    const bool withFiles = params.optionalBool("withFiles", false);
    return [=](const SandboxNote &note) {
        return base(note) && (withRenotes || !note.isPureRenote()) && (!withFiles || !note.fileIds.empty());
    };
}

} // namespace

json SandboxApi::homeTimeline(const Call &call)
{
    return page(call, timelineFilter(call.params, [&](const SandboxNote &note) {
                    return onTimeline(note, TimelineChannel::home, call.myId());
                }));
}

json SandboxApi::localTimeline(const Call &call)
{
    return page(call, timelineFilter(call.params, [&](const SandboxNote &note) {
                    return onTimeline(note, TimelineChannel::local, call.myId());
                }));
}

json SandboxApi::hybridTimeline(const Call &call)
{
    return page(call, timelineFilter(call.params, [&](const SandboxNote &note) {
                    return onTimeline(note, TimelineChannel::hybrid, call.myId());
                }));
}

json SandboxApi::globalTimeline(const Call &call)
{
    return page(call, timelineFilter(call.params, [&](const SandboxNote &note) {
                    return onTimeline(note, TimelineChannel::global, call.myId());
                }));
}

json SandboxApi::children(const Call &call)
{
    const SandboxNote &parent = noteOrThrow(call.params.requiredString("noteId"));
    return page(call, [&](const SandboxNote &note) {
        return note.replyId == parent.id || (note.renoteId == parent.id && !note.isPureRenote());
    });
}

json SandboxApi::renotes(const Call &call)
{
    const SandboxNote &original = noteOrThrow(call.params.requiredString("noteId"));
    return page(call, [&](const SandboxNote &note) { return note.renoteId == original.id; });
}

json SandboxApi::conversation(const Call &call)
{
    const SandboxNote &start = noteOrThrow(call.params.requiredString("noteId"));
    const int limit = call.params.limit();
    json chain = json::array();
    std::string next = start.replyId;
    while (!next.empty() && int(chain.size()) < limit) {
        const auto found = m_state.notes.find(next);
        if (found == m_state.notes.end())
            break;
        if (visibleTo(found->second, call.myId()))
            chain.push_back(packNote(found->second, call.myId()));
        next = found->second.replyId;
    }
    return chain;
}

json SandboxApi::favouriteCreate(const Call &call)
{
    const SandboxNote &note = noteOrThrow(call.params.requiredString("noteId"));
    if (!visibleTo(note, call.myId()))
        throw clientError("NO_SUCH_NOTE", "No such note.");
    if (!m_state.favourites.insert({call.myId(), note.id}).second)
        throw clientError("ALREADY_FAVORITED", "The note has already been marked as a favorite.");
    changed();
    return nullptr;
}

json SandboxApi::favouriteDelete(const Call &call)
{
    const SandboxNote &note = noteOrThrow(call.params.requiredString("noteId"));
    if (m_state.favourites.erase({call.myId(), note.id}) == 0)
        throw clientError("NOT_FAVORITED", "You have not marked that note a favorite.");
    changed();
    return nullptr;
}

json SandboxApi::search(const Call &call)
{
    const std::string query = lowered(call.params.requiredString("query"));
    return page(call, [&](const SandboxNote &note) {
        return !hidesAuthor(note, call.myId())
               && (lowered(note.text).find(query) != std::string::npos || lowered(note.cw).find(query) != std::string::npos);
    });
}

json SandboxApi::mentions(const Call &call)
{
    const bool followingOnly = call.params.optionalBool("following", false);
    const std::string visibility = call.params.optionalString("visibility");
    const std::string &me = call.myId();
    return page(call, [&](const SandboxNote &note) {
        if (note.userId == me || hidesAuthor(note, me))
            return false;
        const bool mentioned = std::find(note.mentions.begin(), note.mentions.end(), me) != note.mentions.end();
        const auto replied = m_state.notes.find(note.replyId);
        const bool replyToMe = replied != m_state.notes.end() && replied->second.userId == me;
        return (mentioned || replyToMe) && (!followingOnly || m_state.following.contains({me, note.userId}))
               && (visibility.empty() || note.visibility == visibility);
    });
}

json SandboxApi::featured(const Call &call)
{
    const int limit = call.params.limit();
    std::vector<const SandboxNote *> candidates;
    for (const auto &[id, note] : m_state.notes) {
        if (note.visibility == "public" && !note.reactions.empty() && !hidesAuthor(note, call.myId()))
            candidates.push_back(&note);
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const SandboxNote *a, const SandboxNote *b) {
        return a->reactions.size() > b->reactions.size();
    });
    json notes = json::array();
    for (const SandboxNote *note : candidates) {
        if (int(notes.size()) >= limit)
            break;
        notes.push_back(packNote(*note, call.myId()));
    }
    return notes;
}

json SandboxApi::vote(const Call &call)
{
    const SandboxNote &found = noteOrThrow(call.params.requiredString("noteId"));
    const int choice = call.params.optionalInteger("choice", -1, 0, 1000);
    if (choice < 0)
        throw invalidParam("#/required", "must have required property 'choice'");
    if (!visibleTo(found, call.myId()))
        throw clientError("NO_SUCH_NOTE", "No such note.");
    if (!found.poll)
        throw clientError("NO_POLL", "The note does not attach a poll.");
    SandboxPoll &poll = *m_state.notes.at(found.id).poll;
    if (choice >= int(poll.choices.size()))
        throw clientError("INVALID_CHOICE", "Choice ID is invalid.");
    std::vector<int> &mine = poll.votes[call.myId()];
    if ((!poll.multiple && !mine.empty()) || std::find(mine.begin(), mine.end(), choice) != mine.end())
        throw clientError("ALREADY_VOTED", "You have already voted.");
    mine.push_back(choice);
    changed();
    return nullptr;
}

} // namespace quill::sandbox
