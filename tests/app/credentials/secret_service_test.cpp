// The keyring store against a real Secret Service (gnome-keyring in a private D-Bus session,
// started by with_private_keyring.sh): tokens per instance, replacement and deletion.
#include "app/credentials/desktop_services.h"
#include "app/credentials/token_keychain.h"
#include "tests/app/support/client_fixture.h"

#include <QUuid>

using namespace quill;
using quill::test::awaitTask;

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
        // What each instance holds, or the keyring's own message, so that a failing run says why.
        const auto held = [&keychain](const QUrl &instance) {
            const auto read = awaitTask(keychain.read(instance));
            return !read         ? QStringLiteral("did not finish")
                   : !read->ok() ? read->error().errorDescription()
                                 : read->value().value_or(QStringLiteral("-"));
        };
        const auto check = [](const auto &result) {
            return !result ? QStringLiteral("did not finish") : result->ok() ? QStringLiteral("ok") : result->error().errorDescription();
        };
        QCOMPARE(held(first), QStringLiteral("-"));
        QCOMPARE(check(awaitTask(keychain.write(QStringLiteral("token-one"), first))), QStringLiteral("ok"));
        QCOMPARE(check(awaitTask(keychain.write(QStringLiteral("token-two"), second))), QStringLiteral("ok"));
        QCOMPARE(check(awaitTask(keychain.write(QStringLiteral("token-one-b"), first))), QStringLiteral("ok"));
        QCOMPARE(held(first) + u' ' + held(second), QStringLiteral("token-one-b token-two"));
        QCOMPARE(check(awaitTask(keychain.remove(first))), QStringLiteral("ok"));
        QCOMPARE(held(first) + u' ' + held(second), QStringLiteral("- token-two"));
        QCOMPARE(check(awaitTask(keychain.remove(first))), QStringLiteral("ok")); // a missing item is not a failure
        QCOMPARE(check(awaitTask(keychain.remove(second))), QStringLiteral("ok"));
    }
};

QTEST_GUILESS_MAIN(SecretServiceTest)
#include "secret_service_test.moc"
