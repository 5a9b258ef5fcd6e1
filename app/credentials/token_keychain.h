#pragma once

#include "app/common/result.h"
#include "app/credentials/credential_store_error.h"
#include "app/credentials/secret_store.h"

#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <optional>

namespace quill {

/**
 * @brief The MiAuth tokens cached in the keyring, one per instance.
 *
 * Items live under the service "<application id>.misskey-token" with the instance URL's text as
 * account, so each instance keeps its own token. Stateless apart from the store it talks to.
 */
class TokenKeychain {
public:
    TokenKeychain(SecretStore &store, const QString &applicationID);

    const QString &service() const { return m_service; }
    static QString account(const QUrl &instanceURL);

    /// The cached token, or nothing when there is no item (or its data is not UTF-8).
    QCoro::Task<Result<std::optional<QString>, CredentialStoreError>> read(QUrl instanceURL) const;
    /// Replaces the cached token, adding the item when there is none.
    QCoro::Task<Result<void, CredentialStoreError>> write(QString token, QUrl instanceURL) const;
    /// Deletes the item; a missing item is not a failure.
    QCoro::Task<Result<void, CredentialStoreError>> remove(QUrl instanceURL) const;

private:
    SecretStore *m_store;
    QString m_service;
};

} // namespace quill
