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
        if (const auto failed = begin("copy"))
            co_return SecretCopy{*failed, {}};
        const auto found = items.constFind({service, account});
        co_return found == items.constEnd() ? SecretCopy{notFound(), {}} : SecretCopy{{}, *found};
    }
    QCoro::Task<SecretStatus> update(QString service, QString account, QByteArray data) override
    {
        if (const auto failed = begin("update"))
            co_return *failed;
        if (!items.contains({service, account}))
            co_return notFound();
        items.insert({service, account}, data);
        co_return SecretStatus{};
    }
    QCoro::Task<SecretStatus> add(QString service, QString account, QByteArray data) override
    {
        if (const auto failed = begin("add"))
            co_return *failed;
        items.insert({service, account}, data);
        co_return SecretStatus{};
    }
    QCoro::Task<SecretStatus> remove(QString service, QString account) override
    {
        if (const auto failed = begin("remove"))
            co_return *failed;
        co_return items.remove({service, account}) ? SecretStatus{} : notFound();
    }

private:
    std::optional<SecretStatus> begin(const char *operation)
    {
        operations.append(QLatin1String(operation));
        return failWith;
    }
    static SecretStatus notFound() { return SecretStatus{SecretStatus::itemNotFound, {}}; }
};

/// File panels that answer with preset choices and remember the save panel's options.
class ScriptedFileDialogs final : public FileDialogs {
public:
    std::optional<QUrl> scriptChoice;
    std::optional<QUrl> saveChoice;
    std::optional<SavePanelOptions> lastSaveOptions;

    std::optional<QUrl> chooseTextFile() override { return std::nullopt; }
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
        if (available)
            opened.append(url);
        return available;
    }
};

class InMemorySettings final : public SettingsStore {
public:
    QHash<QString, QString> values;

    std::optional<QString> value(const QString &key) const override
    {
        return values.contains(key) ? std::optional<QString>(values.value(key)) : std::nullopt;
    }
    void setValue(const QString &key, const QString &value) override { values.insert(key, value); }
    void remove(const QString &key) override { values.remove(key); }
};

} // namespace quill::test
