#pragma once

#include "app/log/app_log.h"

#include <QAbstractListModel>
#include <QPointer>

namespace quill {

/**
 * @brief The log pane's list: one row per `AppLog` entry, oldest first.
 *
 * It mirrors the log through its fine-grained signals (append, drop from the front, clear), so a
 * full log of 1000 entries is never rebuilt when one line arrives.
 */
class LogListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        LevelRole = Qt::UserRole + 1, ///< int value of LogEntry::Level
        LevelLabelRole,               ///< "INFO", "API", ...
        TimeTextRole,                 ///< "HH:mm:ss.SSS"
        MessageRole,
    };

    explicit LogListModel(AppLog *log, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    /// The time column's text for an entry.
    static QString timeText(const QDateTime &date);

private:
    QPointer<AppLog> m_log;
    /// Rows the view has been told about; follows the log's entries exactly.
    qsizetype m_rows = 0;
};

} // namespace quill
