#pragma once

#include "app/credentials/platform_services.h"
#include "app/credentials/secret_store.h"

#include <QSettings>

#include <memory>

namespace quill {

/**
 * @brief The desktop keyring through QtKeychain (the Secret Service on Linux).
 *
 * Status codes are QtKeychain's error codes (0 success, 1 entry not found, ...) with its error text.
 * Items are never written to an unencrypted fallback file.
 */
class QtKeychainStore final : public SecretStore {
public:
    QCoro::Task<SecretCopy> copy(QString service, QString account) override;
    /// QtKeychain only replaces or creates, so an update first checks that the item exists.
    QCoro::Task<SecretStatus> update(QString service, QString account, QByteArray data) override;
    QCoro::Task<SecretStatus> add(QString service, QString account, QByteArray data) override;
    QCoro::Task<SecretStatus> remove(QString service, QString account) override;
};

/// Qt's file dialogs, parented to the main window.
class QtFileDialogs final : public FileDialogs {
public:
    std::optional<QUrl> chooseTextFile() override;
    std::optional<QUrl> chooseScriptFile() override;
    std::optional<QUrl> chooseSaveLocation(const SavePanelOptions &options) override;
};

/// The user's default browser through QDesktopServices.
class DesktopURLOpener final : public URLOpener {
public:
    bool openInBrowser(const QUrl &url) override;
};

/// The user defaults in QSettings (the platform's native per-user store).
class QSettingsStore final : public SettingsStore {
public:
    QSettingsStore();
    /// A store in its own INI file, apart from the user's real settings (tests, portable setups).
    explicit QSettingsStore(const QString &iniFilePath);
    std::optional<QString> value(const QString &key) const override;
    void setValue(const QString &key, const QString &value) override;
    void remove(const QString &key) override;

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace quill
