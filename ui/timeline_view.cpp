#include "ui/timeline_view.h"

#include "app/state/app_state.h"
#include "ui/common_widgets.h"
#include "ui/composer_view.h"
#include "ui/note_delegate.h"
#include "ui/shown_note.h"
#include "ui/timeline_model.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace quill {

Symbol timelineSymbol(TimelineKind kind)
{
    switch (kind) {
    case TimelineKind::home: return Symbol::house;
    case TimelineKind::local: return Symbol::building;
    case TimelineKind::social: return Symbol::people;
    case TimelineKind::global: return Symbol::globe;
    }
    return Symbol::house;
}

TimelineView::TimelineView(AppState *state, QWidget *parent)
    : QWidget(parent), m_state(state), m_model(new TimelineModel(this)), m_delegate(new NoteDelegate(m_model, this)),
      m_icon(new QLabel(this)), m_title(new QLabel(this)), m_dot(new StatusDot(this)), m_busy(makeBusyIndicator(this)),
      m_refresh(makeSymbolButton(Symbol::refresh, QStringLiteral("Refresh timeline"), this)),
      m_composer(new ComposerView(state, this)), m_locked(new LockedClientView(this)),
      m_empty(new EmptyStateView(QStringLiteral("No notes"), Symbol::bubble, QString(), this)),
      m_list(new QListView(this)), m_stack(new QStackedWidget(this))
{
    setObjectName(QStringLiteral("timelineView"));
    setMinimumHeight(430);
    m_refresh->setObjectName(QStringLiteral("refreshButton"));
    m_empty->setObjectName(QStringLiteral("noNotesView"));

    auto *header = new QHBoxLayout;
    header->setContentsMargins(12, 8, 8, 8);
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    m_title->setFont(titleFont);
    header->addWidget(m_icon);
    header->addWidget(m_title);
    header->addSpacing(6);
    header->addWidget(m_dot);
    header->addStretch(1);
    header->addWidget(m_busy);
    header->addWidget(m_refresh);

    m_list->setObjectName(QStringLiteral("noteList"));
    m_list->setModel(m_model);
    m_list->setItemDelegate(m_delegate);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setMouseTracking(true);
    m_list->verticalScrollBar()->setSingleStep(24);

    // The composer and the notes share one page; the locked view replaces both.
    auto *unlocked = new QWidget(this);
    auto *unlockedLayout = new QVBoxLayout(unlocked);
    unlockedLayout->setContentsMargins(0, 0, 0, 0);
    unlockedLayout->setSpacing(0);
    auto *notes = new QStackedWidget(unlocked);
    notes->setObjectName(QStringLiteral("noteStack"));
    notes->addWidget(m_list);
    notes->addWidget(m_empty);
    auto *line = new QFrame(unlocked);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    unlockedLayout->addWidget(m_composer);
    unlockedLayout->addWidget(line);
    unlockedLayout->addWidget(notes, 1);
    m_stack->addWidget(unlocked);
    m_stack->addWidget(m_locked);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    auto *headerLine = new QFrame(this);
    headerLine->setFrameShape(QFrame::HLine);
    headerLine->setFrameShadow(QFrame::Sunken);
    layout->addWidget(headerLine);
    layout->addWidget(m_stack, 1);

    // Every row action is also in the row's context menu, for the keyboard and assistive tools.
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QListView::customContextMenuRequested, this, [this](const QPoint &position) {
        const QModelIndex index = m_list->indexAt(position);
        if (!index.isValid())
            return;
        QMenu *menu = createRowMenu(m_model->noteAt(index.row()), this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_list->viewport()->mapToGlobal(position));
    });
    // Relative times ("5m") age while the window is open; repainting the visible rows is enough.
    auto *clock = new QTimer(this);
    clock->setInterval(30000);
    connect(clock, &QTimer::timeout, m_list->viewport(), qOverload<>(&QWidget::update));
    clock->start();
    connect(m_refresh, &QToolButton::clicked, state, &AppState::refresh);
    connect(m_delegate, &NoteDelegate::partClicked, this,
            [this](int row, NoteDelegate::Part part, int attachment, const QPoint &position) {
                activate(row, int(part), attachment, position);
            });
    // Resizing a content warning's row needs a new layout, not only a repaint.
    connect(m_model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &first) {
        Q_EMIT m_delegate->sizeHintChanged(first);
    });
    connect(state, &AppState::notesChanged, this, [this] {
        m_model->setNotes(m_state->notes());
        refreshState();
    });
    for (auto signal : {&AppState::selectedTimelineChanged, &AppState::hasAPIKeyChanged, &AppState::currentUserChanged,
                        &AppState::isLoadingTimelineChanged, &AppState::tokenChanged})
        connect(state, signal, this, [this] { refreshState(); });

    m_model->setNotes(state->notes());
    refreshState();
}

