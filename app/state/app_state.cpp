#include "app/state/app_state.h"

#include "app/api/endpoints.h"
#include "app/credentials/credential_messages.h"

#include <QFileInfo>
#include <QPointer>

#include <utility>

namespace quill {

namespace {

/// Lets a command run on by itself: a dropped task keeps running to its end on the main thread.
void runDetached(QCoro::Task<> task)
{
    static_cast<void>(std::move(task));
}

// Stores a published field only when it changes, so that its signal (and every view redraw that
// follows) fires for real changes alone. True when the field changed.
template <typename Field, typename Value>
bool assignIfChanged(Field &field, Value &&value)
{
    if (field == value)
        return false;
    field = std::forward<Value>(value);
    return true;
}

QString lastPathComponent(const QUrl &url)
{
    return QFileInfo(url.toLocalFile()).fileName();
}

bool hasScriptExtension(const QUrl &url)
{
    return QFileInfo(url.toLocalFile()).suffix().toLower() == u"cbs";
}

bool hasTokenFileExtension(const QUrl &url)
{
    return QFileInfo(url.toLocalFile()).suffix().toLower() == u"txt";
}

MisskeyAPI::Parameters timelineParameters()
{
    MisskeyAPI::Parameters parameters = MisskeyAPI::Parameters::object();
    parameters["limit"] = AppState::timelineLoadLimit;
    return parameters;
}

MisskeyAPI::Parameters deletionParameters(const QString &noteID)
{
    MisskeyAPI::Parameters parameters = MisskeyAPI::Parameters::object();
    parameters["noteId"] = noteID.toStdString();
    return parameters;
}

} // namespace

AppState::AppState(AppStateServices services, AppStateTimings timings, QObject *parent)
    : QObject(parent), m_services(std::move(services))
{
    m_log = new AppLog(this);
    m_scriptController = new ScriptController(m_log, this);
    m_stream = new MisskeyStream(timings.stream, this);

    CredentialHooks hooks;
    hooks.stopSession = [this] { stopSession(); };
    hooks.tokenActivated = [this] { runDetached(refreshAccountAndTimeline()); };
    hooks.configureInstance = [this](const QUrl &url) { configureInstance(url); };
    m_credentials = new CredentialManager(
        CredentialServices{m_services.secrets, m_services.dialogs, m_services.browser, m_services.settings,
                           m_services.network, *m_log, m_services.applicationID},
        std::move(hooks), timings.miAuth, this);

    if (const std::optional<QString> stored = m_services.settings.value(instanceSettingsKey())) {
        m_instanceInput = *stored;
        if (APIResult<QUrl> normalised = MisskeyAPI::normaliseInstance(*stored))
            m_instanceURL = normalised.value();
    }
    if (const std::optional<QString> path = m_services.settings.value(scriptPathSettingsKey()); path && !path->isEmpty())
        m_scriptURL = QUrl::fromLocalFile(*path);
    m_credentials->setInstanceURL(m_instanceURL);

    wireCredentials();
    connect(m_scriptController, &ScriptController::stateChanged, this, [this] {
        Q_EMIT scriptStateChanged();
        updateDerived();
    });
    m_lastHasAPIKey = hasAPIKey();
    m_lastCanStartScript = canStartScript();
}

AppState::~AppState()
{
    // The parts call back into this object (hooks, stream handlers); end them while it is whole.
    m_stream->stop();
    delete m_credentials;
    m_credentials = nullptr;
    delete m_stream;
    m_stream = nullptr;
    delete m_scriptController;
    m_scriptController = nullptr;
}

void AppState::wireCredentials()
{
    connect(m_credentials, &CredentialManager::tokenChanged, this, [this] {
        // Whatever was in flight for the previous token is no longer ours to apply.
        ++m_sessionGeneration;
        Q_EMIT tokenChanged();
        Q_EMIT credentialSourceChanged();
        updateDerived();
    });
    connect(m_credentials, &CredentialManager::tokenFileURLChanged, this, &AppState::tokenFileURLChanged);
    connect(m_credentials, &CredentialManager::isAuthenticatingChanged, this, &AppState::isAuthenticatingChanged);
    connect(m_credentials, &CredentialManager::errorPresented, this,
            [this](const QString &message) { setPresentedError(message); });
}

// ---- Published fields ---------------------------------------------------------------------------

void AppState::setInstanceInput(const QString &text)
{
    if (!assignIfChanged(m_instanceInput, text))
        return;
    Q_EMIT instanceInputChanged();
}

void AppState::setInstanceURL(const std::optional<QUrl> &url)
{
    if (!assignIfChanged(m_instanceURL, url))
        return;
    Q_EMIT instanceURLChanged();
    updateDerived();
}

const std::optional<QString> &AppState::token() const
{
    return m_credentials->token();
}

CredentialSource AppState::credentialSource() const
{
    return m_credentials->credentialSource();
}

void AppState::setCurrentUser(const std::optional<MisskeyUser> &user)
{
    if (!assignIfChanged(m_currentUser, user))
        return;
    Q_EMIT currentUserChanged();
}

void AppState::setNotes(QList<MisskeyNote> notes)
{
    if (notes.size() > maxTimelineNotes)
        notes.resize(maxTimelineNotes);
    if (!assignIfChanged(m_notes, std::move(notes)))
        return;
    Q_EMIT notesChanged();
}

void AppState::setSelectedTimeline(TimelineKind kind)
{
    if (!assignIfChanged(m_selectedTimeline, kind))
        return;
    Q_EMIT selectedTimelineChanged();
    if (hasAPIKey())
        runDetached(refreshTimeline(true));
}

void AppState::setComposerText(const QString &text)
{
    if (!assignIfChanged(m_composerText, text))
        return;
    Q_EMIT composerTextChanged();
}

void AppState::setVisibility(NoteVisibility visibility)
{
    if (!assignIfChanged(m_visibility, visibility))
        return;
    Q_EMIT visibilityChanged();
}

void AppState::setReplyTarget(const std::optional<MisskeyNote> &note)
{
    if (!assignIfChanged(m_replyTarget, note))
        return;
    Q_EMIT replyTargetChanged();
}

void AppState::setScriptURL(const std::optional<QUrl> &url)
{
    if (!assignIfChanged(m_scriptURL, url))
        return;
    Q_EMIT scriptURLChanged();
    updateDerived();
}

std::optional<QUrl> AppState::tokenFileURL() const
{
    return m_credentials->tokenFileURL();
}

void AppState::setLoadingTimeline(bool loading)
{
    if (!assignIfChanged(m_isLoadingTimeline, loading))
        return;
    Q_EMIT isLoadingTimelineChanged();
}

void AppState::setPosting(bool posting)
{
    if (!assignIfChanged(m_isPosting, posting))
        return;
    Q_EMIT isPostingChanged();
}

bool AppState::isAuthenticating() const
{
    return m_credentials->isAuthenticating();
}

void AppState::setPresentedError(const std::optional<QString> &message)
{
    if (!assignIfChanged(m_presentedError, message))
        return;
    Q_EMIT presentedErrorChanged();
}

// ---- Derived values -----------------------------------------------------------------------------

bool AppState::hasAPIKey() const
{
    const std::optional<QString> &current = token();
    return current && !current->isEmpty();
}

bool AppState::canStartScript() const
{
    return hasAPIKey() && m_instanceURL && m_scriptURL && scriptState() == ScriptExecutionState::idle;
}

ScriptExecutionState AppState::scriptState() const
{
    return m_scriptController->state();
}

void AppState::updateDerived()
{
    const bool apiKey = hasAPIKey();
    const bool startable = canStartScript();
    if (apiKey != m_lastHasAPIKey) {
        m_lastHasAPIKey = apiKey;
        Q_EMIT hasAPIKeyChanged();
    }
    if (startable != m_lastCanStartScript) {
        m_lastCanStartScript = startable;
        Q_EMIT canStartScriptChanged();
    }
}

std::optional<MisskeyAPI> AppState::client() const
{
    if (!m_instanceURL || !hasAPIKey())
        return std::nullopt;
    return MisskeyAPI(*m_instanceURL, token(), m_services.network);
}

void AppState::fail(const QString &message)
{
    setPresentedError(message);
    m_log->append(LogEntry::Level::error, message);
}

void AppState::stopSession()
{
    ++m_sessionGeneration;
    if (scriptState() == ScriptExecutionState::running)
        m_scriptController->stop();
    m_stream->stop();
    setCurrentUser(std::nullopt);
    setNotes({});
}

// ---- Helpers shared with the views ------------------------------------------------------------

bool AppState::isPureRenote(const MisskeyNote &note)
{
    return note.isPureRenote();
}

QString AppState::targetID(const MisskeyNote &note)
{
    return note.isPureRenote() ? note.renote->id : note.id;
}

QString AppState::replyTargetID(const MisskeyNote &note)
{
    return targetID(note);
}

// ---- Start-up and the instance ----------------------------------------------------------------

QCoro::Task<> AppState::start()
{
    if (m_didStart)
        co_return;
    m_didStart = true;
    m_log->append(LogEntry::Level::info, QStringLiteral("Quill ready."));
    if (m_scriptURL) {
        const QString path = m_scriptURL->toLocalFile();
        if (QFileInfo::exists(path))
            m_log->append(LogEntry::Level::info, QStringLiteral("Loaded script path: ") + lastPathComponent(*m_scriptURL));
        else
            m_log->append(LogEntry::Level::warning, QStringLiteral("Stored script path is unavailable: ") + path);
    }
    co_await m_credentials->reloadCredential();
}

void AppState::configureInstance(const QUrl &url)
{
    const bool differs = m_instanceURL != url;
    const QString text = url.toString();
    setInstanceURL(url);
    setInstanceInput(text);
    m_services.settings.setValue(instanceSettingsKey(), text);
    if (differs) {
        m_credentials->dropAuthenticationTask();
        stopSession();
        m_credentials->clearToken();
        m_log->append(LogEntry::Level::info,
                      QStringLiteral("Instance set to ") + (url.host().isEmpty() ? text : url.host()));
    }
    m_credentials->setInstanceURL(url);
}

void AppState::applyInstance()
{
    APIResult<QUrl> normalised = MisskeyAPI::normaliseInstance(m_instanceInput);
    if (!normalised) {
        setPresentedError(normalised.error().errorDescription());
        return;
    }
    configureInstance(normalised.value());
    runDetached(reloadCredential());
}

// ---- The timeline ---------------------------------------------------------------------------------

void AppState::refresh()
{
    runDetached(refreshTimeline(true));
}

QCoro::Task<> AppState::refreshTimeline(bool restartStream)
{
    const std::optional<MisskeyAPI> api = client();
    if (!api)
        co_return;
    if (restartStream)
        m_stream->stop();
    const quint64 session = m_sessionGeneration;
    const quint64 load = ++m_timelineLoad;
    const TimelineKind kind = m_selectedTimeline;
    setLoadingTimeline(true);

    QPointer<AppState> self(this);
    APIResult<QList<MisskeyNote>> loaded =
        co_await api->request<QList<MisskeyNote>>(endpoint(kind), timelineParameters());
    // Only the newest load speaks for the timeline; one of another session says nothing at all.
    if (!self || load != m_timelineLoad)
        co_return;
    if (session != m_sessionGeneration) {
        setLoadingTimeline(false);
        co_return;
    }
    if (!loaded) {
        fail(loaded.error().errorDescription());
        setLoadingTimeline(false);
        co_return;
    }
    setNotes(std::move(loaded).value());
    m_log->append(LogEntry::Level::request, QStringLiteral("Loaded ") + title(kind) + QStringLiteral(" timeline."));
    if (restartStream)
        startStream();
    setLoadingTimeline(false);
}

QCoro::Task<> AppState::refreshAccountAndTimeline()
{
    const std::optional<MisskeyAPI> api = client();
    if (!api)
        co_return;
    const quint64 session = m_sessionGeneration;
    const quint64 load = ++m_timelineLoad;
    setLoadingTimeline(true);

    QPointer<AppState> self(this);
    // Both requests go out before either answer is awaited.
    QCoro::Task<APIResult<MisskeyUser>> account = api->me();
    QCoro::Task<APIResult<QList<MisskeyNote>>> timeline =
        api->request<QList<MisskeyNote>>(endpoint(m_selectedTimeline), timelineParameters());
    APIResult<MisskeyUser> user = co_await std::move(account);
    APIResult<QList<MisskeyNote>> loaded = co_await std::move(timeline);
    if (!self || session != m_sessionGeneration) {
        if (self && load == m_timelineLoad)
            setLoadingTimeline(false);
        co_return;
    }
    if (load != m_timelineLoad) {
        // A newer timeline load (another kind was chosen meanwhile) owns the notes; the account
        // is still this session's.
        if (user && loaded)
            setCurrentUser(user.value());
        co_return;
    }
    if (!user || !loaded) {
        const MisskeyAPIError error = !user ? user.error() : loaded.error();
        setCurrentUser(std::nullopt);
        setNotes({});
        fail(error.errorDescription());
        setLoadingTimeline(false);
        co_return;
    }
    setCurrentUser(user.value());
    setNotes(std::move(loaded).value());
    m_log->append(LogEntry::Level::request, QStringLiteral("Connected as ") + user.value().handle());
    startStream();
    setLoadingTimeline(false);
}

void AppState::insertAtTop(const MisskeyNote &note)
{
    QList<MisskeyNote> updated = m_notes;
    updated.removeIf([&note](const MisskeyNote &existing) { return existing.id == note.id; });
    updated.prepend(note);
    setNotes(std::move(updated));
}

void AppState::startStream()
{
    if (!m_instanceURL || !hasAPIKey())
        return;
    m_stream->stop();
    const QPointer<AppState> self(this);
    StreamHandlers handlers;
    handlers.onNote = [self](const MisskeyNote &note) {
        if (self)
            self->insertAtTop(note);
    };
    handlers.onEvent = [self](const QString &type) {
        if (!self)
            return;
        if (type == u"notification" || type == u"mention" || type == u"reply")
            self->m_log->append(LogEntry::Level::request, QStringLiteral("Streaming event: ") + type);
    };
    handlers.onFailure = [self](const MisskeyAPIError &error) {
        if (self)
            self->m_log->append(LogEntry::Level::warning,
                                QStringLiteral("Streaming interrupted; reconnecting: ") + error.errorDescription());
    };
    m_stream->start(*m_instanceURL, *token(), m_selectedTimeline, std::move(handlers));
}

// ---- Note commands --------------------------------------------------------------------------------

void AppState::post()
{
    runDetached(postNote());
}

QCoro::Task<> AppState::postNote()
{
    const QString text = m_composerText.trimmed();
    if (text.isEmpty())
        co_return;
    const std::optional<MisskeyAPI> api = client();
    if (!api)
        co_return;
    const quint64 session = m_sessionGeneration;
    // Misskey refuses a reply to a pure renote; the reply goes to the note it shows.
    std::optional<QString> replyID;
    if (m_replyTarget)
        replyID = replyTargetID(*m_replyTarget);
    setPosting(true);

    QPointer<AppState> self(this);
    APIResult<MisskeyNote> created = co_await api->createNote(text, m_visibility, replyID, std::nullopt);
    if (!self)
        co_return;
    setPosting(false);
    if (session != m_sessionGeneration)
        co_return;
    if (!created) {
        fail(created.error().errorDescription());
        co_return;
    }
    setComposerText(QString());
    setReplyTarget(std::nullopt);
    insertAtTop(created.value());
    m_log->append(LogEntry::Level::request, QStringLiteral("Posted note ") + created.value().id);
}

void AppState::renote(const MisskeyNote &note)
{
    runDetached(performRenote(note));
}

QCoro::Task<> AppState::performRenote(MisskeyNote note)
{
    const std::optional<MisskeyAPI> api = client();
    if (!api)
        co_return;
    const quint64 session = m_sessionGeneration;
    const QString target = targetID(note);
    QPointer<AppState> self(this);
    APIResult<MisskeyNote> created = co_await api->createNote(QString(), NoteVisibility::public_, std::nullopt, target);
    if (!self || session != m_sessionGeneration)
        co_return;
    if (!created) {
        fail(created.error().errorDescription());
        co_return;
    }
    insertAtTop(created.value());
    m_log->append(LogEntry::Level::request, QStringLiteral("Renoted ") + target);
}

void AppState::react(const MisskeyNote &note, const QString &reaction)
{
    runDetached(performReaction(note, reaction));
}

QCoro::Task<> AppState::performReaction(MisskeyNote note, QString reaction)
{
    const std::optional<MisskeyAPI> api = client();
    if (!api)
        co_return;
    const quint64 session = m_sessionGeneration;
    const QString target = targetID(note);
    QPointer<AppState> self(this);
    APIResult<void> reacted = co_await api->react(target, reaction);
    if (!self || session != m_sessionGeneration)
        co_return;
    if (!reacted) {
        fail(reacted.error().errorDescription());
        co_return;
    }
    m_log->append(LogEntry::Level::request, QStringLiteral("Reacted to ") + target);
    co_await refreshTimeline(false);
}

void AppState::delete_(const MisskeyNote &note)
{
    runDetached(deleteNote(note));
}

QCoro::Task<> AppState::deleteNote(MisskeyNote note)
{
    const std::optional<MisskeyAPI> api = client();
    if (!api)
        co_return;
    const quint64 session = m_sessionGeneration;
    // A renote is a note of its own: deleting it never touches the note it renoted.
    const QString id = note.id;
    QPointer<AppState> self(this);
    APIResult<QByteArray> deleted = co_await api->requestData(endpoints::deleteNote(), deletionParameters(id));
    if (!self || session != m_sessionGeneration)
        co_return;
    if (!deleted) {
        fail(deleted.error().errorDescription());
        co_return;
    }
    QList<MisskeyNote> remaining = m_notes;
    remaining.removeIf([&id](const MisskeyNote &existing) { return existing.id == id; });
    setNotes(std::move(remaining));
    m_log->append(LogEntry::Level::request, QStringLiteral("Deleted note ") + id);
}

void AppState::openNote(const MisskeyNote &note)
{
    if (!m_instanceURL)
        return;
    QUrl page = *m_instanceURL;
    QString path = page.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    // The id is one path component, whatever the server put in it.
    path += QStringLiteral("/notes/") + QString::fromLatin1(QUrl::toPercentEncoding(targetID(note)));
    page.setPath(path, QUrl::TolerantMode);
    m_services.browser.openInBrowser(page);
}

// ---- The bot script -------------------------------------------------------------------------------

void AppState::chooseScript()
{
    if (const std::optional<QUrl> chosen = m_services.dialogs.chooseScriptFile())
        useScript(*chosen);
}

void AppState::useScript(const QUrl &url)
{
    if (!hasScriptExtension(url)) {
        setPresentedError(credentialMessages::unsupportedFile());
        return;
    }
    if (scriptState() != ScriptExecutionState::idle)
        m_scriptController->stop();
    setScriptURL(url);
    m_services.settings.setValue(scriptPathSettingsKey(), url.toLocalFile());
    m_log->append(LogEntry::Level::info, QStringLiteral("Selected bot script: ") + lastPathComponent(url));
}

void AppState::clearScript()
{
    if (scriptState() == ScriptExecutionState::running)
        m_scriptController->stop();
    setScriptURL(std::nullopt);
    m_services.settings.remove(scriptPathSettingsKey());
    m_log->append(LogEntry::Level::info, QStringLiteral("Cleared the stored bot script path."));
}

void AppState::startScript()
{
    if (!m_instanceURL || !m_scriptURL || !hasAPIKey())
        return;
    m_scriptController->start(m_scriptURL->toLocalFile(), *m_instanceURL, *token());
}

void AppState::stopScript()
{
    m_scriptController->stop();
}

bool AppState::acceptDroppedFiles(const QList<QUrl> &urls)
{
    bool accepted = false;
    for (const QUrl &url : urls) {
        // A folder is never a script, whatever its name.
        if (hasScriptExtension(url) && !QFileInfo(url.toLocalFile()).isDir()) {
            useScript(url);
            accepted = true;
        } else if (hasTokenFileExtension(url)) {
            useTokenFile(url);
            accepted = true;
        }
    }
    if (!accepted)
        setPresentedError(credentialMessages::unsupportedFile());
    return accepted;
}

// ---- Credential commands ------------------------------------------------------------------------

QCoro::Task<> AppState::reloadCredential()
{
    return m_credentials->reloadCredential();
}

void AppState::chooseTokenFile()
{
    m_credentials->chooseTokenFile();
}

void AppState::useTokenFile(const QUrl &url)
{
    m_credentials->useTokenFile(url);
}

void AppState::detachTokenFile()
{
    runDetached(m_credentials->detachTokenFile());
}

void AppState::exportAPIKey()
{
    m_credentials->exportAPIKey();
}

void AppState::beginSafariLogin()
{
    m_credentials->beginSafariLogin(m_instanceInput);
}

void AppState::cancelSafariLogin()
{
    m_credentials->cancelSafariLogin();
}

void AppState::forgetCredential()
{
    runDetached(m_credentials->forgetCredential());
}

} // namespace quill
