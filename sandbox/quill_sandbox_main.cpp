// quill-sandbox: a local Misskey-compatible instance for trying Quill and its bots without an account.
#include "sandbox/sandbox_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<bool> stopSignalled{false};

extern "C" void onStopSignal(int)
{
    stopSignalled.store(true);
}

void printLine(std::FILE *stream, const QString &text)
{
    std::fputs((text + QLatin1Char('\n')).toUtf8().constData(), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quill-sandbox"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A local Misskey-compatible instance on 127.0.0.1 with seeded users and notes, the streaming API and MiAuth.\n"
        "It prints its address and writes an API key file for its account; SIGINT or SIGTERM ends it."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (default: any free port)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption stateOption(QStringLiteral("state"),
                                         QStringLiteral("Keep the instance's state in FILE across restarts."),
                                         QStringLiteral("FILE"));
    const QString defaultKeyFile =
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)).filePath(QStringLiteral("sandbox-key.txt"));
    const QCommandLineOption keyOption(QStringLiteral("key-file"),
                                       QStringLiteral("Write the sandbox account's API key to FILE (default: %1).")
                                           .arg(defaultKeyFile),
                                       QStringLiteral("FILE"), defaultKeyFile);
    const QCommandLineOption chatterOption(QStringLiteral("chatter"),
                                           QStringLiteral("A seeded user posts every MS milliseconds; 0 for never (default: 5000)."),
                                           QStringLiteral("MS"), QStringLiteral("5000"));
    parser.addOptions({portOption, stateOption, keyOption, chatterOption});
    parser.process(application);
    if (!parser.positionalArguments().isEmpty()) {
        printLine(stderr, QStringLiteral("quill-sandbox: unexpected argument ") + parser.positionalArguments().first());
        return 1;
    }

    quill::sandbox::SandboxOptions options;
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    bool chatterOk = false;
    const int chatter = parser.value(chatterOption).toInt(&chatterOk);
    if (!portOk || port > 65535) {
        printLine(stderr, QStringLiteral("quill-sandbox: --port needs a number from 0 to 65535."));
        return 1;
    }
    if (!chatterOk || chatter < 0) {
        printLine(stderr, QStringLiteral("quill-sandbox: --chatter needs a number of milliseconds, 0 or more."));
        return 1;
    }
    options.port = quint16(port);
    options.statePath = parser.value(stateOption);
    options.keyFilePath = parser.value(keyOption);
    options.chatterIntervalMs = chatter;

    quill::sandbox::SandboxServer server(options);
    if (!server.start()) {
        printLine(stderr, QStringLiteral("quill-sandbox: ") + server.errorString());
        return 1;
    }
    printLine(stdout, QStringLiteral("Sandbox key file: ") + QDir::toNativeSeparators(server.keyFilePath()));
    // The last line announces that everything is ready.
    printLine(stdout, QStringLiteral("Sandbox instance at ") + server.url().toString());

    // A signal handler may only set a flag; the event loop turns it into a clean exit.
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    QTimer signalWatch;
    QObject::connect(&signalWatch, &QTimer::timeout, &application, [] {
        if (stopSignalled.load())
            QCoreApplication::quit();
    });
    signalWatch.start(50);

    const int status = QCoreApplication::exec();
    if (!server.saveNow()) {
        printLine(stderr, QStringLiteral("quill-sandbox: ") + server.errorString());
        return 1;
    }
    return status;
}
