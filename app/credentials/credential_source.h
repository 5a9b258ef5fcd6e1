#pragma once

#include <QUrl>

#include <variant>

namespace quill {

/// Where the active token came from: a key file, nowhere (no token), or the keyring (a MiAuth login).
class CredentialSource {
public:
    enum class Kind { textFile, none, keychain };

    static CredentialSource textFile(QUrl url) { return CredentialSource(Kind::textFile, std::move(url)); }
    static CredentialSource none() { return CredentialSource(Kind::none, {}); }
    static CredentialSource keychain() { return CredentialSource(Kind::keychain, {}); }

    Kind kind() const { return m_kind; }
    /// The key file of a `textFile` source; empty otherwise.
    const QUrl &fileURL() const { return m_fileURL; }

    bool operator==(const CredentialSource &) const = default;

private:
    CredentialSource(Kind kind, QUrl url) : m_kind(kind), m_fileURL(std::move(url)) {}

    Kind m_kind;
    QUrl m_fileURL;
};

} // namespace quill
