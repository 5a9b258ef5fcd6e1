// The credential commands with in-memory platform services: key files, the keyring cache per
// instance, the key export and the MiAuth login against the fake server's check endpoint.
#include "app/credentials/credential_manager.h"

#include "app/credentials/credential_messages.h"
#include "app/credentials/token_file.h"
#include "tests/app/support/await_task.h"
#include "tests/app/support/fake_misskey_server.h"
#include "tests/app/support/in_memory_services.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace quill;
using namespace quill::test;
using namespace std::chrono_literals;

namespace {

const QString kToken = QStringLiteral("Yx3kP9vQ2mT7wB1nR5sJ8cL4hD6fG0aZ");

} // namespace

class CredentialsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    FakeMisskeyServer *m_server = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    InMemorySecretStore m_secrets;
    ScriptedFileDialogs m_dialogs;
    RecordingURLOpener m_browser;
    InMemorySettings m_settings;
    AppLog *m_log = nullptr;
    std::unique_ptr<CredentialManager> m_manager;
    QStringList m_presented;
    int m_sessionStops = 0;
    int m_activations = 0;

    void makeManager(MiAuthSchedule schedule = {20ms, 150})
    {
        m_manager.reset();
        CredentialHooks hooks{[this] { ++m_sessionStops; }, [this] { ++m_activations; }, {}};
        m_manager = std::make_unique<CredentialManager>(
            CredentialServices{m_secrets, m_dialogs, m_browser, m_settings, m_network, *m_log, QStringLiteral("org.quill.test")},
            std::move(hooks), schedule);
        connect(m_manager.get(), &CredentialManager::errorPresented, this,
                [this](const QString &message) { m_presented.append(message); });
    }

    QUrl file(const QString &name, const QByteArray &content) const
    {
        return QUrl::fromLocalFile(writeFile(m_dir->filePath(name), content));
    }

    QStringList logLines(LogEntry::Level level) const
    {
        QStringList lines;
        for (const LogEntry &entry : m_log->entries())
            if (entry.level == level)
                lines.append(entry.message);
        return lines;
    }

    // The MiAuth check endpoint of the session the browser was sent to.
    QString checkEndpoint() const
    {
        return QStringLiteral("miauth/%1/check").arg(m_browser.opened.constLast().path().section(u'/', -1));
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_server = new FakeMisskeyServer(this);
        QVERIFY(m_server->start());
        m_network = new QNetworkAccessManager(this);
        m_log = new AppLog(this);
        m_secrets = {};
        m_dialogs = {};
        m_browser = {};
        m_settings = {};
        m_presented.clear();
        m_sessionStops = 0;
        m_activations = 0;
        makeManager();
    }

    void cleanup()
    {
        m_manager.reset();
        // The token must never reach the log, whatever the test did.
        for (const LogEntry &entry : m_log->entries())
            QVERIFY2(!entry.message.contains(kToken), qPrintable(entry.message));
        delete m_server;
        delete m_network;
        delete m_log;
    }

    void keyFileContents()
    {
        QCOMPARE(tokenFromFile(file(QStringLiteral("k.txt"), "  abc123\r\n\n")).value(), QStringLiteral("abc123"));
        const QList<QPair<QUrl, QString>> failures{
            {file(QStringLiteral("b.txt"), " \n\t \n"), credentialMessages::emptyTokenFile()},
            {file(QStringLiteral("e.txt"), ""), credentialMessages::emptyTokenFile()},
            {file(QStringLiteral("u.txt"), "ab\xff\xfe"), QStringLiteral("The API key file \"u.txt\" is not UTF-8 text.")},
            {file(QStringLiteral("h.txt"), QByteArray(maxTokenFileBytes + 1, 'a')),
             QStringLiteral("The API key file \"h.txt\" is too large to be an API key.")},
            {file(QStringLiteral("c.txt"), "abc\r\nAuthorization: x"),
             QStringLiteral("The API key file \"c.txt\" contains control characters.")},
        };
        for (const auto &[url, message] : failures)
            QCOMPARE(tokenFromFile(url).error(), message);
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("d.txt")));
        QCOMPARE(tokenFromFile(QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("d.txt")))).error(),
                 QStringLiteral("The API key file \"d.txt\" is not a regular file."));
        // A FIFO with no writer would block an ordinary open forever.
        const QString fifo = m_dir->filePath(QStringLiteral("f.txt"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(tokenFromFile(QUrl::fromLocalFile(fifo)).error(), QStringLiteral("The API key file \"f.txt\" is not a regular file."));
        // quill-bot's `--token-file <(command)`: a pipe whose writer is already done.
        int ends[2];
        QCOMPARE(::pipe(ends), 0);
        QCOMPARE(::write(ends[1], "pipe-token\n", 11), ssize_t(11));
        ::close(ends[1]);
        const QUrl pipe = QUrl::fromLocalFile(QStringLiteral("/dev/fd/%1").arg(ends[0]));
        QCOMPARE(tokenFromFile(pipe, TokenFileKinds::RegularFileOrPipe).value(), QStringLiteral("pipe-token"));
        ::close(ends[0]);
        QVERIFY(tokenFromFile(QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("missing.txt"))))
                    .error()
                    .startsWith(QStringLiteral("The API key file \"missing.txt\" could not be read: ")));
    }

    void useTokenFileActivatesAndRemembers()
    {
        const QUrl key = file(QStringLiteral("KEY.TXT"), "file-token\n");
        m_manager->useTokenFile(key);
        QCOMPARE(m_manager->token(), QStringLiteral("file-token"));
        QCOMPARE(m_manager->credentialSource(), CredentialSource::textFile(key));
        QCOMPARE(m_settings.values.value(tokenPathSettingsKey()), key.toLocalFile());
        QCOMPARE(m_activations, 1);
        QCOMPARE(logLines(LogEntry::Level::info), QStringList{QStringLiteral("Loaded API key from KEY.TXT")});

        // A wrong kind of file only shows the alert.
        m_manager->useTokenFile(file(QStringLiteral("bot.cbs"), "x"));
        QCOMPARE(m_presented, QStringList{credentialMessages::unsupportedFile()});
        QCOMPARE(m_log->entries().size(), 1);

        // An unusable file shows and logs its message and leaves the working credential alone.
        m_manager->useTokenFile(file(QStringLiteral("blank.txt"), "\n"));
        QCOMPARE(m_presented.constLast(), credentialMessages::emptyTokenFile());
        QCOMPARE(logLines(LogEntry::Level::error), QStringList{credentialMessages::emptyTokenFile()});
        QCOMPARE(m_manager->token(), QStringLiteral("file-token"));
        QCOMPARE(m_settings.values.value(tokenPathSettingsKey()), key.toLocalFile());

        // The remembered file is what a new start reads first, before any keyring item.
        makeManager();
        m_manager->setInstanceURL(m_server->url());
        m_secrets.items.insert({m_manager->keychain().service(), TokenKeychain::account(m_server->url())}, "cached");
        QVERIFY(finishTask(m_manager->reloadCredential()));
        QCOMPARE(m_manager->token(), QStringLiteral("file-token"));
        QCOMPARE(logLines(LogEntry::Level::info).constLast(), QStringLiteral("Reloaded API key file: KEY.TXT"));

        // Detaching falls back to the cached login of the instance.
        QVERIFY(finishTask(m_manager->detachTokenFile()));
        QVERIFY(!m_settings.values.contains(tokenPathSettingsKey()));
        QCOMPARE(m_manager->token(), QStringLiteral("cached"));
        QCOMPARE(m_manager->credentialSource(), CredentialSource::keychain());
        QCOMPARE(logLines(LogEntry::Level::info).constLast(), QStringLiteral("Loaded cached Safari login."));
    }

    void reloadWithoutCredential()
    {
        QVERIFY(finishTask(m_manager->reloadCredential()));
        QCOMPARE(logLines(LogEntry::Level::warning), QStringList{QStringLiteral("No Misskey instance is configured.")});
        m_manager->setInstanceURL(m_server->url());
        QVERIFY(finishTask(m_manager->reloadCredential()));
        QCOMPARE(logLines(LogEntry::Level::warning).constLast(), QStringLiteral("No API key is available; client actions are locked."));
        QCOMPARE(m_manager->credentialSource(), CredentialSource::none());
        QCOMPARE(m_sessionStops, 2);

        // A remembered file that has become unreadable is a failure shown once and logged.
        m_settings.values.insert(tokenPathSettingsKey(), m_dir->filePath(QStringLiteral("gone.txt")));
        makeManager();
        QVERIFY(finishTask(m_manager->reloadCredential()));
        QCOMPARE(m_presented.size(), 1);
        QCOMPARE(logLines(LogEntry::Level::error), m_presented);
        QVERIFY(!m_manager->token());
    }

    void keyringKeepsOneTokenPerInstance()
    {
        const QUrl first(QStringLiteral("https://one.example"));
        const QUrl second(QStringLiteral("https://two.example"));
        const TokenKeychain &keychain = m_manager->keychain();
        QCOMPARE(keychain.service(), QStringLiteral("org.quill.test.misskey-token"));
        QVERIFY(awaitTask(keychain.write(QStringLiteral("token-one"), first))->ok());
        QVERIFY(awaitTask(keychain.write(QStringLiteral("token-two"), second))->ok());
        QVERIFY(awaitTask(keychain.write(QStringLiteral("token-one-b"), first))->ok());
        // Update first; add only when there was nothing to update.
        QCOMPARE(m_secrets.operations, (QStringList{QStringLiteral("update"), QStringLiteral("add"), QStringLiteral("update"),
                                                    QStringLiteral("add"), QStringLiteral("update")}));
        for (const auto &[instance, token] : {std::pair(first, "token-one-b"), std::pair(second, "token-two")}) {
            m_manager->setInstanceURL(instance);
            QVERIFY(finishTask(m_manager->reloadCredential()));
            QCOMPARE(m_manager->token(), QString::fromLatin1(token));
        }

        // Any status other than "not found" is a failure with the keyring's text or the number.
        m_secrets.failWith = SecretStatus{7, {}};
        QVERIFY(finishTask(m_manager->reloadCredential()));
        QCOMPARE(m_presented, QStringList{QStringLiteral("Keychain returned status 7.")});
        QCOMPARE(logLines(LogEntry::Level::error), m_presented);
        QVERIFY(!m_manager->token());
    }

    void forgetLogsKeyringFailureAsWarning()
    {
        m_manager->setInstanceURL(m_server->url());
        m_manager->useTokenFile(file(QStringLiteral("k.txt"), "abc"));
        m_secrets.failWith = SecretStatus{5, QStringLiteral("The keyring is locked.")};
        QVERIFY(finishTask(m_manager->forgetCredential()));
        QCOMPARE(logLines(LogEntry::Level::warning), QStringList{QStringLiteral("The keyring is locked.")});
        QCOMPARE(logLines(LogEntry::Level::info).constLast(), QStringLiteral("Forgot the active API key."));
        QVERIFY(m_presented.isEmpty());
        QVERIFY(!m_manager->token() && !m_manager->tokenFileURL());
        QVERIFY(!m_settings.values.contains(tokenPathSettingsKey()));

        // A missing item is silent.
        m_secrets.failWith.reset();
        QVERIFY(finishTask(m_manager->forgetCredential()));
        QCOMPARE(logLines(LogEntry::Level::warning).size(), 1);
    }

    void exportWritesOwnerOnlyFile()
    {
        const QUrl destination = file(QStringLiteral("exported.txt"), "old content that was world readable");
        QVERIFY(QFile::setPermissions(destination.toLocalFile(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        m_dialogs.saveChoice = destination;
        m_manager->exportAPIKey(); // no token: nothing is asked
        QVERIFY(!m_dialogs.lastSaveOptions);

        m_manager->activateToken(QStringLiteral("  secret-token \n"), CredentialSource::keychain());
        QCOMPARE(m_manager->token(), QStringLiteral("secret-token"));
        const mode_t previous = ::umask(0);
        m_manager->exportAPIKey();
        ::umask(previous);
        QCOMPARE(m_dialogs.lastSaveOptions->proposedName, QStringLiteral("quill-api-key.txt"));
        QCOMPARE(m_dialogs.lastSaveOptions->title, QStringLiteral("Export API Key"));
        QFile exported(destination.toLocalFile());
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QCOMPARE(exported.readAll(), QByteArray("secret-token\n"));
        QCOMPARE(exported.permissions() & ~(QFile::ReadUser | QFile::WriteUser), QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no temporary left
        QCOMPARE(logLines(LogEntry::Level::info).constLast(), QStringLiteral("Exported API key to exported.txt"));

        m_dialogs.saveChoice = QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("no/such/dir/k.txt")));
        m_manager->exportAPIKey();
        QCOMPARE(m_presented.size(), 1);
        QVERIFY(m_presented.constFirst().startsWith(QStringLiteral("Could not export the API key to \"k.txt\": ")));
    }

    void miAuthAddress()
    {
        const QUrl url = miAuthURL(QUrl(QStringLiteral("https://misskey.example")), QStringLiteral("abc-123")).value();
        QCOMPARE(url.path(), QStringLiteral("/miauth/abc-123"));
        const QUrlQuery query(url);
        QCOMPARE(query.queryItemValue(QStringLiteral("name")), QStringLiteral("Quill"));
        const QStringList permissions = query.queryItemValue(QStringLiteral("permission")).split(u',');
        QCOMPARE(permissions.size(), 19);
        QCOMPARE(permissions.at(0) + u' ' + permissions.at(9) + u' ' + permissions.at(18),
                 QStringLiteral("read:account write:mutes write:votes"));
        QVERIFY(!miAuthURL(QUrl(), QStringLiteral("abc")).ok());
    }

    void miAuthPendingThenApproved()
    {
        m_settings.values.insert(tokenPathSettingsKey(), file(QStringLiteral("old.txt"), "old").toLocalFile());
        makeManager();
        m_manager->beginSafariLogin(m_server->url().toString());
        QVERIFY(m_manager->isAuthenticating());
        m_server->queueEndpointResponse(checkEndpoint(), FakeResponse::fixture(QStringLiteral("miauth-check-pending.json")));
        m_server->setEndpointResponse(checkEndpoint(), FakeResponse::fixture(QStringLiteral("miauth-check-ok.json")));
        m_manager->beginSafariLogin(m_server->url().toString()); // a second login does not start
        QCOMPARE(m_browser.opened.size(), 1);

        QVERIFY(QTest::qWaitFor([this] { return !m_manager->isAuthenticating(); }, 5000));
        QVERIFY(m_presented.isEmpty());
        QCOMPARE(m_manager->token(), kToken);
        QCOMPARE(m_manager->credentialSource(), CredentialSource::keychain());
        QCOMPARE(m_secrets.items.value({m_manager->keychain().service(), TokenKeychain::account(m_server->url())}), kToken.toUtf8());
        QVERIFY(!m_settings.values.contains(tokenPathSettingsKey()));
        QCOMPARE(logLines(LogEntry::Level::info), (QStringList{QStringLiteral("Waiting for Misskey authorisation in Safari."),
                                                               QStringLiteral("Safari login cached in Keychain.")}));
        const QList<RecordedRequest> checks = m_server->requestsTo(checkEndpoint());
        QCOMPARE(checks.size(), 2);
        QVERIFY(!checks.constFirst().hasHeader("Authorization"));
        QVERIFY(checks.constFirst().jsonBody() == nlohmann::json::object());
    }

    void miAuthCancelWhileWaiting()
    {
        makeManager({10s, 150});
        m_manager->beginSafariLogin(m_server->url().toString());
        QVERIFY(m_manager->isAuthenticating());
        m_manager->cancelSafariLogin();
        QVERIFY(!m_manager->isAuthenticating());
        QTest::qWait(50);
        QVERIFY(m_presented.isEmpty());
        QVERIFY(logLines(LogEntry::Level::error).isEmpty());
        QCOMPARE(logLines(LogEntry::Level::info).constLast(), QStringLiteral("Safari login cancelled."));
        QVERIFY(m_server->requests().isEmpty());
        // A new login after the cancelled one runs normally.
        m_manager->beginSafariLogin(m_server->url().toString());
        QVERIFY(m_manager->isAuthenticating());
    }

    void miAuthFailures()
    {
        // Time-out: every check stays pending.
        makeManager({5ms, 3});
        m_manager->beginSafariLogin(m_server->url().toString());
        m_server->setEndpointResponse(checkEndpoint(), FakeResponse::fixture(QStringLiteral("miauth-check-pending.json")));
        QVERIFY(QTest::qWaitFor([this] { return !m_manager->isAuthenticating(); }, 5000));
        QCOMPARE(m_presented, QStringList{credentialMessages::authenticationTimedOut()});
        QCOMPARE(m_server->requests().size(), 3);

        // One failed check ends the login.
        m_manager->beginSafariLogin(m_server->url().toString());
        m_server->setEndpointResponse(checkEndpoint(), FakeResponse::json("not json"));
        QVERIFY(QTest::qWaitFor([this] { return !m_manager->isAuthenticating(); }, 5000));
        QCOMPARE(m_presented.size(), 2);
        QCOMPARE(m_server->requests().size(), 4);

        // No browser.
        m_browser.available = false;
        m_manager->beginSafariLogin(m_server->url().toString());
        QVERIFY(!m_manager->isAuthenticating());
        QCOMPARE(m_presented.constLast(), credentialMessages::safariUnavailable());
        QCOMPARE(logLines(LogEntry::Level::error), m_presented);

        // A bad address only shows the alert.
        m_manager->beginSafariLogin(QStringLiteral("ftp://"));
        QCOMPARE(m_presented.size(), 4);
        QCOMPARE(logLines(LogEntry::Level::error).size(), 3);
        QVERIFY(!m_manager->token());
    }
};

QTEST_GUILESS_MAIN(CredentialsTest)
#include "credentials_test.moc"
