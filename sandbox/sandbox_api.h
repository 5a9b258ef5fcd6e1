#pragma once

#include "sandbox/api_error.h"
#include "sandbox/sandbox_state.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace quill::sandbox {

/// The answer to one API call: a JSON body, or none for Misskey's 204 answers.
struct ApiReply {
    int status = 200;
    std::optional<nlohmann::json> body;
};

/// One file of a multipart "drive/files/create" request, with the form's other fields.
struct UploadedFile {
    std::string fileName;
    std::string contentType;
    std::string bytes;
    std::map<std::string, std::string> fields;
};

/// The streaming channels a note is delivered on.
enum class TimelineChannel { home, local, hybrid, global };

/**
 * @brief The Misskey HTTP API of the sandbox, on its state; no networking here.
 *
 * Every call either answers in the real API's shape or throws nothing and answers with Misskey's
 * error envelope. Changes are reported through the hooks so that the server can stream and save.
 */
class SandboxApi {
public:
    SandboxApi(SandboxState &state, std::string baseURL);

    /// One call to /api/<endpoint>. The token comes from the bearer header or the "i" parameter.
    ApiReply call(const std::string &endpoint, const nlohmann::json &params, const std::string &bearerToken);
    /// "drive/files/create".
    ApiReply upload(const UploadedFile &file, const std::string &bearerToken);

    /// The user a token belongs to, or none.
    const SandboxUser *userForToken(const std::string &token) const;

    /// Posts as a user; throws ApiError when the draft is refused.
    const SandboxNote &post(const std::string &authorId, const NoteContent &draft);

    /// The browser page of a MiAuth session approves it at once: a new token for the sandbox account.
    void approveMiAuth(const std::string &session);

    nlohmann::json packNote(const SandboxNote &note, const std::string &viewerId) const;
    nlohmann::json packUser(const SandboxUser &user) const;
    /// Whether a viewer (empty for none) sees a note on a timeline channel.
    bool onTimeline(const SandboxNote &note, TimelineChannel channel, const std::string &viewerId) const;

    /// The URL at which a drive file's bytes are served.
    std::string fileURL(const SandboxFile &file) const;

    std::function<void(const SandboxNote &)> onNoteCreated;
    /// An event on a user's `main` channel: (userId, type, body).
    std::function<void(const std::string &, const std::string &, const nlohmann::json &)> onMainEvent;
    std::function<void()> onStateChanged;

private:
    struct Call {
        const Params &params;
        const SandboxUser *me; ///< null for an anonymous call
        const std::string &myId() const;
    };
    using Handler = nlohmann::json (SandboxApi::*)(const Call &);
    struct Route {
        Handler handler;
        bool needsCredential;
    };
    static const std::map<std::string, Route> &routes();

    // Notes
    nlohmann::json notesCreate(const Call &call);
    nlohmann::json notesShow(const Call &call);
    nlohmann::json notesDelete(const Call &call);
    nlohmann::json reactionsCreate(const Call &call);
    nlohmann::json reactionsDelete(const Call &call);
    nlohmann::json reactionsList(const Call &call);
    nlohmann::json homeTimeline(const Call &call);
    nlohmann::json localTimeline(const Call &call);
    nlohmann::json hybridTimeline(const Call &call);
    nlohmann::json globalTimeline(const Call &call);
    nlohmann::json children(const Call &call);
    nlohmann::json renotes(const Call &call);
    nlohmann::json conversation(const Call &call);
    nlohmann::json favouriteCreate(const Call &call);
    nlohmann::json favouriteDelete(const Call &call);
    nlohmann::json search(const Call &call);
    nlohmann::json mentions(const Call &call);
    nlohmann::json featured(const Call &call);
    nlohmann::json vote(const Call &call);
    // Accounts
    nlohmann::json i(const Call &call);
    nlohmann::json notifications(const Call &call);
    nlohmann::json markAllRead(const Call &call);
    nlohmann::json usersShow(const Call &call);
    nlohmann::json usersSearch(const Call &call);
    nlohmann::json usersNotes(const Call &call);
    nlohmann::json followers(const Call &call);
    nlohmann::json followingList(const Call &call);
    nlohmann::json follow(const Call &call);
    nlohmann::json unfollow(const Call &call);
    nlohmann::json mute(const Call &call);
    nlohmann::json unmute(const Call &call);
    nlohmann::json block(const Call &call);
    nlohmann::json unblock(const Call &call);
    nlohmann::json meta(const Call &call);
    // Channels and drive
    nlohmann::json channelShow(const Call &call);
    nlohmann::json channelFollow(const Call &call);
    nlohmann::json channelUnfollow(const Call &call);
    nlohmann::json channelFavourite(const Call &call);
    nlohmann::json channelUnfavourite(const Call &call);
    nlohmann::json channelTimeline(const Call &call);
    nlohmann::json channelsFeatured(const Call &call);
    nlohmann::json driveFiles(const Call &call);
    nlohmann::json driveFileShow(const Call &call);
    nlohmann::json driveFileDelete(const Call &call);

    const SandboxNote &noteOrThrow(const std::string &id) const;
    const SandboxUser &userOrThrow(const std::string &id) const;
    const SandboxChannel &channelOrThrow(const std::string &id) const;
    /// Whether a viewer may see a note at all (visibility, blocks).
    bool visibleTo(const SandboxNote &note, const std::string &viewerId) const;
    bool hidesAuthor(const SandboxNote &note, const std::string &viewerId) const;
    /// The newest matching notes first, paged by "sinceId"/"untilId" and "limit".
    nlohmann::json page(const Call &call, const std::function<bool(const SandboxNote &)> &keep) const;
    nlohmann::json packFile(const SandboxFile &file) const;
    nlohmann::json packDetailedUser(const SandboxUser &user, const std::string &viewerId) const;
    nlohmann::json packNotification(const SandboxNotification &notification) const;
    nlohmann::json packChannel(const SandboxChannel &channel, const std::string &viewerId) const;
    void notify(const std::string &recipientId, const std::string &type, const std::string &notifierId,
                const std::string &noteId, const std::string &reaction = {});
    void changed();
    std::string newId();

    SandboxState &m_state;
    std::string m_baseURL;
    IdGenerator m_ids;
};

} // namespace quill::sandbox
