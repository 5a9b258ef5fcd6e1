// The functions a bot script calls: the misskey* globals and their `misskey` table twins, the
// `http` table, log/print, botWait and botIsRunning. Each Misskey function checks its
// arguments first, builds a fresh body table and hands it to the host; functions that differ
// only in endpoint and field are one family each, so adding an endpoint is one row below.

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>

#include "engine/embed/bot_arguments.h"
#include "engine/embed/host_call.h"
#include "engine/embed/script_runtime.h"
#include "engine/error/script_error.h"

namespace cobalt {
namespace {

using bot::givenArgument;
using bot::limitArgument;
using bot::setField;
using bot::stringArgument;
using bot::tableOptions;

/// What a family needs to know about one of its members: the endpoint and the body field that
/// carries the identifier (or, for the note-creating family, the note the new note refers to).
struct Route {
    const char* endpoint = nullptr;
    const char* field = nullptr;
};

using Maker = NativeFunction (*)(QuillScriptRuntime&, const Route&);

Variable requestMisskey(const QuillScriptRuntime& runtime, const std::string& endpoint, const Variable& body)
{
    return bot::callHost(runtime, bot::misskeyChannel(runtime), endpoint, body);
}

// ---- families ----

/// f(id): the body is just the identifier field.
NativeFunction identifierFunction(QuillScriptRuntime& runtime, const Route& route)
{
    return [&runtime, route](NativeArgs args) {
        Variable body = Variable::makeTable();
        setField(body, route.field, stringArgument(args, 0, route.field));
        return requestMisskey(runtime, route.endpoint, body);
    };
}

/// f(id, limit, options), checked options, id, limit.
NativeFunction identifierListFunction(QuillScriptRuntime& runtime, const Route& route)
{
    return [&runtime, route](NativeArgs args) {
        Variable body = tableOptions(args, 2);
        setField(body, route.field, stringArgument(args, 0, route.field));
        setField(body, "limit", limitArgument(args, 1));
        return requestMisskey(runtime, route.endpoint, body);
    };
}

/// f(limit, options), checked options, limit.
NativeFunction limitedListFunction(QuillScriptRuntime& runtime, const Route& route)
{
    return [&runtime, route](NativeArgs args) {
        Variable body = tableOptions(args, 1);
        setField(body, "limit", limitArgument(args, 0));
        return requestMisskey(runtime, route.endpoint, body);
    };
}

/// f(query, limit, options), checked options, query, limit.
NativeFunction searchFunction(QuillScriptRuntime& runtime, const Route& route)
{
    return [&runtime, route](NativeArgs args) {
        Variable body = tableOptions(args, 2);
        setField(body, "query", stringArgument(args, 0, "query"));
        setField(body, "limit", limitArgument(args, 1));
        return requestMisskey(runtime, route.endpoint, body);
    };
}

/// f(): an empty body.
NativeFunction plainFunction(QuillScriptRuntime& runtime, const Route& route)
{
    return [&runtime, route](NativeArgs) { return requestMisskey(runtime, route.endpoint, Variable::makeTable()); };
}

/// note(text, visibility, options), or with a field reply/quote(noteId, text, visibility,
/// options): the arguments win over the same keys in options.
NativeFunction composeFunction(QuillScriptRuntime& runtime, const Route& route)
{
    return [&runtime, route](NativeArgs args) {
        const size_t first = route.field ? 1 : 0;
        const std::string* noteId = route.field ? &stringArgument(args, 0, "noteId") : nullptr;
        const std::string& text = stringArgument(args, first, "text");
        std::string visibility = bot::optionalVisibility(args, first + 1);
        Variable body = tableOptions(args, first + 2);
        if (noteId) setField(body, route.field, *noteId);
        setField(body, "text", text);
        setField(body, "visibility", std::move(visibility));
        return requestMisskey(runtime, route.endpoint, body);
    };
}

// ---- the functions of their own ----

NativeFunction logFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs args) {
        std::string line;
        for (size_t i = 0; i < args.size(); ++i) {
            if (i > 0) line += '\t';
            args[i].appendTo(line);
        }
        if (runtime.log) runtime.log(runtime.context, line.c_str());
        return Variable();
    };
}

