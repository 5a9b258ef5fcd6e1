#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <variant>

namespace quill::window {

/// What `quill` was asked to open with, each part optional.
struct WindowOptions {
    std::optional<QUrl> instanceURL; ///< normalised
    std::optional<QUrl> tokenFile;   ///< a readable key file (checked, its token not kept)
    std::optional<QUrl> script;      ///< an existing .cbs file
};

struct HelpRequested {};

struct OptionsError {
    QString message;
};

using ParsedOptions = std::variant<WindowOptions, HelpRequested, OptionsError>;

QString usageText();

/// Parses the arguments after the program name; the files are checked the way the window would.
ParsedOptions parseOptions(const QStringList &arguments);

} // namespace quill::window
