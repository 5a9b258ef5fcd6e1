#pragma once

// A signed-in (or locked) window over a real application state and the loopback fake server.
#include "app/credentials/credential_manager.h"
#include "app/state/app_state.h"
#include "tests/app/support/fake_misskey_server.h"
#include "tests/app/support/in_memory_services.h"
#include "ui/main_window.h"
#include "ui/symbols.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <functional>
#include <memory>
#include <optional>

namespace quill::test {

inline const QString testToken = QStringLiteral("window-test-token");

struct WindowHarness {
    FakeMisskeyServer server;
    QTemporaryDir folder;
    InMemorySecretStore secrets;
    ScriptedFileDialogs dialogs;
    RecordingURLOpener browser;
    InMemorySettings settings;
    QNetworkAccessManager network;
    std::unique_ptr<AppState> state;
    std::unique_ptr<MainWindow> window;

    /// A file in the temporary folder.
    QString write(const QString &name, const QByteArray &content) { return writeFile(folder.filePath(name), content); }

    /// Starts the server and shows the window, signed in with a key file when `signedIn`.
    /// `configure` may replace the server's answers before the window asks anything.
    bool open(bool signedIn, const std::function<void(FakeMisskeyServer &)> &configure = {})
    {
        if ((server.port() == 0 && !server.start()) || !folder.isValid())
            return false;
        server.serveDefaultFixtures();
        if (configure)
            configure(server);
        server.setRequiredToken(testToken);
        return openAt(server.url(), signedIn ? std::optional<QString>(testToken) : std::nullopt);
    }

    /// Shows the window for `instance`, signed in through a key file holding `token` when given.
    bool openAt(const QUrl &instance, const std::optional<QString> &token)
    {
        settings.values.insert(instanceSettingsKey(), instance.toString());
        if (token)
            settings.values.insert(tokenPathSettingsKey(), write(QStringLiteral("key.txt"), token->toUtf8() + "\n"));
        setUpIconTheme();
        AppStateTimings timings;
        state = std::make_unique<AppState>(
            AppStateServices{secrets, dialogs, browser, settings, &network, QStringLiteral("org.quill.test")}, timings);
        window = std::make_unique<MainWindow>(state.get());
        window->show();
        if (!token)
            return QTest::qWaitFor([this] { return state->log().entries().size() >= 1; }, 5000);
        return QTest::qWaitFor([this] { return !state->notes().isEmpty() && state->currentUser().has_value(); }, 10000);
    }

    ~WindowHarness()
    {
        window.reset();
        state.reset();
    }
};

} // namespace quill::test
