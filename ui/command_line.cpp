#include "ui/command_line.h"

#include "app/api/misskey_api.h"
#include "app/common/option_value.h"
#include "app/credentials/token_file.h"

#include <QFileInfo>

namespace quill::window {

QString usageText()
{
    return QStringLiteral(
        "usage: quill [--instance URL --token-file FILE] [--script FILE.cbs]\n"
        "\n"
        "Opens the Quill window. The options are remembered as if chosen in the window:\n"
        "  --instance URL      the Misskey instance (https, or http on this machine)\n"
        "  --token-file FILE   sign in with the API key in this text file\n"
        "  --script FILE.cbs   the bot script to run with Start\n");
}

ParsedOptions parseOptions(const QStringList &arguments)
{
    std::optional<QString> instance;
    std::optional<QString> tokenFile;
    std::optional<QString> script;
    for (qsizetype index = 0; index < arguments.size(); ++index) {
        const QString &argument = arguments.at(index);
        if (argument == QStringLiteral("--help") || argument == QStringLiteral("-h"))
            return HelpRequested{};
        std::optional<QString> *slot = nullptr;
        if (argument == QStringLiteral("--instance"))
            slot = &instance;
        else if (argument == QStringLiteral("--token-file"))
            slot = &tokenFile;
        else if (argument == QStringLiteral("--script"))
            slot = &script;
        else
            return OptionsError{QStringLiteral("Unknown argument ") + argument + QStringLiteral(".")};
        if (const std::optional<QString> mistake = takeOptionValue(arguments, index, *slot))
            return OptionsError{*mistake};
    }

    WindowOptions options;
    if (instance) {
        const APIResult<QUrl> url = MisskeyAPI::normaliseInstance(*instance);
        if (!url)
            return OptionsError{url.error().errorDescription()};
        options.instanceURL = url.value();
    }
    if (tokenFile) {
        const QUrl url = QUrl::fromLocalFile(QFileInfo(*tokenFile).absoluteFilePath());
        const auto token = tokenFromFile(url);
        if (!token)
            return OptionsError{token.error()};
        options.tokenFile = url;
    }
    if (script) {
        const QFileInfo info(*script);
        if (info.suffix().toLower() != QStringLiteral("cbs"))
            return OptionsError{QStringLiteral("Quill accepts CobaltScript .cbs files and API key .txt files.")};
        if (!info.isFile())
            return OptionsError{QStringLiteral("The script ") + *script + QStringLiteral(" does not exist.")};
        options.script = QUrl::fromLocalFile(info.absoluteFilePath());
    }
    return options;
}

} // namespace quill::window
