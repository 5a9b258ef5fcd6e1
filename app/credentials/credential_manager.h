#pragma once

#include "app/api/request_cancellation.h"
#include "app/common/result.h"
#include "app/credentials/credential_source.h"
#include "app/credentials/miauth.h"
#include "app/credentials/platform_services.h"
#include "app/credentials/token_keychain.h"
#include "app/log/app_log.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>

namespace quill {

/// The user-defaults key of the chosen API key file's path.
inline QString tokenPathSettingsKey()
{
    return QStringLiteral("bot.token.path");
}

/**
 * @brief What the credential commands ask of the rest of the application.
 *
 * The application state fills these in; every hook may be left empty.
 */
struct CredentialHooks {
    /// Stop the running bot and the stream, and clear the account and the timeline: the old
    /// credential must not keep acting once it is replaced or forgotten.
    std::function<void()> stopSession;
    /// A token became active: load the account and the timeline for it.
    std::function<void()> tokenActivated;
    /// Adopt the instance a MiAuth login is for (the state's configure-instance command). It must
    /// end with setInstanceURL; when empty, only setInstanceURL is called.
    std::function<void(const QUrl &)> configureInstance;
};

/// The platform services the credential commands use; all must outlive the manager.
struct CredentialServices {
    SecretStore &secrets;
    FileDialogs &dialogs;
    URLOpener &browser;
    SettingsStore &settings;
    QNetworkAccessManager *network;
    AppLog &log;
    /// The application identifier that names the keyring service.
    QString applicationID;
};

/**
 * @brief The active access token and the commands that choose, load, store and forget it.
 *
 * A token comes from an API key file (remembered by path and re-read at every start) or from a
 * MiAuth login in the browser (cached in the keyring per instance). Token and source change
 * together: `none` with no token, or a source with a non-empty token. The token is never logged,
 * never put in an error text or a setting, and travels only to the instance.
 *
 * Lives on the main thread; the asynchronous commands are tasks bound to it. A failure the user can
 * act on is reported once through errorPresented (and, for loading and login, logged at ERROR).
 */
class CredentialManager : public QObject {
    Q_OBJECT

public:
    CredentialManager(CredentialServices services, CredentialHooks hooks, MiAuthSchedule schedule = {},
                      QObject *parent = nullptr);
    ~CredentialManager() override;

    const std::optional<QString> &token() const { return m_token; }
    const CredentialSource &credentialSource() const { return m_source; }
    const std::optional<QUrl> &tokenFileURL() const { return m_tokenFileURL; }
    bool isAuthenticating() const { return m_isAuthenticating; }
    const std::optional<QUrl> &instanceURL() const { return m_instanceURL; }
    const TokenKeychain &keychain() const { return m_keychain; }

    /// The configured instance; the state's configure-instance command keeps it current.
    void setInstanceURL(const std::optional<QUrl> &url);

    /// No token is active any more (the instance changed); nothing else is touched.
    void clearToken();
    /// Makes a token the active one; a token of only white space makes none active.
    void activateToken(const QString &token, const CredentialSource &source);
    /// Resolves the credential: the remembered key file, else the keyring item of the instance.
    QCoro::Task<> reloadCredential();

    /// Asks for a key file and uses it.
    void chooseTokenFile();
    /// Reads a ".txt" key file, remembers it and activates its token. A file that cannot be used
    /// gives its message and changes nothing.
    void useTokenFile(const QUrl &url);
    /// Forgets the key file and falls back to the keyring login of the instance, if any.
    QCoro::Task<> detachTokenFile();
    /// Writes the active token to a new file chosen by the user, readable by the owner only.
    void exportAPIKey();

    /// Opens an address in the browser; the error is the user-facing message.
    Result<void, QString> openInSafari(const QUrl &url);
    /// Starts a MiAuth login for the typed instance, unless one is running.
    void beginSafariLogin(const QString &instanceInput);
    /// The MiAuth login itself: open the page, poll until approved, cache and activate the token.
    QCoro::Task<> performSafariLogin();
    /// Ends a running login without an error.
    void cancelSafariLogin();
    /// Cancels and drops a running login silently (the instance changed).
    void dropAuthenticationTask();
    /// Removes the active credential: the keyring item of the instance and the key file choice.
    QCoro::Task<> forgetCredential();

Q_SIGNALS:
    void tokenChanged();
    void tokenFileURLChanged();
    void isAuthenticatingChanged();
    /// A message to show to the user once, as an alert.
    void errorPresented(const QString &message);

private:
    void setToken(const std::optional<QString> &token, const CredentialSource &source);
    void setTokenFile(const std::optional<QUrl> &url);
    void setAuthenticating(bool authenticating);
    void stopSession();
    /// Clears the token, presents the message and logs it at ERROR.
    void failLoading(const QString &message);

    CredentialServices m_services;
    CredentialHooks m_hooks;
    MiAuthSchedule m_schedule;
    TokenKeychain m_keychain;

    std::optional<QUrl> m_instanceURL;
    std::optional<QString> m_token;
    CredentialSource m_source = CredentialSource::none();
    std::optional<QUrl> m_tokenFileURL;
    bool m_isAuthenticating = false;

    std::optional<QCoro::Task<>> m_authenticationTask;
    /// Cancels the running login; each login gets a fresh one, so a cancelled login that wakes up
    /// late can tell that it is no longer the current one.
    RequestCancellation m_authenticationCancellation;
};

} // namespace quill