QWidget *TimelineView::currentContent() const
{
    if (m_stack->currentWidget() == m_locked)
        return m_locked;
    return m_model->rowCount() > 0 ? static_cast<QWidget *>(m_list) : m_empty;
}

void TimelineView::refreshState()
{
    const TimelineKind kind = m_state->selectedTimeline();
    m_title->setText(title(kind));
    m_icon->setPixmap(symbolIcon(timelineSymbol(kind)).pixmap(20, 20));
    const bool verified = m_state->currentUser().has_value();
    m_dot->setColor(verified ? QColor(0x27, 0xae, 0x60) : QColor(0xe6, 0x7e, 0x22));
    m_dot->setToolTip(verified ? QStringLiteral("Streaming enabled") : QStringLiteral("API key not verified"));
    m_busy->setVisible(m_state->isLoadingTimeline());
    const bool unlocked = m_state->hasAPIKey();
    m_refresh->setEnabled(unlocked);
    m_stack->setCurrentIndex(unlocked ? 0 : 1);
    auto *notes = static_cast<QStackedWidget *>(m_list->parentWidget());
    notes->setCurrentWidget(m_model->rowCount() > 0 ? static_cast<QWidget *>(m_list) : m_empty);
}

QMenu *TimelineView::createReactionMenu(const MisskeyNote &note, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("reactionMenu"));
    for (const QString &reaction : offeredReactions()) {
        QAction *action = menu->addAction(reaction);
        connect(action, &QAction::triggered, m_state, [state = m_state, note, reaction] { state->react(note, reaction); });
    }
    return menu;
}

QMenu *TimelineView::createMoreMenu(const MisskeyNote &note, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("moreMenu"));
    QAction *open = menu->addAction(symbolIcon(Symbol::browser), QStringLiteral("Open in browser"));
    connect(open, &QAction::triggered, m_state, [state = m_state, note] { state->openNote(note); });
    menu->addSeparator();
    QAction *remove = menu->addAction(symbolIcon(Symbol::trash), QStringLiteral("Delete"));
    connect(remove, &QAction::triggered, m_state, [state = m_state, note] { state->delete_(note); });
    return menu;
}

QMenu *TimelineView::createRowMenu(const MisskeyNote &note, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("rowMenu"));
    connect(menu->addAction(symbolIcon(Symbol::reply), QStringLiteral("Reply")), &QAction::triggered, this, [this, note] {
        m_state->setReplyTarget(note);
        m_composer->editor()->setFocus();
    });
    connect(menu->addAction(symbolIcon(Symbol::renote), QStringLiteral("Renote")), &QAction::triggered, m_state,
            [state = m_state, note] { state->renote(note); });
    QMenu *reactions = createReactionMenu(note, menu);
    reactions->setTitle(QStringLiteral("React"));
    reactions->setIcon(symbolIcon(Symbol::react));
    menu->addMenu(reactions);
    menu->addSeparator();
    for (QAction *action : createMoreMenu(note, menu)->actions())
        menu->addAction(action);
    return menu;
}

void TimelineView::activate(int row, int part, int attachment, const QPoint &globalPosition)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    const MisskeyNote note = m_model->noteAt(row);
    switch (NoteDelegate::Part(part)) {
    case NoteDelegate::Part::revealContentWarning:
        m_model->toggleContentWarning(row);
        break;
    case NoteDelegate::Part::attachment: {
        const ShownNote shown = shownNote(note);
        if (attachment >= 0 && attachment < shown.files.size()) {
            // Only web addresses are opened; a note must not make the desktop open local files.
            const QUrl url(shown.files.at(attachment).urlString.value_or(QString()));
            if (url.isValid() && (url.scheme() == QStringLiteral("https") || url.scheme() == QStringLiteral("http")))
                QDesktopServices::openUrl(url);
        }
        break;
    }
    case NoteDelegate::Part::reply:
        m_state->setReplyTarget(note);
        m_composer->editor()->setFocus();
        break;
    case NoteDelegate::Part::renote:
        m_state->renote(note);
        break;
    case NoteDelegate::Part::react: {
        QMenu *menu = createReactionMenu(note, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(globalPosition);
        break;
    }
    case NoteDelegate::Part::more: {
        QMenu *menu = createMoreMenu(note, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(globalPosition);
        break;
    }
    case NoteDelegate::Part::none:
        break;
    }
}

} // namespace quill
