#pragma once

// A signed-in (or locked) window over a real application state and the loopback fake server.
#include "app/state/app_state.h"
#include "tests/app/support/client_fixture.h"
#include "tests/app/support/in_memory_services.h"
#include "ui/main_window.h"
#include "ui/symbols.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <memory>
#include <optional>

namespace quill::test {

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

    QString write(const QString &name, const QByteArray &content) { return writeFile(folder.filePath(name), content); }

    /// Starts the server and shows the window, signed in with a key file when `signedIn`.
    bool open(bool signedIn)
    {
        const QString token = QStringLiteral("window-test-token");
        server.serveDefaultFixtures();
        server.setRequiredToken(token);
        return server.start() && folder.isValid() && openAt(server.url(), signedIn ? std::optional<QString>(token) : std::nullopt);
    }

    /// Shows the window for `instance`, signed in through a key file holding `token` when given.
    bool openAt(const QUrl &instance, const std::optional<QString> &token)
    {
        settings.values.insert(instanceSettingsKey(), instance.toString());
        if (token)
            settings.values.insert(tokenPathSettingsKey(), write(QStringLiteral("key.txt"), token->toUtf8() + "\n"));
        setUpIconTheme();
        state = std::make_unique<AppState>(AppStateServices{secrets, dialogs, browser, settings, &network, QStringLiteral("org.quill.test")},
                                           AppStateTimings{});
        window = std::make_unique<MainWindow>(state.get());
        window->show();
        if (!token)
            return QTest::qWaitFor([this] { return !state->log().entries().isEmpty(); }, 5000);
        return QTest::qWaitFor([this] { return !state->notes().isEmpty() && state->currentUser().has_value(); }, 10000);
    }

    ~WindowHarness()
    {
        window.reset();
        state.reset();
    }
};

} // namespace quill::test
