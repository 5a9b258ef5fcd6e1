#pragma once

#include "app/api/misskey_api.h"
#include "app/api/misskey_stream.h"
#include "app/credentials/credential_manager.h"
#include "app/credentials/credential_source.h"
#include "app/credentials/miauth.h"
#include "app/credentials/platform_services.h"
#include "app/credentials/secret_store.h"
#include "app/log/app_log.h"
#include "app/model/misskey_note.h"
#include "app/model/misskey_user.h"
#include "app/model/note_visibility.h"
#include "app/model/timeline_kind.h"
#include "app/script/script_controller.h"
#include "app/script/script_outcome.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <optional>

namespace quill {

/// The user-defaults key of the configured instance's address.
inline QString instanceSettingsKey()
{
    return QStringLiteral("misskey.instance");
}

/// The user-defaults key of the chosen bot script's path.
inline QString scriptPathSettingsKey()
{
    return QStringLiteral("bot.script.path");
}

/// The platform services the application state uses; all must outlive it.
struct AppStateServices {
    SecretStore &secrets;
    FileDialogs &dialogs;
    URLOpener &browser;
    SettingsStore &settings;
    /// Main-thread network manager for REST calls and MiAuth checks.
    QNetworkAccessManager *network;
    /// The application identifier that names the keyring service.
    QString applicationID;
};

/// Clocks the application keeps at their defaults; tests shorten them.
struct AppStateTimings {
    StreamTimings stream;
    MiAuthSchedule miAuth;
};

/**
 * @brief The one observable object behind the main window.
 *
 * Holds what the views show (instance, account, timeline, composer, chosen files, busy flags and
 * the error to present), remembers the user's choices in the settings store, and runs every command
 * the views and menus issue. It owns the log, the credential manager, the script controller and the
 * stream, and makes a REST client from the current instance and token for every call.
 *
 * Main thread only. Asynchronous commands are coroutines on the main thread; one that finds the
 * state gone, or the instance or the token replaced, when it resumes changes nothing. The "fire and
 * forget" forms (refresh, post, renote, react, delete_) start the coroutine and return at once.
 *
 * Without an API key every note command does nothing (hasAPIKey).
 */
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString instanceInput READ instanceInput WRITE setInstanceInput NOTIFY instanceInputChanged)
    Q_PROPERTY(std::optional<QUrl> instanceURL READ instanceURL NOTIFY instanceURLChanged)
    Q_PROPERTY(std::optional<QString> token READ token NOTIFY tokenChanged)
    Q_PROPERTY(quill::CredentialSource credentialSource READ credentialSource NOTIFY credentialSourceChanged)
    Q_PROPERTY(std::optional<quill::MisskeyUser> currentUser READ currentUser NOTIFY currentUserChanged)
    Q_PROPERTY(QList<quill::MisskeyNote> notes READ notes NOTIFY notesChanged)
    Q_PROPERTY(quill::TimelineKind selectedTimeline READ selectedTimeline WRITE setSelectedTimeline
                   NOTIFY selectedTimelineChanged)
    Q_PROPERTY(QString composerText READ composerText WRITE setComposerText NOTIFY composerTextChanged)
    Q_PROPERTY(quill::NoteVisibility visibility READ visibility WRITE setVisibility NOTIFY visibilityChanged)
    Q_PROPERTY(std::optional<quill::MisskeyNote> replyTarget READ replyTarget WRITE setReplyTarget
                   NOTIFY replyTargetChanged)
    Q_PROPERTY(std::optional<QUrl> scriptURL READ scriptURL NOTIFY scriptURLChanged)
    Q_PROPERTY(std::optional<QUrl> tokenFileURL READ tokenFileURL NOTIFY tokenFileURLChanged)
    Q_PROPERTY(bool isLoadingTimeline READ isLoadingTimeline NOTIFY isLoadingTimelineChanged)
    Q_PROPERTY(bool isPosting READ isPosting NOTIFY isPostingChanged)
    Q_PROPERTY(bool isAuthenticating READ isAuthenticating NOTIFY isAuthenticatingChanged)
    Q_PROPERTY(std::optional<QString> presentedError READ presentedError WRITE setPresentedError
                   NOTIFY presentedErrorChanged)
    Q_PROPERTY(bool hasAPIKey READ hasAPIKey NOTIFY hasAPIKeyChanged)
    Q_PROPERTY(bool canStartScript READ canStartScript NOTIFY canStartScriptChanged)
    Q_PROPERTY(quill::ScriptExecutionState scriptState READ scriptState NOTIFY scriptStateChanged)

