#include "app/bot/bot_command_line.h"

#include "app/api/misskey_api.h"

#include <QFile>

#include <algorithm>
#include <optional>

namespace quill::bot {

namespace {

// A token is a short line of text; anything much larger is not a token file.
constexpr qint64 maxTokenFileBytes = 64 * 1024;

InvocationError error(const QString &message)
{
    return InvocationError{message};
}

std::variant<QString, InvocationError> readToken(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return error(QStringLiteral("Cannot read the token file ") + path + QStringLiteral(": ") + file.errorString());
    const QByteArray bytes = file.read(maxTokenFileBytes + 1);
    if (bytes.size() > maxTokenFileBytes)
        return error(QStringLiteral("The token file is too large: ") + path);
    const QString token = QString::fromUtf8(bytes).trimmed();
    if (token.isEmpty())
        return error(QStringLiteral("The token file is empty: ") + path);
    // The token travels in a header, where a control character would corrupt the request.
    const bool clean = std::none_of(token.cbegin(), token.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    if (!clean)
        return error(QStringLiteral("The token file must hold the token on one line: ") + path);
    return token;
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
            std::optional<QString> &slot = isInstance ? instance : tokenFile;
            if (slot)
                return error(argument + QStringLiteral(" is given more than once."));
            if (index + 1 >= arguments.size())
                return error(argument + QStringLiteral(" needs a value."));
            slot = arguments.at(++index);
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
    std::variant<QString, InvocationError> token = readToken(*tokenFile);
    if (auto *failure = std::get_if<InvocationError>(&token))
        return *failure;
    return BotInvocation{instanceURL.value(), std::get<QString>(std::move(token)), *script};
}

} // namespace quill::bot
