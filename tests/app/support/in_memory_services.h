#pragma once

#include "app/credentials/platform_services.h"
#include "app/credentials/secret_store.h"

#include <QHash>
#include <QPair>
#include <QStringList>

#include <optional>

namespace quill::test {

/// A keyring in memory. Each operation is recorded ("copy", "update", "add", "remove"); a status
/// set in failWith is returned by every operation instead of touching the items.
class InMemorySecretStore final : public SecretStore {
public:
    QHash<QPair<QString, QString>, QByteArray> items;
    QStringList operations;
    std::optional<SecretStatus> failWith;

    QCoro::Task<SecretCopy> copy(QString service, QString account) override
    {
        operations.append(QStringLiteral("copy"));
        if (failWith)
            co_return SecretCopy{*failWith, {}};
        const auto found = items.constFind({service, account});
        if (found == items.constEnd())
            co_return SecretCopy{{SecretStatus::itemNotFound, {}}, {}};
        co_return SecretCopy{{}, *found};
    }
    QCoro::Task<SecretStatus> update(QString service, QString account, QByteArray data) override
    {
        operations.append(QStringLiteral("update"));
        if (failWith)
            co_return *failWith;
        if (!items.contains({service, account}))
            co_return SecretStatus{SecretStatus::itemNotFound, {}};
        items.insert({service, account}, data);
        co_return SecretStatus{};
    }
    QCoro::Task<SecretStatus> add(QString service, QString account, QByteArray data) override
    {
        operations.append(QStringLiteral("add"));
        if (failWith)
            co_return *failWith;
        items.insert({service, account}, data);
        co_return SecretStatus{};
    }
    QCoro::Task<SecretStatus> remove(QString service, QString account) override
    {
        operations.append(QStringLiteral("remove"));
        if (failWith)
            co_return *failWith;
        co_return items.remove({service, account}) ? SecretStatus{} : SecretStatus{SecretStatus::itemNotFound, {}};
    }
};

/// File panels that answer with preset choices and remember what they were asked.
class ScriptedFileDialogs final : public FileDialogs {
public:
    std::optional<QUrl> openChoice;
    std::optional<QUrl> scriptChoice;
    std::optional<QUrl> saveChoice;
    std::optional<SavePanelOptions> lastSaveOptions;

    std::optional<QUrl> chooseTextFile() override { return openChoice; }
    std::optional<QUrl> chooseScriptFile() override { return scriptChoice; }
    std::optional<QUrl> chooseSaveLocation(const SavePanelOptions &options) override
    {
        lastSaveOptions = options;
        return saveChoice;
    }
};

/// A browser that records the addresses it was given; `available` false means none can start.
class RecordingURLOpener final : public URLOpener {
public:
    bool available = true;
    QList<QUrl> opened;

    bool openInBrowser(const QUrl &url) override
    {
        if (!available)
            return false;
        opened.append(url);
        return true;
    }
};

class InMemorySettings final : public SettingsStore {
public:
    QHash<QString, QString> values;

    std::optional<QString> value(const QString &key) const override
    {
        const auto found = values.constFind(key);
        return found == values.constEnd() ? std::nullopt : std::optional<QString>(*found);
    }
    void setValue(const QString &key, const QString &value) override { values.insert(key, value); }
    void remove(const QString &key) override { values.remove(key); }
};

} // namespace quill::test