NativeFunction requestFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs args) {
        const std::string& endpoint = bot::hostTextArgument(args, 0, "endpoint");
        const Variable* parameters = givenArgument(args, 1);
        if (!parameters) return requestMisskey(runtime, endpoint, Variable::makeTable());
        if (parameters->type != VarType::Table) fail("parameters must be a table");
        return requestMisskey(runtime, endpoint, *parameters);
    };
}

NativeFunction renoteFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs args) {
        Variable body = Variable::makeTable();
        setField(body, "renoteId", stringArgument(args, 0, "noteId"));
        return requestMisskey(runtime, "notes/create", body);
    };
}

NativeFunction reactFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs args) {
        Variable body = Variable::makeTable();
        setField(body, "noteId", stringArgument(args, 0, "noteId"));
        setField(body, "reaction", stringArgument(args, 1, "reaction"));
        return requestMisskey(runtime, "notes/reactions/create", body);
    };
}

NativeFunction voteFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs args) {
        Variable body = Variable::makeTable();
        setField(body, "noteId", stringArgument(args, 0, "noteId"));
        const int32_t choice = bot::integerArgument(args, 1, "choice", -1);
        if (choice < 0) fail("choice must not be negative");
        setField(body, "choice", choice);
        return requestMisskey(runtime, "notes/polls/vote", body);
    };
}

const char* timelineEndpoint(std::string kind)
{
    std::transform(kind.begin(), kind.end(), kind.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    if (kind == "home") return "notes/timeline";
    if (kind == "local") return "notes/local-timeline";
    if (kind == "social" || kind == "hybrid") return "notes/hybrid-timeline";
    if (kind == "global") return "notes/global-timeline";
    fail("kind must be home, local, social, or global");
}

/// timeline(kind, limit, options), checked kind, options, limit. Only a call without any
/// argument means the home timeline; an explicit absent kind is refused like any non-string.
NativeFunction timelineFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs args) {
        const char* endpoint = args.empty() ? "notes/timeline" : timelineEndpoint(stringArgument(args, 0, "kind"));
        Variable body = tableOptions(args, 2);
        setField(body, "limit", limitArgument(args, 1));
        return requestMisskey(runtime, endpoint, body);
    };
}

NativeFunction userByNameFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs args) {
        Variable body = Variable::makeTable();
        setField(body, "username", stringArgument(args, 0, "username"));
        if (givenArgument(args, 1)) setField(body, "host", stringArgument(args, 1, "host"));
        return requestMisskey(runtime, "users/show", body);
    };
}

NativeFunction usersFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs args) {
        if (args.empty() || args[0].type != VarType::Array) fail("userIds must be an array");
        Variable body = Variable::makeTable();
        setField(body, "userIds", args[0]);
        return requestMisskey(runtime, "users/show", body);
    };
}

/// driveFiles(folderId, limit, options), checked options, folderId, limit.
NativeFunction driveFilesFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs args) {
        Variable body = tableOptions(args, 2);
        if (givenArgument(args, 0)) setField(body, "folderId", stringArgument(args, 0, "folderId"));
        setField(body, "limit", limitArgument(args, 1));
        return requestMisskey(runtime, "drive/files", body);
    };
}

/// upload(filePath, options): the options go to the host untouched.
NativeFunction uploadFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs args) {
        const std::string& path = bot::hostTextArgument(args, 0, "filePath");
        const Variable options = tableOptions(args, 1);
        return bot::callHost(runtime, bot::uploadChannel(runtime), path, options);
    };
}

