// The credential commands with in-memory platform services: key files, the keyring cache per
// instance, the key export and the MiAuth login against the fake server's check endpoint.
#include "app/credentials/credential_manager.h"

#include "app/credentials/credential_messages.h"
#include "app/credentials/token_file.h"
#include "tests/app/support/client_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace quill;
using namespace quill::test;
using namespace std::chrono_literals;
using Level = LogEntry::Level;

namespace {

const QString kToken = QStringLiteral("Yx3kP9vQ2mT7wB1nR5sJ8cL4hD6fG0aZ");

} // namespace

class CredentialsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ClientFixture> f;
    std::unique_ptr<AppLog> m_log;
    std::unique_ptr<CredentialManager> m_manager;
    QStringList m_presented;
    int m_sessionStops = 0;
    int m_activations = 0;

    void makeManager(MiAuthSchedule schedule = {20ms, 150})
    {
        m_manager.reset();
        CredentialHooks hooks{[this] { ++m_sessionStops; }, [this] { ++m_activations; }, {}};
        m_manager = std::make_unique<CredentialManager>(CredentialServices{f->secrets, f->dialogs, f->browser, f->settings, f->network.get(),
                                                                           *m_log, QStringLiteral("org.quill.test")},
                                                        std::move(hooks), schedule);
        connect(m_manager.get(), &CredentialManager::errorPresented, this, [this](const QString &message) { m_presented.append(message); });
    }

    QUrl file(const QString &name, const QByteArray &content) const { return QUrl::fromLocalFile(f->file(name, content)); }
    QStringList log(Level level) const { return logLines(*m_log, level); }
    QString tokenPath() const { return f->settings.values.value(tokenPathSettingsKey()); }
    // The MiAuth check endpoint of the session the browser was sent to.
    QString checkEndpoint() const { return QStringLiteral("miauth/%1/check").arg(f->browser.opened.constLast().path().section(u'/', -1)); }
    bool waitForLogin() const { return QTest::qWaitFor([this] { return !m_manager->isAuthenticating(); }, 5000); }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ClientFixture>();
        QVERIFY(f->server.start());
        m_log = std::make_unique<AppLog>();
        m_presented.clear();
        m_sessionStops = m_activations = 0;
        makeManager();
    }

    void cleanup()
    {
        m_manager.reset();
        // The token must never reach the log, whatever the test did.
        for (const LogEntry &entry : m_log->entries())
            QVERIFY2(!entry.message.contains(kToken), qPrintable(entry.message));
        f.reset();
    }

    void keyFileContents()
    {
        QCOMPARE(tokenFromFile(file(QStringLiteral("k.txt"), "  abc123\r\n\n")).value(), QStringLiteral("abc123"));
        QVERIFY(QDir(f->dir.path()).mkdir(QStringLiteral("d.txt")));
        // A FIFO with no writer would block an ordinary open forever.
        QCOMPARE(::mkfifo(QFile::encodeName(f->dir.filePath(QStringLiteral("f.txt"))).constData(), 0600), 0);
        const QList<QPair<QUrl, QString>> failures{
            {file(QStringLiteral("e.txt"), ""), credentialMessages::emptyTokenFile()},
            {file(QStringLiteral("u.txt"), "ab\xff\xfe"), QStringLiteral("The API key file \"u.txt\" is not UTF-8 text.")},
            {file(QStringLiteral("h.txt"), QByteArray(maxTokenFileBytes + 1, 'a')),
             QStringLiteral("The API key file \"h.txt\" is too large to be an API key.")},
            {file(QStringLiteral("c.txt"), "abc\r\nAuthorization: x"), QStringLiteral("The API key file \"c.txt\" contains control characters.")},
            {QUrl::fromLocalFile(f->dir.filePath(QStringLiteral("d.txt"))), QStringLiteral("The API key file \"d.txt\" is not a regular file.")},
            {QUrl::fromLocalFile(f->dir.filePath(QStringLiteral("f.txt"))), QStringLiteral("The API key file \"f.txt\" is not a regular file.")},
        };
        for (const auto &[url, message] : failures)
            QCOMPARE(tokenFromFile(url).error(), message);
        // quill-bot's `--token-file <(command)`: a pipe whose writer is already done.
        int ends[2];
        QCOMPARE(::pipe(ends), 0);
        QCOMPARE(::write(ends[1], "pipe-token\n", 11), ssize_t(11));
        ::close(ends[1]);
        const QUrl pipe = QUrl::fromLocalFile(QStringLiteral("/dev/fd/%1").arg(ends[0]));
        QCOMPARE(tokenFromFile(pipe, TokenFileKinds::RegularFileOrPipe).value(), QStringLiteral("pipe-token"));
        ::close(ends[0]);
        QVERIFY(tokenFromFile(QUrl::fromLocalFile(f->dir.filePath(QStringLiteral("missing.txt"))))
                    .error()
                    .startsWith(QStringLiteral("The API key file \"missing.txt\" could not be read: ")));
    }

    void useTokenFileActivatesAndRemembers()
    {
        const QUrl key = file(QStringLiteral("KEY.TXT"), "file-token\n");
        m_manager->useTokenFile(key);
        QCOMPARE(m_manager->credentialSource(), CredentialSource::textFile(key));
        QCOMPARE(tokenPath(), key.toLocalFile());
        QCOMPARE(m_activations, 1);
        QCOMPARE(log(Level::info), QStringList{QStringLiteral("Loaded API key from KEY.TXT")});

        // A wrong kind of file only shows the alert.
        m_manager->useTokenFile(file(QStringLiteral("bot.cbs"), "x"));
        QCOMPARE(m_presented, QStringList{credentialMessages::unsupportedFile()});
        QCOMPARE(m_log->entries().size(), 1);
        // An unusable file shows and logs its message and leaves the working credential alone.
        m_manager->useTokenFile(file(QStringLiteral("blank.txt"), "\n"));
        QCOMPARE(m_presented.constLast(), credentialMessages::emptyTokenFile());
        QCOMPARE(log(Level::error), QStringList{credentialMessages::emptyTokenFile()});
        QCOMPARE(m_manager->token(), QStringLiteral("file-token"));

        // The remembered file is what a new start reads first, before any keyring item.
        makeManager();
        m_manager->setInstanceURL(f->server.url());
        f->secrets.items.insert({m_manager->keychain().service(), TokenKeychain::account(f->server.url())}, "cached");
        QVERIFY(finishTask(m_manager->reloadCredential()));
        QCOMPARE(m_manager->token(), QStringLiteral("file-token"));
        QCOMPARE(log(Level::info).constLast(), QStringLiteral("Reloaded API key file: KEY.TXT"));
        // Detaching falls back to the cached login of the instance.
        QVERIFY(finishTask(m_manager->detachTokenFile()));
        QCOMPARE(m_manager->token(), QStringLiteral("cached"));
        QCOMPARE(m_manager->credentialSource(), CredentialSource::keychain());
        QCOMPARE(log(Level::info).constLast(), QStringLiteral("Loaded cached Safari login."));
    }

    void reloadWithoutCredential()
    {
        QVERIFY(finishTask(m_manager->reloadCredential()));
        QCOMPARE(log(Level::warning), QStringList{QStringLiteral("No Misskey instance is configured.")});
        m_manager->setInstanceURL(f->server.url());
        QVERIFY(finishTask(m_manager->reloadCredential()));
        QCOMPARE(log(Level::warning).constLast(), QStringLiteral("No API key is available; client actions are locked."));
        QCOMPARE(m_manager->credentialSource(), CredentialSource::none());
        QCOMPARE(m_sessionStops, 2);

        // A remembered file that has become unreadable is a failure shown once and logged.
        f->settings.values.insert(tokenPathSettingsKey(), f->dir.filePath(QStringLiteral("gone.txt")));
        makeManager();
        QVERIFY(finishTask(m_manager->reloadCredential()));
        QCOMPARE(m_presented.size(), 1);
        QCOMPARE(log(Level::error), m_presented);
        QVERIFY(!m_manager->token());
    }

    // Against the in-memory store: the order of its operations and its failures. The real keyring
    // keeps one token per instance in the Secret Service suite.
    void keyringUpdatesBeforeAddingAndReportsFailures()
    {
        const QUrl instance(QStringLiteral("https://one.example"));
        const TokenKeychain &keychain = m_manager->keychain();
        QCOMPARE(keychain.service(), QStringLiteral("org.quill.test.misskey-token"));
        QVERIFY(awaitTask(keychain.write(QStringLiteral("token-one"), instance))->ok());
        QVERIFY(awaitTask(keychain.write(QStringLiteral("token-one-b"), instance))->ok());
        QCOMPARE(f->secrets.operations, (QStringList{QStringLiteral("update"), QStringLiteral("add"), QStringLiteral("update")}));
        m_manager->setInstanceURL(instance);
        QVERIFY(finishTask(m_manager->reloadCredential()));
        QCOMPARE(m_manager->token(), QStringLiteral("token-one-b"));

        // Forgetting goes on past a keyring failure, which is only a warning; a missing item is silent.
        m_manager->useTokenFile(file(QStringLiteral("k.txt"), "abc"));
        f->secrets.failWith = SecretStatus{5, QStringLiteral("The keyring is locked.")};
        QVERIFY(finishTask(m_manager->forgetCredential()));
        QCOMPARE(log(Level::warning), QStringList{QStringLiteral("The keyring is locked.")});
        QCOMPARE(log(Level::info).constLast(), QStringLiteral("Forgot the active API key."));
        QVERIFY(!m_manager->token() && !m_manager->tokenFileURL() && !f->settings.values.contains(tokenPathSettingsKey()));
        f->secrets.failWith.reset();
        f->secrets.items.clear();
        QVERIFY(finishTask(m_manager->forgetCredential()));
        QCOMPARE(log(Level::warning).size(), 1);
        QVERIFY(m_presented.isEmpty());

        // Any status other than "not found" is a failure with the keyring's text or the number.
        f->secrets.failWith = SecretStatus{7, {}};
        QVERIFY(finishTask(m_manager->reloadCredential()));
        QCOMPARE(m_presented, QStringList{QStringLiteral("Keychain returned status 7.")});
        QCOMPARE(log(Level::error), m_presented);
        QVERIFY(!m_manager->token());
    }

    void exportWritesOwnerOnlyFile()
    {
        const QUrl destination = file(QStringLiteral("exported.txt"), "old content that was world readable");
        QVERIFY(QFile::setPermissions(destination.toLocalFile(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        f->dialogs.saveChoice = destination;
        m_manager->exportAPIKey(); // no token: nothing is asked
        QVERIFY(!f->dialogs.lastSaveOptions);

        m_manager->activateToken(QStringLiteral("  secret-token \n"), CredentialSource::keychain());
        const mode_t previous = ::umask(0);
        m_manager->exportAPIKey();
        ::umask(previous);
        QCOMPARE(f->dialogs.lastSaveOptions->proposedName + u'|' + f->dialogs.lastSaveOptions->title,
                 QStringLiteral("quill-api-key.txt|Export API Key"));
        QFile exported(destination.toLocalFile());
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QCOMPARE(exported.readAll(), QByteArray("secret-token\n"));
        QCOMPARE(exported.permissions() & ~(QFile::ReadUser | QFile::WriteUser), QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(QDir(f->dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no temporary left
        QCOMPARE(log(Level::info).constLast(), QStringLiteral("Exported API key to exported.txt"));

        f->dialogs.saveChoice = QUrl::fromLocalFile(f->dir.filePath(QStringLiteral("no/such/dir/k.txt")));
        m_manager->exportAPIKey();
        QCOMPARE(m_presented.size(), 1);
        QVERIFY(m_presented.constFirst().startsWith(QStringLiteral("Could not export the API key to \"k.txt\": ")));
    }

    void miAuthPendingThenApproved()
    {
        f->settings.values.insert(tokenPathSettingsKey(), file(QStringLiteral("old.txt"), "old").toLocalFile());
        makeManager();
        m_manager->beginSafariLogin(f->server.url().toString());
        f->server.queueEndpointResponse(checkEndpoint(), FakeResponse::fixture(QStringLiteral("miauth-check-pending.json")));
        f->server.setEndpointResponse(checkEndpoint(), FakeResponse::fixture(QStringLiteral("miauth-check-ok.json")));
        m_manager->beginSafariLogin(f->server.url().toString()); // a second login does not start
        QCOMPARE(f->browser.opened.size(), 1);
        const QUrlQuery query(f->browser.opened.constFirst());
        const QStringList permissions = query.queryItemValue(QStringLiteral("permission")).split(u',');
        QCOMPARE(query.queryItemValue(QStringLiteral("name")) + u' ' + permissions.at(0) + u' ' + permissions.at(9) + u' ' + permissions.at(18)
                     + u' ' + QString::number(permissions.size()),
                 QStringLiteral("Quill read:account write:mutes write:votes 19"));

        QVERIFY(waitForLogin());
        QCOMPARE(m_manager->credentialSource(), CredentialSource::keychain());
        QCOMPARE(f->secrets.items.value({m_manager->keychain().service(), TokenKeychain::account(f->server.url())}), kToken.toUtf8());
        QVERIFY(!f->settings.values.contains(tokenPathSettingsKey()));
        QCOMPARE(log(Level::info), (QStringList{QStringLiteral("Waiting for Misskey authorisation in Safari."),
                                                QStringLiteral("Safari login cached in Keychain.")}));
        const QList<RecordedRequest> checks = f->server.requestsTo(checkEndpoint());
        QCOMPARE(checks.size(), 2);
        QVERIFY(checks.constFirst().header("Authorization").isNull());
        QVERIFY(checks.constFirst().jsonBody() == nlohmann::json::object());
    }

    void miAuthCancelAndFailures()
    {
        makeManager({10s, 150});
        m_manager->beginSafariLogin(f->server.url().toString());
        m_manager->cancelSafariLogin();
        QVERIFY(!m_manager->isAuthenticating());
        QTest::qWait(50);
        QVERIFY(m_presented.isEmpty() && log(Level::error).isEmpty() && f->server.requests().isEmpty());
        QCOMPARE(log(Level::info).constLast(), QStringLiteral("Safari login cancelled."));
        // A new login after the cancelled one runs normally.
        m_manager->beginSafariLogin(f->server.url().toString());
        QVERIFY(m_manager->isAuthenticating());

        // Time-out: every check stays pending.
        makeManager({5ms, 3});
        m_manager->beginSafariLogin(f->server.url().toString());
        f->server.setEndpointResponse(checkEndpoint(), FakeResponse::fixture(QStringLiteral("miauth-check-pending.json")));
        QVERIFY(waitForLogin());
        QCOMPARE(m_presented, QStringList{credentialMessages::authenticationTimedOut()});
        QCOMPARE(f->server.requests().size(), 3);
        // One failed check ends the login.
        m_manager->beginSafariLogin(f->server.url().toString());
        f->server.setEndpointResponse(checkEndpoint(), FakeResponse::json("not json"));
        QVERIFY(waitForLogin());
        QCOMPARE(m_presented.size(), 2);
        QCOMPARE(f->server.requests().size(), 4);
        // No browser.
        f->browser.available = false;
        m_manager->beginSafariLogin(f->server.url().toString());
        QVERIFY(!m_manager->isAuthenticating());
        QCOMPARE(m_presented.constLast(), credentialMessages::safariUnavailable());
        QCOMPARE(log(Level::error), m_presented);
        // A bad address only shows the alert.
        m_manager->beginSafariLogin(QStringLiteral("ftp://"));
        QCOMPARE(m_presented.size(), 4);
        QCOMPARE(log(Level::error).size(), 3);
    }
};

QTEST_GUILESS_MAIN(CredentialsTest)
#include "credentials_test.moc"
