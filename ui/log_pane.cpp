#include "ui/log_pane.h"

#include "app/state/app_state.h"
#include "ui/common_widgets.h"
#include "ui/log_list_model.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace quill {

namespace {

/// The level column's width in points (device-independent pixels here).
constexpr int levelColumnWidth = 38;

} // namespace

QColor LogRowDelegate::levelColor(int level, const QPalette &palette)
{
    switch (LogEntry::Level(level)) {
    case LogEntry::Level::info: return palette.color(QPalette::PlaceholderText);
    case LogEntry::Level::request: return QColor(0x2f, 0x80, 0xed);
    case LogEntry::Level::script: return QColor(0x27, 0xae, 0x60);
    case LogEntry::Level::warning: return QColor(0xe6, 0x7e, 0x22);
    case LogEntry::Level::error: return QColor(0xe7, 0x4c, 0x3c);
    }
    return palette.color(QPalette::Text);
}

QSize LogRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return {option.rect.width(), QFontMetrics(option.font).height() + 4};
}

void LogRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    if (option.state & QStyle::State_Selected)
        painter->fillRect(option.rect, option.palette.color(QPalette::Highlight).lighter(180));
    const QFontMetrics metrics(option.font);
    QRect cell = option.rect.adjusted(8, 0, -8, 0);
    const QString time = index.data(LogListModel::TimeTextRole).toString();
    const int timeWidth = metrics.horizontalAdvance(QStringLiteral("00:00:00.000")) + 10;
    painter->setFont(option.font);
    painter->setPen(option.palette.color(QPalette::PlaceholderText));
    painter->drawText(QRect(cell.left(), cell.top(), timeWidth, cell.height()), Qt::AlignLeft | Qt::AlignVCenter, time);

    QFont bold = option.font;
    bold.setBold(true);
    painter->setFont(bold);
    painter->setPen(levelColor(index.data(LogListModel::LevelRole).toInt(), option.palette));
    const int levelWidth = std::max(levelColumnWidth, QFontMetrics(bold).horizontalAdvance(QStringLiteral("ERROR")));
    painter->drawText(QRect(cell.left() + timeWidth, cell.top(), levelWidth, cell.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      index.data(LogListModel::LevelLabelRole).toString());

    painter->setFont(option.font);
    painter->setPen(option.palette.color(QPalette::Text));
    const QRect messageRect(cell.left() + timeWidth + levelWidth + 8, cell.top(),
                            cell.width() - timeWidth - levelWidth - 8, cell.height());
    QString message = index.data(LogListModel::MessageRole).toString();
    message.replace(QLatin1Char('\n'), QChar(0x21B5));
    painter->drawText(messageRect, Qt::AlignLeft | Qt::AlignVCenter,
                      metrics.elidedText(message, Qt::ElideRight, messageRect.width()));
    painter->restore();
}

LogPane::LogPane(AppState *state, QWidget *parent)
    : QWidget(parent), m_state(state), m_model(new LogListModel(&state->log(), this)), m_dot(new StatusDot(this)),
      m_stateLabel(new QLabel(this)), m_start(makeTextButton(Symbol::play, QStringLiteral("Start"), this)),
      m_stop(makeTextButton(Symbol::stop, QStringLiteral("Stop"), this)),
      m_clear(makeSymbolButton(Symbol::trash, QStringLiteral("Clear log"), this)), m_stack(new QStackedWidget(this)),
      m_list(new QListView(this)),
      m_empty(new QLabel(QStringLiteral("No log entries"), this))
{
    setObjectName(QStringLiteral("logPane"));
    setMinimumHeight(150);
    m_start->setObjectName(QStringLiteral("startButton"));
    m_stop->setObjectName(QStringLiteral("stopButton"));
    m_clear->setObjectName(QStringLiteral("clearLogButton"));
    m_start->setToolTip(QStringLiteral("Start the bot script"));
    m_stop->setToolTip(QStringLiteral("Stop the bot script"));

    auto *header = new QHBoxLayout;
    header->setContentsMargins(10, 6, 10, 6);
    auto *title = new QLabel(QStringLiteral("Log"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    header->addWidget(title);
    header->addSpacing(12);
    header->addWidget(m_dot);
    header->addWidget(m_stateLabel);
    header->addStretch(1);
    header->addWidget(m_start);
    header->addWidget(m_stop);
    header->addWidget(m_clear);

    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_list->setFont(mono);
    m_list->setModel(m_model);
    m_list->setItemDelegate(new LogRowDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setObjectName(QStringLiteral("logList"));
    static_cast<QLabel *>(m_empty)->setAlignment(Qt::AlignCenter);
    m_empty->setForegroundRole(QPalette::PlaceholderText);
    m_stack->addWidget(m_list);
    m_stack->addWidget(m_empty);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addWidget(m_stack, 1);

    // The newest entry comes into view whenever one is added.
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] {
        refreshState();
        m_list->scrollToBottom();
        // The list lays out new rows later; scroll again once they have their place.
        QMetaObject::invokeMethod(m_list, &QListView::scrollToBottom, Qt::QueuedConnection);
    });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] { refreshState(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { refreshState(); });
    connect(m_start, &QToolButton::clicked, state, &AppState::startScript);
    connect(m_stop, &QToolButton::clicked, state, &AppState::stopScript);
    connect(m_clear, &QToolButton::clicked, &state->log(), &AppLog::clear);
    connect(state, &AppState::scriptStateChanged, this, [this] { refreshState(); });
    connect(state, &AppState::canStartScriptChanged, this, [this] { refreshState(); });
    refreshState();
}

QString LogPane::stateText() const
{
    return m_stateLabel->text();
}

bool LogPane::showsEmptyView() const
{
    return m_stack->currentWidget() == m_empty;
}

void LogPane::refreshState()
{
    const ScriptExecutionState scriptState = m_state->scriptState();
    switch (scriptState) {
    case ScriptExecutionState::running:
        m_stateLabel->setText(QStringLiteral("Running"));
        m_dot->setColor(QColor(0x27, 0xae, 0x60));
        break;
    case ScriptExecutionState::stopping:
        m_stateLabel->setText(QStringLiteral("Stopping"));
        m_dot->setColor(QColor(0xe6, 0x7e, 0x22));
        break;
    case ScriptExecutionState::idle:
        m_stateLabel->setText(QStringLiteral("Stopped"));
        m_dot->setColor(palette().color(QPalette::PlaceholderText));
        break;
    }
    m_start->setEnabled(m_state->canStartScript());
    m_stop->setEnabled(scriptState == ScriptExecutionState::running);
    m_clear->setEnabled(m_model->rowCount() > 0);
    m_stack->setCurrentWidget(m_model->rowCount() > 0 ? static_cast<QWidget *>(m_list) : m_empty);
}

} // namespace quill
