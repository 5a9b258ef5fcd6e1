#pragma once

#include <QString>
#include <QtGlobal>

namespace quill {

/**
 * @brief A failure of the keyring, carrying its status code.
 *
 * The message is the keyring's own text for the status when it gave one, else a generic text with
 * the number. Keyring texts never contain the secret, so the message is safe to log.
 */
class CredentialStoreError {
public:
    static CredentialStoreError keychain(qint32 status, QString platformText = {})
    {
        return CredentialStoreError(status, std::move(platformText));
    }

    qint32 status() const { return m_status; }
    QString errorDescription() const;

    bool operator==(const CredentialStoreError &) const = default;

private:
    CredentialStoreError(qint32 status, QString platformText)
        : m_status(status), m_platformText(std::move(platformText)) {}

    qint32 m_status;
    QString m_platformText;
};

} // namespace quill
