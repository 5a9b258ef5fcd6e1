#include "ui/main_window.h"

#include "app/state/app_state.h"
#include "ui/log_pane.h"
#include "ui/sidebar_view.h"
#include "ui/symbols.h"
#include "ui/timeline_view.h"

#include <QDragEnterEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QSplitter>
#include <QTimer>

namespace quill {

namespace {

QList<QUrl> droppedFiles(const QMimeData *data)
{
    QList<QUrl> files;
    if (!data)
        return files;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            files.append(url);
    }
    return files;
}

} // namespace

DropOverlay::DropOverlay(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("dropOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void DropOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor veil = palette().color(QPalette::Window);
    veil.setAlphaF(0.88f);
    painter.fillRect(rect(), veil);
    const QRectF frame = QRectF(rect()).adjusted(16, 16, -16, -16);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(frame, 14, 14);

    const QPoint center = rect().center();
    symbolIcon(Symbol::document, palette()).paint(&painter, QRect(center.x() - 32, center.y() - 80, 64, 64));
    QFont title = font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.5);
    painter.setFont(title);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(0, center.y() - 8, width(), 32), Qt::AlignCenter, QStringLiteral("CobaltScript or API key"));
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(QRect(0, center.y() + 26, width(), 24), Qt::AlignCenter, QStringLiteral(".cbs  /  .txt"));
}

MainWindow::MainWindow(AppState *state, QWidget *parent)
    : QMainWindow(parent), m_state(state), m_sidebar(new SidebarView(state)), m_timeline(new TimelineView(state)),
      m_logPane(new LogPane(state)), m_overlay(nullptr)
{
    setWindowTitle(QStringLiteral("Quill"));
    setWindowIcon(symbolIcon(Symbol::app));
    setMinimumSize(980, 680);
    resize(1180, 820);
    setAcceptDrops(true);

    auto *main = new QSplitter(Qt::Vertical);
    main->setObjectName(QStringLiteral("mainSplitter"));
    main->addWidget(m_timeline);
    main->addWidget(m_logPane);
    main->setChildrenCollapsible(false);
    main->setStretchFactor(0, 1);
    main->setStretchFactor(1, 0);
    main->setSizes({610, 210});

    auto *split = new QSplitter(Qt::Horizontal);
    split->setObjectName(QStringLiteral("windowSplitter"));
    split->addWidget(m_sidebar);
    split->addWidget(main);
    split->setChildrenCollapsible(false);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({260, 920});
    setCentralWidget(split);

    m_overlay = new DropOverlay(this);

    m_botMenu = menuBar()->addMenu(QStringLiteral("Bot"));
    QAction *chooseScript = m_botMenu->addAction(symbolIcon(Symbol::scroll), QStringLiteral("Choose Script..."));
    chooseScript->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    connect(chooseScript, &QAction::triggered, state, &AppState::chooseScript);
    QAction *chooseKey = m_botMenu->addAction(symbolIcon(Symbol::key), QStringLiteral("Choose API Key..."));
    connect(chooseKey, &QAction::triggered, state, &AppState::chooseTokenFile);
    QAction *exportKey = m_botMenu->addAction(symbolIcon(Symbol::share), QStringLiteral("Export API Key..."));
    connect(exportKey, &QAction::triggered, state, &AppState::exportAPIKey);
    m_botMenu->addSeparator();
    m_startAction = m_botMenu->addAction(symbolIcon(Symbol::play), QStringLiteral("Start"));
    connect(m_startAction, &QAction::triggered, state, &AppState::startScript);
    m_stopAction = m_botMenu->addAction(symbolIcon(Symbol::stop), QStringLiteral("Stop"));
    connect(m_stopAction, &QAction::triggered, state, &AppState::stopScript);

    connect(state, &AppState::scriptStateChanged, this, &MainWindow::refreshMenu);
    connect(state, &AppState::canStartScriptChanged, this, &MainWindow::refreshMenu);
    connect(state, &AppState::presentedErrorChanged, this, &MainWindow::presentError);
    refreshMenu();
}

void MainWindow::refreshMenu()
{
    m_startAction->setEnabled(m_state->canStartScript());
    m_stopAction->setEnabled(m_state->scriptState() == ScriptExecutionState::running);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_didStart)
        return;
    m_didStart = true;
    // After the first paint, so the window appears at once and fills in as the account loads.
    QTimer::singleShot(0, m_state, [state = QPointer<AppState>(m_state)] {
        if (state)
            state->start();
    });
    // An error presented before the window was shown still gets its alert.
    presentError();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    m_overlay->setGeometry(rect());
}

void MainWindow::presentError()
{
    const auto &message = m_state->presentedError();
    if (!message) {
        if (m_alert)
            m_alert->close();
        return;
    }
    if (!isVisible())
        return;
    if (m_alert) {
        m_alert->setText(*message);
        return;
    }
    auto *alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Quill"), *message, QMessageBox::Ok, this);
    alert->setObjectName(QStringLiteral("errorAlert"));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    // Dismissing the alert, however it is closed, clears the error it shows.
    connect(alert, &QMessageBox::finished, m_state, [state = QPointer<AppState>(m_state)] {
        if (state)
            state->setPresentedError(std::nullopt);
    });
    m_alert = alert;
    alert->open();
}

void MainWindow::setDropTargeted(bool targeted)
{
    m_isDropTargeted = targeted;
    m_overlay->setGeometry(rect());
    m_overlay->setVisible(targeted);
    if (targeted)
        m_overlay->raise();
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (droppedFiles(event->mimeData()).isEmpty())
        return;
    event->acceptProposedAction();
    setDropTargeted(true);
}

void MainWindow::dragMoveEvent(QDragMoveEvent *event)
{
    if (m_isDropTargeted)
        event->acceptProposedAction();
}

void MainWindow::dragLeaveEvent(QDragLeaveEvent *event)
{
    setDropTargeted(false);
    QMainWindow::dragLeaveEvent(event);
}

void MainWindow::dropEvent(QDropEvent *event)
{
    setDropTargeted(false);
    const QList<QUrl> files = droppedFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    m_state->acceptDroppedFiles(files);
}

} // namespace quill
