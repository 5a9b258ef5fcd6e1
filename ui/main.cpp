// quill: the desktop client a user starts.
#include "app/credentials/credential_manager.h"
#include "app/credentials/desktop_services.h"
#include "app/state/app_state.h"
#include "ui/command_line.h"
#include "ui/main_window.h"
#include "ui/symbols.h"

#include <QApplication>
#include <QIcon>
#include <QNetworkAccessManager>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Options first, so --help and mistakes are answered without a display.
    QStringList arguments;
    for (int index = 1; index < argc; ++index)
        arguments.append(QString::fromLocal8Bit(argv[index]));
    const quill::window::ParsedOptions parsed = quill::window::parseOptions(arguments);
    if (std::holds_alternative<quill::window::HelpRequested>(parsed)) {
        std::fputs(qPrintable(quill::window::usageText()), stdout);
        return 0;
    }
    if (const auto *failure = std::get_if<quill::window::OptionsError>(&parsed)) {
        std::fprintf(stderr, "quill: %s\n\n%s", qPrintable(failure->message), qPrintable(quill::window::usageText()));
        return 2;
    }
    const auto &options = std::get<quill::window::WindowOptions>(parsed);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quill"));
    QApplication::setOrganizationName(QStringLiteral("quill"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quill"));
    QApplication::setDesktopFileName(QStringLiteral("quill"));
    quill::setUpIconTheme();

    quill::QtKeychainStore secrets;
    quill::QtFileDialogs dialogs;
    quill::DesktopURLOpener browser;
    quill::QSettingsStore settings;
    // The options are remembered like choices made in the window, so start-up takes the ordinary
    // road: it restores them, reads the key file and signs in.
    if (options.instanceURL)
        settings.setValue(quill::instanceSettingsKey(), options.instanceURL->toString());
    if (options.tokenFile)
        settings.setValue(quill::tokenPathSettingsKey(), options.tokenFile->toLocalFile());
    if (options.script)
        settings.setValue(quill::scriptPathSettingsKey(), options.script->toLocalFile());

    QNetworkAccessManager network;
    quill::AppState state({secrets, dialogs, browser, settings, &network, QStringLiteral("org.quill.Quill")});
    quill::MainWindow window(&state);
    window.show();
    return application.exec();
}
