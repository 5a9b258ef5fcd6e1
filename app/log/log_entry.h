#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

namespace quill {

/// One line of the application log.
struct LogEntry {
    /// Severity and origin, in the order the log pane knows them.
    enum class Level {
        info,    ///< start-up, settings and credential changes, script start and end
        request, ///< results of Misskey calls and streaming events
        script,  ///< lines a bot script logs
        warning, ///< an interrupted stream being re-established
        error,   ///< every failure shown to the user, failed script runs
    };

    /// Identity of the entry in lists.
    QUuid id;
    /// When the entry was appended.
    QDateTime date;
    Level level = Level::info;
    QString message;

    bool operator==(const LogEntry &) const = default;
};

/// The label shown in the log pane: "INFO", "API", "BOT", "WARN" or "ERROR".
QString label(LogEntry::Level level);

} // namespace quill
