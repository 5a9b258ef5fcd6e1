#pragma once

#include <QListView>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QWidget>

class QLabel;

namespace quill {

class AppState;
class LogListModel;
class StatusDot;

/// Paints one log line: the time, the level label in a fixed column coloured by level, the message.
class LogRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    /// The colour of a level's label (an int of LogEntry::Level).
    static QColor levelColor(int level, const QPalette &palette);
};

/// The log and the bot's controls, below the timeline.
class LogPane : public QWidget {
    Q_OBJECT

public:
    explicit LogPane(AppState *state, QWidget *parent = nullptr);

    QListView *list() const { return m_list; }
    QToolButton *startButton() const { return m_start; }
    QToolButton *stopButton() const { return m_stop; }
    QToolButton *clearButton() const { return m_clear; }
    QString stateText() const;
    /// "No log entries" is showing instead of the list.
    bool showsEmptyView() const;

private:
    void refreshState();

    AppState *m_state;
    LogListModel *m_model;
    StatusDot *m_dot;
    QLabel *m_stateLabel;
    QToolButton *m_start;
    QToolButton *m_stop;
    QToolButton *m_clear;
    QStackedWidget *m_stack;
    QListView *m_list;
    QWidget *m_empty;
};

} // namespace quill
