#include "app/log/app_log.h"

#include <QMetaObject>
#include <QThread>

namespace quill {

namespace {

// Line feed, vertical tab, form feed, carriage return, next line, line and paragraph separators.
bool isNewline(QChar character)
{
    const char16_t code = character.unicode();
    return (code >= 0x000A && code <= 0x000D) || code == 0x0085 || code == 0x2028 || code == 0x2029;
}

QString trimNewlines(const QString &message)
{
    qsizetype begin = 0;
    qsizetype end = message.size();
    while (begin < end && isNewline(message.at(begin)))
        ++begin;
    while (end > begin && isNewline(message.at(end - 1)))
        --end;
    return message.mid(begin, end - begin);
}

} // namespace

QString label(LogEntry::Level level)
{
    switch (level) {
    case LogEntry::Level::info:
        return QStringLiteral("INFO");
    case LogEntry::Level::request:
        return QStringLiteral("API");
    case LogEntry::Level::script:
        return QStringLiteral("BOT");
    case LogEntry::Level::warning:
        return QStringLiteral("WARN");
    case LogEntry::Level::error:
        return QStringLiteral("ERROR");
    }
    return QString();
}

AppLog::AppLog(QObject *parent) : QObject(parent) {}

void AppLog::append(LogEntry::Level level, const QString &message)
{
    // Observers live on the log's thread; a stray call from elsewhere must not race them.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, level, message] { append(level, message); }, Qt::QueuedConnection);
        return;
    }

    const QString trimmed = trimNewlines(message);
    if (trimmed.isEmpty())
        return;

    LogEntry entry{QUuid::createUuid(), QDateTime::currentDateTime(), level, trimmed};
    m_entries.append(entry);
    Q_EMIT entryAppended(entry);

    const qsizetype excess = m_entries.size() - capacity;
    if (excess > 0) {
        m_entries.remove(0, excess);
        Q_EMIT oldestEntriesDropped(excess);
    }
    Q_EMIT entriesChanged();
}

void AppLog::clear()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { clear(); }, Qt::QueuedConnection);
        return;
    }
    m_entries.clear();
    Q_EMIT cleared();
    Q_EMIT entriesChanged();
}

} // namespace quill
