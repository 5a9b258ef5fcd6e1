#include "app/credentials/credential_store_error.h"

namespace quill {

QString CredentialStoreError::errorDescription() const
{
    if (!m_platformText.trimmed().isEmpty())
        return m_platformText;
    return QStringLiteral("Keychain returned status ") + QString::number(m_status) + QStringLiteral(".");
}

} // namespace quill
