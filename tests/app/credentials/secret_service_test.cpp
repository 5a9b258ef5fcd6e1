// The keyring store against a real Secret Service (gnome-keyring in a private D-Bus session,
// started by with_private_keyring.sh): tokens per instance, replacement and deletion.
#include "app/credentials/desktop_services.h"
#include "app/credentials/token_keychain.h"
#include "tests/app/support/await_task.h"

#include <QUuid>
#include <QtTest/QTest>

using namespace quill;
using quill::test::awaitTask;

namespace {

// The keyring's own message when an operation failed, so that a failing run says why.
template <typename T>
QByteArray failureOf(const std::optional<Result<T, CredentialStoreError>> &result)
{
    if (!result)
        return "did not finish";
    return result->ok() ? QByteArray() : result->error().errorDescription().toUtf8();
}

} // namespace

#define QUILL_VERIFY_OK(expression)                                                                \
    do {                                                                                           \
        const QByteArray failure = failureOf(expression);                                         \
        QVERIFY2(failure.isEmpty(), failure.constData());                                          \
    } while (false)

class SecretServiceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tokensPerInstance()
    {
        QtKeychainStore store;
        // A fresh service name, so that a run never sees items left by another one.
        const TokenKeychain keychain(store, QStringLiteral("org.quill.test-") + QUuid::createUuid().toString(QUuid::Id128));
        const QUrl first(QStringLiteral("https://one.example"));
        const QUrl second(QStringLiteral("https://two.example"));

        const auto nothing = awaitTask(keychain.read(first));
        QUILL_VERIFY_OK(nothing);
        QVERIFY(!nothing->value());

        QUILL_VERIFY_OK(awaitTask(keychain.write(QStringLiteral("token-one"), first)));
        QUILL_VERIFY_OK(awaitTask(keychain.write(QStringLiteral("token-two"), second)));
        QUILL_VERIFY_OK(awaitTask(keychain.write(QStringLiteral("token-one-b"), first)));
        QCOMPARE(awaitTask(keychain.read(first))->value(), QStringLiteral("token-one-b"));
        QCOMPARE(awaitTask(keychain.read(second))->value(), QStringLiteral("token-two"));

        QUILL_VERIFY_OK(awaitTask(keychain.remove(first)));
        QVERIFY(!awaitTask(keychain.read(first))->value());
        QCOMPARE(awaitTask(keychain.read(second))->value(), QStringLiteral("token-two"));
        QUILL_VERIFY_OK(awaitTask(keychain.remove(first))); // a missing item is not a failure
        QUILL_VERIFY_OK(awaitTask(keychain.remove(second)));
    }
};

QTEST_GUILESS_MAIN(SecretServiceTest)
#include "secret_service_test.moc"