/// http.request(url, options), or http.get which sets the method to GET over the options.
NativeFunction httpFunction(QuillScriptRuntime& runtime, const char* method)
{
    return [&runtime, method](NativeArgs args) {
        const std::string& url = bot::hostTextArgument(args, 0, "url");
        Variable options = tableOptions(args, 1);
        if (method) setField(options, "method", method);
        return bot::callHost(runtime, bot::httpChannel(runtime), url, options);
    };
}

constexpr int32_t kLongestWaitMs = 24 * 60 * 60 * 1000;
constexpr int32_t kWaitSliceMs = 50;

/// Sleeps in short slices so that a stop request ends the wait within one slice.
NativeFunction waitFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs args) {
        const int32_t requested = bot::integerArgument(args, 0, "milliseconds", 0);
        if (requested < 0) fail("milliseconds must not be negative");
        const int32_t total = std::min(requested, kLongestWaitMs);
        for (int32_t waited = 0; waited < total && !runtime.stopping();) {
            const int32_t slice = std::min(kWaitSliceMs, total - waited);
            std::this_thread::sleep_for(std::chrono::milliseconds(slice));
            waited += slice;
        }
        return Variable(!runtime.stopping());
    };
}

NativeFunction runningFunction(QuillScriptRuntime& runtime, const Route&)
{
    return [&runtime](NativeArgs) { return Variable(!runtime.stopping()); };
}

// ---- registration ----

struct Registration {
    const char* global;
    const char* key;
    Maker make;
    Route route;
};

/// In registration order. misskeyReplies is not listed: it is misskeyChildren under a second
/// name (see installFunctions).
const Registration kBotFunctions[] = {
    {"log", "log", logFunction, {}},
    {"misskeyRequest", "request", requestFunction, {}},
    {"misskeyNote", "note", composeFunction, {"notes/create", nullptr}},
    {"misskeyReply", "reply", composeFunction, {"notes/create", "replyId"}},
    {"misskeyQuote", "quote", composeFunction, {"notes/create", "renoteId"}},
    {"misskeyRenote", "renote", renoteFunction, {}},
    {"misskeyReact", "react", reactFunction, {}},
    {"misskeyUnreact", "unreact", identifierFunction, {"notes/reactions/delete", "noteId"}},
    {"misskeyDeleteNote", "deleteNote", identifierFunction, {"notes/delete", "noteId"}},
    {"misskeyNoteById", "noteById", identifierFunction, {"notes/show", "noteId"}},
    {"misskeyConversation", "conversation", identifierListFunction, {"notes/conversation", "noteId"}},
    {"misskeyChildren", "children", identifierListFunction, {"notes/children", "noteId"}},
    {"misskeyRenotes", "renotes", identifierListFunction, {"notes/renotes", "noteId"}},
    {"misskeyReactions", "reactions", identifierListFunction, {"notes/reactions", "noteId"}},
    {"misskeyFavourite", "favourite", identifierFunction, {"notes/favorites/create", "noteId"}},
    {"misskeyUnfavourite", "unfavourite", identifierFunction, {"notes/favorites/delete", "noteId"}},
    {"misskeySearchNotes", "searchNotes", searchFunction, {"notes/search", nullptr}},
    {"misskeyMentions", "mentions", limitedListFunction, {"notes/mentions", nullptr}},
    {"misskeyFeaturedNotes", "featuredNotes", limitedListFunction, {"notes/featured", nullptr}},
    {"misskeyVote", "vote", voteFunction, {}},
    {"misskeyTimeline", "timeline", timelineFunction, {}},
    {"misskeyNotifications", "notifications", limitedListFunction, {"i/notifications", nullptr}},
    {"misskeyMarkNotificationsRead", "markNotificationsRead", plainFunction,
     {"notifications/mark-all-as-read", nullptr}},
    {"misskeyMe", "me", plainFunction, {"i", nullptr}},
    {"misskeyUser", "user", identifierFunction, {"users/show", "userId"}},
    {"misskeyUserByName", "userByName", userByNameFunction, {}},
    {"misskeyUsers", "users", usersFunction, {}},
    {"misskeySearchUsers", "searchUsers", searchFunction, {"users/search", nullptr}},
    {"misskeyUserNotes", "userNotes", identifierListFunction, {"users/notes", "userId"}},
    {"misskeyFollowers", "followers", identifierListFunction, {"users/followers", "userId"}},
    {"misskeyFollowing", "following", identifierListFunction, {"users/following", "userId"}},
    {"misskeyFollow", "follow", identifierFunction, {"following/create", "userId"}},
    {"misskeyUnfollow", "unfollow", identifierFunction, {"following/delete", "userId"}},
    {"misskeyMute", "mute", identifierFunction, {"mute/create", "userId"}},
    {"misskeyUnmute", "unmute", identifierFunction, {"mute/delete", "userId"}},
    {"misskeyBlock", "block", identifierFunction, {"blocking/create", "userId"}},
    {"misskeyUnblock", "unblock", identifierFunction, {"blocking/delete", "userId"}},
    {"misskeyChannel", "channel", identifierFunction, {"channels/show", "channelId"}},
    {"misskeyChannelTimeline", "channelTimeline", identifierListFunction, {"channels/timeline", "channelId"}},
    {"misskeyFeaturedChannels", "featuredChannels", plainFunction, {"channels/featured", nullptr}},
    {"misskeyFollowChannel", "followChannel", identifierFunction, {"channels/follow", "channelId"}},
    {"misskeyUnfollowChannel", "unfollowChannel", identifierFunction, {"channels/unfollow", "channelId"}},
    {"misskeyFavouriteChannel", "favouriteChannel", identifierFunction, {"channels/favorite", "channelId"}},
    {"misskeyUnfavouriteChannel", "unfavouriteChannel", identifierFunction, {"channels/unfavorite", "channelId"}},
    {"misskeyDriveFiles", "driveFiles", driveFilesFunction, {}},
    {"misskeyDriveFile", "driveFile", identifierFunction, {"drive/files/show", "fileId"}},
    {"misskeyDeleteDriveFile", "deleteDriveFile", identifierFunction, {"drive/files/delete", "fileId"}},
    {"misskeyUpload", "upload", uploadFunction, {}},
};

