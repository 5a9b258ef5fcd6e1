#pragma once

// A signed-in (or locked) window over a real application state and the loopback fake server.
#include "app/state/app_state.h"
#include "tests/app/support/client_fixture.h"
#include "ui/main_window.h"
#include "ui/symbols.h"

namespace quill::test {

struct WindowHarness : ClientFixture {
    // Declared in this order so that the window goes before the state it shows.
    std::unique_ptr<AppState> state;
    std::unique_ptr<MainWindow> window;

    /// Starts the server and shows the window, locked until a key file "window-test-token" arrives.
    bool open()
    {
        server.setRequiredToken(QStringLiteral("window-test-token"));
        return start() && openAt(server.url(), QString());
    }

    /// Shows the window for `instance`, signed in through the key file at `keyPath` when one is given.
    bool openAt(const QUrl &instance, const QString &keyPath)
    {
        settings.values.insert(instanceSettingsKey(), instance.toString());
        if (!keyPath.isEmpty())
            settings.values.insert(tokenPathSettingsKey(), keyPath);
        setUpIconTheme();
        state = std::make_unique<AppState>(
            AppStateServices{secrets, dialogs, browser, settings, network.get(), QStringLiteral("org.quill.test")}, AppStateTimings{});
        window = std::make_unique<MainWindow>(state.get());
        window->show();
        if (keyPath.isEmpty())
            return QTest::qWaitFor([this] { return !state->log().entries().isEmpty(); }, 5000);
        return QTest::qWaitFor([this] { return !state->notes().isEmpty() && state->currentUser().has_value(); }, 10000);
    }
};

} // namespace quill::test
