#pragma once

#include "app/log/log_entry.h"

#include <QList>
#include <QObject>

namespace quill {

/**
 * @brief The user's record of what the application and the running bot did.
 *
 * In memory only, bounded to the newest `capacity` entries, oldest first. It belongs to the main
 * thread; an append made from another thread is handed over to it and happens there later.
 */
class AppLog : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype capacity = 1000;

    explicit AppLog(QObject *parent = nullptr);

    /// The entries in order of appending, oldest first.
    const QList<LogEntry> &entries() const { return m_entries; }

    /**
     * @brief Appends a message at a level.
     *
     * Newline characters at either end are removed (other white space stays); a message with
     * nothing left is ignored. Past capacity the oldest entries are dropped.
     */
    void append(LogEntry::Level level, const QString &message);

    /// Empties the log (the log pane's clear command).
    void clear();

Q_SIGNALS:
    /// An entry was added at the end.
    void entryAppended(const quill::LogEntry &entry);
    /// The oldest `count` entries were removed from the front to respect the capacity.
    void oldestEntriesDropped(qsizetype count);
    /// All entries were removed.
    void cleared();
    /// Emitted after every change, after the more specific signal.
    void entriesChanged();

private:
    QList<LogEntry> m_entries;
};

} // namespace quill