public:
    /// Restores the instance and the remembered file paths from the settings store.
    explicit AppState(AppStateServices services, AppStateTimings timings = {}, QObject *parent = nullptr);
    ~AppState() override;

    // ---- Owned parts ----------------------------------------------------------------------
    AppLog &log() { return *m_log; }
    ScriptController &scriptController() { return *m_scriptController; }
    CredentialManager &credentials() { return *m_credentials; }
    MisskeyStream &stream() { return *m_stream; }

    // ---- Published fields -----------------------------------------------------------------
    const QString &instanceInput() const { return m_instanceInput; }
    void setInstanceInput(const QString &text);
    const std::optional<QUrl> &instanceURL() const { return m_instanceURL; }
    const std::optional<QString> &token() const;
    CredentialSource credentialSource() const;
    const std::optional<MisskeyUser> &currentUser() const { return m_currentUser; }
    /// The timeline, newest first, at most maxTimelineNotes.
    const QList<MisskeyNote> &notes() const { return m_notes; }
    TimelineKind selectedTimeline() const { return m_selectedTimeline; }
    /// A different kind while an API key is active reloads the timeline and restarts the stream.
    void setSelectedTimeline(TimelineKind kind);
    const QString &composerText() const { return m_composerText; }
    void setComposerText(const QString &text);
    NoteVisibility visibility() const { return m_visibility; }
    void setVisibility(NoteVisibility visibility);
    /// The note being replied to; the views set it to reply and clear it to cancel.
    const std::optional<MisskeyNote> &replyTarget() const { return m_replyTarget; }
    void setReplyTarget(const std::optional<MisskeyNote> &note);
    const std::optional<QUrl> &scriptURL() const { return m_scriptURL; }
    std::optional<QUrl> tokenFileURL() const;
    bool isLoadingTimeline() const { return m_isLoadingTimeline; }
    bool isPosting() const { return m_isPosting; }
    bool isAuthenticating() const;
    /// The message the window shows as an alert; it clears it (setPresentedError(nullopt)) when dismissed.
    const std::optional<QString> &presentedError() const { return m_presentedError; }
    void setPresentedError(const std::optional<QString> &message);

    // ---- Derived values -------------------------------------------------------------------
    /// A non-empty token is active; without one the client is locked.
    bool hasAPIKey() const;
    /// An API key, an instance and a script, and no bot running or stopping.
    bool canStartScript() const;
    ScriptExecutionState scriptState() const;

    static constexpr int timelineLoadLimit = 40;
    static constexpr qsizetype maxTimelineNotes = 100;

    // ---- Commands ---------------------------------------------------------------------------
    /// Start-up, once (when the main window is first shown): log, check the script, load the credential.
    QCoro::Task<> start();
    /// Normalises instanceInput and adopts it, then resolves the credential in the background; an
    /// address that cannot be used only sets presentedError.
    void applyInstance();
    /// Adopts an instance; a different one ends the session of the old one.
    void configureInstance(const QUrl &url);

    /// Reloads the timeline and restarts the stream, in the background.
    void refresh();
    QCoro::Task<> refreshTimeline(bool restartStream);
    /// Loads the account and the timeline together (after a token became active).
    QCoro::Task<> refreshAccountAndTimeline();
    /// Puts a note at the front, removing an older copy, keeping at most maxTimelineNotes.
    void insertAtTop(const MisskeyNote &note);
    /// (Re)opens the streaming connection for the instance, token and selected timeline.
    void startStream();

    void post();
    QCoro::Task<> postNote();
    void renote(const MisskeyNote &note);
    QCoro::Task<> performRenote(MisskeyNote note);
    void react(const MisskeyNote &note, const QString &reaction);
    QCoro::Task<> performReaction(MisskeyNote note, QString reaction);
    /// Deletes in the background (the trailing underscore only avoids the C++ keyword).
    void delete_(const MisskeyNote &note);
    QCoro::Task<> deleteNote(MisskeyNote note);
    /// Opens the note's page on the instance in the browser.
    void openNote(const MisskeyNote &note);

    /// Asks for a .cbs file and uses it.
    void chooseScript();
    void useScript(const QUrl &url);
    void clearScript();
    void startScript();
    /// Stops the running bot (the script controller's stop).
    void stopScript();
    /// Scripts and key files dropped on the window; false (and the message presented) when none was taken.
    bool acceptDroppedFiles(const QList<QUrl> &urls);

    // ---- Credential commands (run by the credential manager) ----------------------------------
    QCoro::Task<> reloadCredential();
    void chooseTokenFile();
    void useTokenFile(const QUrl &url);
    /// Forgets the key file and falls back to the keyring login, in the background.
    void detachTokenFile();
    void exportAPIKey();
    /// Starts a MiAuth login in the browser for the typed instance.
    void beginSafariLogin();
    void cancelSafariLogin();
    /// Removes the active credential, in the background.
    void forgetCredential();

    // ---- Helpers shared with the views ------------------------------------------------------
    /// A note with an embedded renote and no content of its own (text, content warning, reply,
    /// poll, files): Misskey shows, renotes, reacts to and replies to the embedded note instead.
    static bool isPureRenote(const MisskeyNote &note);
    /// The id that renote, react and open act on: the embedded note of a pure renote, else the note.
    static QString targetID(const MisskeyNote &note);
    /// The id a reply goes to: the embedded note of a pure renote (Misskey refuses the renote).
    static QString replyTargetID(const MisskeyNote &note);

