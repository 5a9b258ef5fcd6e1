#pragma once

#include "app/model/misskey_note.h"
#include "app/model/timeline_kind.h"
#include "ui/symbols.h"

#include <QListView>
#include <QWidget>

class QLabel;
class QMenu;
class QStackedWidget;
class QToolButton;

namespace quill {

class AppState;
class ComposerView;
class EmptyStateView;
class LockedClientView;
class NoteDelegate;
class StatusDot;
class TimelineModel;

/// The timeline: its header, the composer (or the locked view) and the notes.
class TimelineView : public QWidget {
    Q_OBJECT

public:
    explicit TimelineView(AppState *state, QWidget *parent = nullptr);

    TimelineModel *model() const { return m_model; }
    NoteDelegate *delegate() const { return m_delegate; }
    QListView *list() const { return m_list; }
    ComposerView *composer() const { return m_composer; }
    QToolButton *refreshButton() const { return m_refresh; }
    StatusDot *statusDot() const { return m_dot; }
    QLabel *titleLabel() const { return m_title; }
    QWidget *loadingIndicator() const { return m_busy; }
    /// Which of the locked view, the "No notes" view or the list is showing.
    QWidget *currentContent() const;
    LockedClientView *lockedView() const { return m_locked; }
    EmptyStateView *emptyView() const { return m_empty; }

    /// The "React" menu of a note: the four offered reactions.
    QMenu *createReactionMenu(const MisskeyNote &note, QWidget *parent);
    /// The "More" menu of a note: "Open in browser" and "Delete".
    QMenu *createMoreMenu(const MisskeyNote &note, QWidget *parent);

    /// A row's context menu: "Reply", "Renote", "React" and the "More" entries.
    QMenu *createRowMenu(const MisskeyNote &note, QWidget *parent);

    /// Runs a row action as a click on it would (menus open at `globalPosition`).
    void activate(int row, int part, int attachment, const QPoint &globalPosition);

private:
    void refreshState();

    AppState *m_state;
    TimelineModel *m_model;
    NoteDelegate *m_delegate;
    QLabel *m_icon;
    QLabel *m_title;
    StatusDot *m_dot;
    QWidget *m_busy;
    QToolButton *m_refresh;
    ComposerView *m_composer;
    LockedClientView *m_locked;
    EmptyStateView *m_empty;
    QListView *m_list;
    QStackedWidget *m_stack;
};

/// The title and symbol of a timeline kind, as the sidebar and the header show them.
Symbol timelineSymbol(TimelineKind kind);

} // namespace quill
