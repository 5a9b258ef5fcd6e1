// quill-bot: runs one bot script against a Misskey instance with no window, for servers.
#include "app/bot/bot_command_line.h"
#include "app/log/app_log.h"
#include "app/script/script_controller.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

using namespace quill;

std::atomic<bool> stopSignalled{false};

extern "C" void onStopSignal(int)
{
    stopSignalled.store(true);
}

void writeLine(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QString logLine(const LogEntry &entry)
{
    return entry.date.toUTC().toString(Qt::ISODate) + QLatin1Char(' ') + label(entry.level) + QLatin1Char(' ')
           + entry.message;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quill-bot"));

    const bot::ParsedCommandLine parsed = bot::parseCommandLine(QCoreApplication::arguments().mid(1));
    if (std::holds_alternative<bot::HelpRequested>(parsed)) {
        std::fputs(bot::usageText().toUtf8().constData(), stdout);
        return 0;
    }
    if (const auto *failure = std::get_if<bot::InvocationError>(&parsed)) {
        writeLine(stderr, QStringLiteral("quill-bot: ") + failure->message);
        std::fputs(bot::usageText().toUtf8().constData(), stderr);
        return 1;
    }
    const bot::BotInvocation &invocation = std::get<bot::BotInvocation>(parsed);

    AppLog log;
    QString lastError;
    QObject::connect(&log, &AppLog::entryAppended, &log, [&lastError](const LogEntry &entry) {
        writeLine(stdout, logLine(entry));
        if (entry.level == LogEntry::Level::error)
            lastError = entry.message;
    });

    ScriptController controller(&log);
    int exitCode = 0;
    QObject::connect(&controller, &ScriptController::runFinished, &application,
                     [&exitCode, &lastError](const ScriptOutcome &outcome) {
                         if (outcome.result != QUILL_SCRIPT_FINISHED && outcome.result != QUILL_SCRIPT_STOPPED) {
                             exitCode = 1;
                             writeLine(stderr, lastError);
                         }
                         QCoreApplication::exit(exitCode);
                     });

    // A signal handler may only set a flag; the main thread turns it into a stop request.
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    if (!controller.start(invocation.scriptPath, invocation.instanceURL, invocation.token)) {
        writeLine(stderr, lastError.isEmpty() ? QStringLiteral("The bot could not be started.") : lastError);
        return 1;
    }

    QTimer signalWatch;
    QObject::connect(&signalWatch, &QTimer::timeout, &controller, [&controller] {
        if (stopSignalled.exchange(false))
            controller.stop();
    });
    signalWatch.start(50);

    return QCoreApplication::exec();
}
