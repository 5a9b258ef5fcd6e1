#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <QCoro/QCoroTask>

namespace quill {

/// The outcome of one keyring operation: a status code and the keyring's text for it, if any.
struct SecretStatus {
    static constexpr qint32 success = 0;
    static constexpr qint32 itemNotFound = 1;

    qint32 code = success;
    QString text;

    bool isSuccess() const { return code == success; }
    bool isItemNotFound() const { return code == itemNotFound; }
};

/// What a copy (read) of one item found.
struct SecretCopy {
    SecretStatus status;
    QByteArray data;
};

/**
 * @brief A per-user secret store of generic-password items keyed by service and account.
 *
 * The application uses the desktop keyring; tests use an in-memory store. `update` reports
 * `itemNotFound` when there is no item to replace, so that the caller decides whether to add one.
 * The store must outlive every operation started on it.
 */
class SecretStore {
public:
    virtual ~SecretStore() = default;

    virtual QCoro::Task<SecretCopy> copy(QString service, QString account) = 0;
    virtual QCoro::Task<SecretStatus> update(QString service, QString account, QByteArray data) = 0;
    virtual QCoro::Task<SecretStatus> add(QString service, QString account, QByteArray data) = 0;
    virtual QCoro::Task<SecretStatus> remove(QString service, QString account) = 0;
};

} // namespace quill
