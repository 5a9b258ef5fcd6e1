#include "app/credentials/credential_manager.h"

#include "app/api/endpoints.h"
#include "app/api/misskey_api.h"
#include "app/credentials/credential_messages.h"
#include "app/credentials/token_file.h"
#include "app/model/response_envelopes.h"

#include <QFileInfo>
#include <QTimer>
#include <QUuid>

#include <QCoro/QCoroTimer>

namespace quill {

namespace {

QString lastPathComponent(const QUrl &url)
{
    return QFileInfo(url.toLocalFile()).fileName();
}

/// Waits, waking early when the login is cancelled; false when it was.
QCoro::Task<bool> waitUnlessCancelled(std::chrono::milliseconds delay, RequestCancellation cancellation)
{
    if (cancellation.isCancelled())
        co_return false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(cancellation.notifier(), &CancellationNotifier::cancelRequested, &timer,
                     [&timer] { timer.start(0); });
    timer.start(delay);
    co_await timer;
    co_return !cancellation.isCancelled();
}

/// How a login ended when it did not produce a token.
struct LoginFailure {
    bool cancelled = false;
    QString message;
};

} // namespace

CredentialManager::CredentialManager(CredentialServices services, CredentialHooks hooks, MiAuthSchedule schedule,
                                     QObject *parent)
    : QObject(parent), m_services(std::move(services)), m_hooks(std::move(hooks)), m_schedule(schedule),
      m_keychain(m_services.secrets, m_services.applicationID)
{
    const std::optional<QString> path = m_services.settings.value(tokenPathSettingsKey());
    if (path && !path->isEmpty())
        m_tokenFileURL = QUrl::fromLocalFile(*path);
}

CredentialManager::~CredentialManager()
{
    // A login still waiting wakes up, sees that it was cancelled and leaves without touching us.
    m_authenticationCancellation.cancel();
}

void CredentialManager::setInstanceURL(const std::optional<QUrl> &url)
{
    m_instanceURL = url;
}

void CredentialManager::setToken(const std::optional<QString> &token, const CredentialSource &source)
{
    if (m_token == token && m_source == source)
        return;
    m_token = token;
    m_source = source;
    Q_EMIT tokenChanged();
}

void CredentialManager::clearToken()
{
    setToken(std::nullopt, CredentialSource::none());
}

void CredentialManager::setTokenFile(const std::optional<QUrl> &url)
{
    if (url)
        m_services.settings.setValue(tokenPathSettingsKey(), url->toLocalFile());
    else
        m_services.settings.remove(tokenPathSettingsKey());
    if (m_tokenFileURL == url)
        return;
    m_tokenFileURL = url;
    Q_EMIT tokenFileURLChanged();
}

void CredentialManager::setAuthenticating(bool authenticating)
{
    if (m_isAuthenticating == authenticating)
        return;
    m_isAuthenticating = authenticating;
    Q_EMIT isAuthenticatingChanged();
}

void CredentialManager::stopSession()
{
    if (m_hooks.stopSession)
        m_hooks.stopSession();
}

void CredentialManager::failLoading(const QString &message)
{
    clearToken();
    Q_EMIT errorPresented(message);
    m_services.log.append(LogEntry::Level::error, message);
}

void CredentialManager::activateToken(const QString &token, const CredentialSource &source)
{
    const QString trimmed = token.trimmed();
    if (trimmed.isEmpty()) {
        clearToken();
        return;
    }
    // A bot or stream still acting for another account must end before the new token takes over.
    if (m_token && *m_token != trimmed)
        stopSession();
    setToken(trimmed, source);
    if (m_hooks.tokenActivated)
        m_hooks.tokenActivated();
}

QCoro::Task<> CredentialManager::reloadCredential()
{
    stopSession();
    if (m_tokenFileURL) {
        const QUrl url = *m_tokenFileURL;
        Result<QString, QString> read = tokenFromFile(url);
        if (!read) {
            failLoading(read.error());
            co_return;
        }
        activateToken(read.value(), CredentialSource::textFile(url));
        m_services.log.append(LogEntry::Level::info, QStringLiteral("Reloaded API key file: ") + lastPathComponent(url));
        co_return;
    }
    if (!m_instanceURL) {
        clearToken();
        m_services.log.append(LogEntry::Level::warning, QStringLiteral("No Misskey instance is configured."));
        co_return;
    }

    const QUrl instance = *m_instanceURL;
    QPointer<CredentialManager> self(this);
    Result<std::optional<QString>, CredentialStoreError> cached = co_await m_keychain.read(instance);
    // Whatever changed while the keyring answered (another instance, a chosen key file) has
    // started its own resolution; this answer is out of date.
    if (!self || m_instanceURL != instance || m_tokenFileURL)
        co_return;
    if (!cached) {
        failLoading(cached.error().errorDescription());
        co_return;
    }
    if (cached.value() && !cached.value()->trimmed().isEmpty()) {
        activateToken(*cached.value(), CredentialSource::keychain());
        m_services.log.append(LogEntry::Level::info, QStringLiteral("Loaded cached Safari login."));
        co_return;
    }
    clearToken();
    m_services.log.append(LogEntry::Level::warning, QStringLiteral("No API key is available; client actions are locked."));
}

void CredentialManager::chooseTokenFile()
{
    if (const std::optional<QUrl> chosen = m_services.dialogs.chooseTextFile())
        useTokenFile(*chosen);
}

void CredentialManager::useTokenFile(const QUrl &url)
{
    if (QFileInfo(url.toLocalFile()).suffix().toLower() != u"txt") {
        Q_EMIT errorPresented(credentialMessages::unsupportedFile());
        return;
    }
    // Read before remembering: a file that cannot be used must not replace a working credential.
    Result<QString, QString> read = tokenFromFile(url);
    if (!read) {
        Q_EMIT errorPresented(read.error());
        m_services.log.append(LogEntry::Level::error, read.error());
        return;
    }
    setTokenFile(url);
    activateToken(read.value(), CredentialSource::textFile(url));
    m_services.log.append(LogEntry::Level::info, QStringLiteral("Loaded API key from ") + lastPathComponent(url));
}

QCoro::Task<> CredentialManager::detachTokenFile()
{
    setTokenFile(std::nullopt);
    co_await reloadCredential();
}

void CredentialManager::exportAPIKey()
{
    if (!m_token || m_token->isEmpty())
        return;
    const SavePanelOptions options{
        QStringLiteral("Export API Key"),
        QStringLiteral("Store this file securely. It grants access to the active Misskey account."),
        QStringLiteral("quill-api-key.txt"),
    };
    const std::optional<QUrl> destination = m_services.dialogs.chooseSaveLocation(options);
    if (!destination)
        return;
    Result<void, QString> written = exportTokenFile(*destination, *m_token);
    if (!written) {
        Q_EMIT errorPresented(written.error());
        return;
    }
    m_services.log.append(LogEntry::Level::info, QStringLiteral("Exported API key to ") + lastPathComponent(*destination));
}

Result<void, QString> CredentialManager::openInSafari(const QUrl &url)
{
    if (!m_services.browser.openInBrowser(url))
        return Failure{credentialMessages::safariUnavailable()};
    return {};
}

void CredentialManager::beginSafariLogin(const QString &instanceInput)
{
    if (m_isAuthenticating)
        return;
    APIResult<QUrl> instance = MisskeyAPI::normaliseInstance(instanceInput);
    if (!instance) {
        Q_EMIT errorPresented(instance.error().errorDescription());
        return;
    }
    if (m_hooks.configureInstance)
        m_hooks.configureInstance(instance.value());
    else
        setInstanceURL(instance.value());
    m_authenticationCancellation = RequestCancellation();
    m_authenticationTask.emplace(performSafariLogin());
    // A login that failed before its first wait has already finished.
    if (!m_isAuthenticating)
        m_authenticationTask.reset();
}

QCoro::Task<> CredentialManager::performSafariLogin()
{
    if (!m_instanceURL)
        co_return;
    const QUrl instance = *m_instanceURL;
    if (m_authenticationCancellation.isCancelled())
        m_authenticationCancellation = RequestCancellation();
    const RequestCancellation cancellation = m_authenticationCancellation;
    setAuthenticating(true);
    QPointer<CredentialManager> self(this);

    const auto finish = [this, &cancellation](const LoginFailure &failure) {
        // A cancelled login that wakes up after another one started leaves the newer one alone.
        if (cancellation.notifier() != m_authenticationCancellation.notifier())
            return;
        if (!failure.cancelled) {
            Q_EMIT errorPresented(failure.message);
            m_services.log.append(LogEntry::Level::error, failure.message);
            m_authenticationTask.reset();
        }
        setAuthenticating(false);
    };

    const QString sessionID = QUuid::createUuid().toString(QUuid::WithoutBraces);
    APIResult<QUrl> page = miAuthURL(instance, sessionID);
    if (!page) {
        finish({false, page.error().errorDescription()});
        co_return;
    }
    if (Result<void, QString> opened = openInSafari(page.value()); !opened) {
        finish({false, opened.error()});
        co_return;
    }
    m_services.log.append(LogEntry::Level::info, QStringLiteral("Waiting for Misskey authorisation in Safari."));

    // The check goes out without a token: the session id is the secret until it is approved.
    const MisskeyAPI client(instance, std::nullopt, m_services.network);
    const QString checkEndpoint = endpoints::miAuthCheck(sessionID);
    const std::chrono::milliseconds interval = m_schedule.pollInterval;
    const int maxChecks = m_schedule.maxChecks;
    std::optional<QString> token;
    for (int check = 0; check < maxChecks && !token; ++check) {
        const bool waited = co_await waitUnlessCancelled(interval, cancellation);
        if (!self)
            co_return;
        if (!waited) {
            finish({true, {}});
            co_return;
        }
        APIResult<MiAuthCheckResponse> answer =
            co_await client.request<MiAuthCheckResponse>(checkEndpoint, nlohmann::json::object(), cancellation);
        if (!self)
            co_return;
        if (!answer) {
            const bool cancelled = answer.error().kind() == MisskeyAPIError::Kind::cancelled || cancellation.isCancelled();
            finish({cancelled, answer.error().errorDescription()});
            co_return;
        }
        if (answer.value().ok && answer.value().token && !answer.value().token->trimmed().isEmpty()) {
            if (containsControlCharacter(answer.value().token->trimmed())) {
                finish({false, MisskeyAPIError::invalidResponse().errorDescription()});
                co_return;
            }
            token = answer.value().token->trimmed();
        }
    }
    if (!token) {
        finish({false, credentialMessages::authenticationTimedOut()});
        co_return;
    }

    Result<void, CredentialStoreError> stored = co_await m_keychain.write(*token, instance);
    if (!self)
        co_return;
    // Cancelled while the keyring stored it (the instance changed, or the user gave up): the item
    // stays cached for that instance, but this login no longer decides the active token.
    if (cancellation.isCancelled()) {
        finish({true, {}});
        co_return;
    }
    if (!stored) {
        finish({false, stored.error().errorDescription()});
        co_return;
    }
    setTokenFile(std::nullopt);
    activateToken(*token, CredentialSource::keychain());
    m_services.log.append(LogEntry::Level::info, QStringLiteral("Safari login cached in Keychain."));
    setAuthenticating(false);
    m_authenticationTask.reset();
}

void CredentialManager::dropAuthenticationTask()
{
    if (!m_authenticationTask)
        return;
    m_authenticationCancellation.cancel();
    m_authenticationTask.reset();
    setAuthenticating(false);
}

void CredentialManager::cancelSafariLogin()
{
    if (m_authenticationTask) {
        m_authenticationCancellation.cancel();
        m_authenticationTask.reset();
    }
    setAuthenticating(false);
    m_services.log.append(LogEntry::Level::info, QStringLiteral("Safari login cancelled."));
}

QCoro::Task<> CredentialManager::forgetCredential()
{
    dropAuthenticationTask();
    stopSession();
    if (m_instanceURL) {
        QPointer<CredentialManager> self(this);
        Result<void, CredentialStoreError> removed = co_await m_keychain.remove(*m_instanceURL);
        if (!self)
            co_return;
        if (!removed)
            m_services.log.append(LogEntry::Level::warning, removed.error().errorDescription());
    }
    setTokenFile(std::nullopt);
    clearToken();
    m_services.log.append(LogEntry::Level::info, QStringLiteral("Forgot the active API key."));
}

} // namespace quill