Q_SIGNALS:
    void instanceInputChanged();
    void instanceURLChanged();
    void tokenChanged();
    void credentialSourceChanged();
    void currentUserChanged();
    void notesChanged();
    void selectedTimelineChanged();
    void composerTextChanged();
    void visibilityChanged();
    void replyTargetChanged();
    void scriptURLChanged();
    void tokenFileURLChanged();
    void isLoadingTimelineChanged();
    void isPostingChanged();
    void isAuthenticatingChanged();
    void presentedErrorChanged();
    void hasAPIKeyChanged();
    void canStartScriptChanged();
    void scriptStateChanged();

private:
    void wireCredentials();
    void setInstanceURL(const std::optional<QUrl> &url);
    void setCurrentUser(const std::optional<MisskeyUser> &user);
    void setNotes(QList<MisskeyNote> notes);
    void setScriptURL(const std::optional<QUrl> &url);
    void setLoadingTimeline(bool loading);
    void setPosting(bool posting);
    /// Stops the bot and the stream and clears the account and the timeline.
    void stopSession();
    /// Presents a failed command's message and logs it at ERROR.
    void fail(const QString &message);
    /// Re-evaluates the derived values and announces those that changed.
    void updateDerived();
    /// A REST client for the current instance and token; nothing without both.
    std::optional<MisskeyAPI> client() const;
    /// Identifies the instance and token a command started with.
    quint64 sessionGeneration() const { return m_sessionGeneration; }

    AppStateServices m_services;
    AppLog *m_log = nullptr;
    ScriptController *m_scriptController = nullptr;
    MisskeyStream *m_stream = nullptr;
    CredentialManager *m_credentials = nullptr;

    QString m_instanceInput;
    std::optional<QUrl> m_instanceURL;
    std::optional<MisskeyUser> m_currentUser;
    QList<MisskeyNote> m_notes;
    TimelineKind m_selectedTimeline = TimelineKind::home;
    QString m_composerText;
    NoteVisibility m_visibility = NoteVisibility::public_;
    std::optional<MisskeyNote> m_replyTarget;
    std::optional<QUrl> m_scriptURL;
    bool m_isLoadingTimeline = false;
    bool m_isPosting = false;
    std::optional<QString> m_presentedError;
    bool m_didStart = false;

    /// Bumped whenever the instance or the token is replaced, so a command that resumes after it
    /// knows that its answer belongs to another session.
    quint64 m_sessionGeneration = 0;
    /// Bumped by every timeline load; only the newest load may set the notes.
    quint64 m_timelineLoad = 0;
    bool m_lastHasAPIKey = false;
    bool m_lastCanStartScript = false;
};

} // namespace quill
