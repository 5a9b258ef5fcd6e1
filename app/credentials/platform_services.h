#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace quill {

/// What the save panel of the key export shows.
struct SavePanelOptions {
    QString title;
    QString message;
    QString proposedName;
};

/// The open and save panels of the credential commands. Both return nothing when the user cancels.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    /// One existing plain-text file; no folders, no multiple selection.
    virtual std::optional<QUrl> chooseTextFile() = 0;
    /// One existing CobaltScript (".cbs") file; no folders, no multiple selection.
    virtual std::optional<QUrl> chooseScriptFile() = 0;
    /// A new plain-text file, allowing new folders.
    virtual std::optional<QUrl> chooseSaveLocation(const SavePanelOptions &options) = 0;
};

/// Opens addresses in the user's web browser.
class URLOpener {
public:
    virtual ~URLOpener() = default;
    /// False when no browser could be started.
    virtual bool openInBrowser(const QUrl &url) = 0;
};

/// The user's persistent choices: texts by key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<QString> value(const QString &key) const = 0;
    virtual void setValue(const QString &key, const QString &value) = 0;
    virtual void remove(const QString &key) = 0;
};

} // namespace quill