/// Registers one function as a global and as an entry of a library table named `tableName`.
void registerTwice(CobaltScript& engine, Variable& table, const char* tableName, const char* global,
                   const char* key, const NativeFunction& function)
{
    engine.pushFunction(global, function);
    setField(table, key, engine.makeNativeCallable(function, std::string(tableName) + "." + key, BuiltinId::None));
}

} // namespace

void installFunctions(QuillScriptRuntime& runtime)
{
    CobaltScript& engine = runtime.engine;
    Variable misskey = Variable::makeTable();

    engine.pushFunction("print", logFunction(runtime, {}));

    for (const Registration& entry : kBotFunctions) {
        const NativeFunction function = entry.make(runtime, entry.route);
        registerTwice(engine, misskey, "misskey", entry.global, entry.key, function);
        if (std::string_view(entry.key) == "children")
            registerTwice(engine, misskey, "misskey", "misskeyReplies", "replies", function);
    }

    Variable http = Variable::makeTable();
    registerTwice(engine, http, "http", "httpRequest", "request", httpFunction(runtime, nullptr));
    registerTwice(engine, http, "http", "httpGet", "get", httpFunction(runtime, "GET"));
    engine.pushVariable("http", std::move(http));

    registerTwice(engine, misskey, "misskey", "botWait", "wait", waitFunction(runtime, {}));
    registerTwice(engine, misskey, "misskey", "botIsRunning", "running", runningFunction(runtime, {}));
    engine.pushVariable("misskey", std::move(misskey));
}

} // namespace cobalt
