#include "app/credentials/token_keychain.h"

#include <QStringDecoder>

namespace quill {

namespace {

CredentialStoreError failure(const SecretStatus &status)
{
    return CredentialStoreError::keychain(status.code, status.text);
}

} // namespace

TokenKeychain::TokenKeychain(SecretStore &store, const QString &applicationID)
    : m_store(&store), m_service(applicationID + QStringLiteral(".misskey-token"))
{
}

QString TokenKeychain::account(const QUrl &instanceURL)
{
    return instanceURL.toString(QUrl::FullyEncoded);
}

QCoro::Task<Result<std::optional<QString>, CredentialStoreError>> TokenKeychain::read(QUrl instanceURL) const
{
    const SecretCopy found = co_await m_store->copy(m_service, account(instanceURL));
    if (found.status.isItemNotFound())
        co_return std::optional<QString>();
    if (!found.status.isSuccess())
        co_return Failure{failure(found.status)};
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString token = decoder.decode(found.data);
    if (decoder.hasError())
        co_return std::optional<QString>();
    co_return std::optional<QString>(std::move(token));
}

QCoro::Task<Result<void, CredentialStoreError>> TokenKeychain::write(QString token, QUrl instanceURL) const
{
    const QString key = account(instanceURL);
    const QByteArray data = token.toUtf8();
    SecretStatus status = co_await m_store->update(m_service, key, data);
    if (status.isItemNotFound())
        status = co_await m_store->add(m_service, key, data);
    if (!status.isSuccess())
        co_return Failure{failure(status)};
    co_return {};
}

QCoro::Task<Result<void, CredentialStoreError>> TokenKeychain::remove(QUrl instanceURL) const
{
    const SecretStatus status = co_await m_store->remove(m_service, account(instanceURL));
    if (!status.isSuccess() && !status.isItemNotFound())
        co_return Failure{failure(status)};
    co_return {};
}

} // namespace quill
