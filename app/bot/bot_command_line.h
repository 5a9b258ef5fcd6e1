#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <variant>

namespace quill::bot {

/// What `quill-bot` was asked to run.
struct BotInvocation {
    QUrl instanceURL; ///< normalised; plain http only for this machine
    QString token;
    QString scriptPath;
};

/// `--help`: print the usage and exit successfully.
struct HelpRequested {};

/// A command line that cannot be run, with the reason for standard error.
struct InvocationError {
    QString message;
};

using ParsedCommandLine = std::variant<BotInvocation, HelpRequested, InvocationError>;

QString usageText();

/// Parses the arguments after the program name and reads the token file.
ParsedCommandLine parseCommandLine(const QStringList &arguments);

} // namespace quill::bot
