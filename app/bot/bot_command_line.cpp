#include "app/bot/bot_command_line.h"

#include "app/api/misskey_api.h"
#include "app/common/option_value.h"
#include "app/credentials/token_file.h"

#include <QFileInfo>

#include <optional>

namespace quill::bot {

namespace {

InvocationError error(const QString &message)
{
    return InvocationError{message};
}

} // namespace

QString usageText()
{
    return QStringLiteral(
        "usage: quill-bot --instance URL --token-file FILE SCRIPT.cbs\n"
        "\n"
        "Runs a CobaltScript bot against a Misskey instance without a window. The log is written to\n"
        "standard output; SIGINT or SIGTERM stops the bot. Exit status 0 when the bot finished or was\n"
        "stopped, 1 when it failed or could not start.\n");
}

ParsedCommandLine parseCommandLine(const QStringList &arguments)
{
    std::optional<QString> instance;
    std::optional<QString> tokenFile;
    std::optional<QString> script;
    for (qsizetype index = 0; index < arguments.size(); ++index) {
        const QString &argument = arguments.at(index);
        if (argument == QStringLiteral("--help") || argument == QStringLiteral("-h"))
            return HelpRequested{};
        const bool isInstance = argument == QStringLiteral("--instance");
        const bool isTokenFile = argument == QStringLiteral("--token-file");
        if (isInstance || isTokenFile) {
            if (const std::optional<QString> mistake = takeOptionValue(arguments, index, isInstance ? instance : tokenFile))
                return error(*mistake);
        } else if (argument.startsWith(QLatin1Char('-')) && argument != QStringLiteral("-")) {
            return error(QStringLiteral("Unknown option ") + argument + QStringLiteral("."));
        } else if (script) {
            return error(QStringLiteral("Only one script can be run."));
        } else {
            script = argument;
        }
    }
    if (!instance)
        return error(QStringLiteral("--instance is required."));
    if (!tokenFile)
        return error(QStringLiteral("--token-file is required."));
    if (!script)
        return error(QStringLiteral("A script file is required."));

    const APIResult<QUrl> instanceURL = MisskeyAPI::normaliseInstance(*instance);
    if (!instanceURL)
        return error(instanceURL.error().errorDescription());
    // A pipe is fine here (`--token-file <(pass show misskey)`): unlike the window, nothing waits
    // on a blocking read.
    const QUrl tokenURL = QUrl::fromLocalFile(QFileInfo(*tokenFile).absoluteFilePath());
    const Result<QString, QString> token = tokenFromFile(tokenURL, TokenFileKinds::RegularFileOrPipe);
    if (!token)
        return error(token.error());
    return BotInvocation{instanceURL.value(), token.value(), *script};
}

} // namespace quill::bot
