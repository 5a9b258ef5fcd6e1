#include "ui/log_list_model.h"

namespace quill {

LogListModel::LogListModel(AppLog *log, QObject *parent) : QAbstractListModel(parent), m_log(log)
{
    if (!log)
        return;
    m_rows = log->entries().size();
    connect(log, &AppLog::entryAppended, this, [this] {
        beginInsertRows({}, int(m_rows), int(m_rows));
        ++m_rows;
        endInsertRows();
    });
    connect(log, &AppLog::oldestEntriesDropped, this, [this](qsizetype count) {
        // The log has already dropped them; the rows still counted here are the ones to remove.
        count = std::min(count, m_rows);
        if (count <= 0)
            return;
        beginRemoveRows({}, 0, int(count - 1));
        m_rows -= count;
        endRemoveRows();
    });
    connect(log, &AppLog::cleared, this, [this] {
        beginResetModel();
        m_rows = 0;
        endResetModel();
    });
}

int LogListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows);
}

QString LogListModel::timeText(const QDateTime &date)
{
    return date.toString(QStringLiteral("HH:mm:ss.zzz"));
}

QVariant LogListModel::data(const QModelIndex &index, int role) const
{
    if (!m_log || !index.isValid() || index.row() >= m_log->entries().size())
        return {};
    // Between the log's change and the matching signal the counts can briefly differ while an
    // entry is appended and the oldest dropped; index from the end so the newest rows stay right.
    const auto &entries = m_log->entries();
    const qsizetype offset = entries.size() - m_rows;
    const qsizetype position = index.row() + offset;
    if (position < 0 || position >= entries.size())
        return {};
    const LogEntry &entry = entries.at(position);
    switch (role) {
    case Qt::DisplayRole:
        return QStringLiteral("%1  %2  %3").arg(timeText(entry.date), label(entry.level), entry.message);
    case Qt::ToolTipRole:
    case MessageRole:
        return entry.message;
    case LevelRole:
        return int(entry.level);
    case LevelLabelRole:
        return label(entry.level);
    case TimeTextRole:
        return timeText(entry.date);
    default:
        return {};
    }
}

} // namespace quill
