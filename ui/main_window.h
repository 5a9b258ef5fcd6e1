#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

class QSplitter;

namespace quill {

class AppState;
class LogPane;
class SidebarView;
class TimelineView;

/// Covers the window while files are dragged over it.
class DropOverlay : public QWidget {
    Q_OBJECT

public:
    explicit DropOverlay(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};

/**
 * @brief The one window of the client: sidebar, timeline with composer, and the log pane.
 *
 * Every control calls one command of the application state; the window itself only formats and
 * enables. It runs the state's start-up the first time it is shown.
 */
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(AppState *state, QWidget *parent = nullptr);

    SidebarView *sidebar() const { return m_sidebar; }
    TimelineView *timeline() const { return m_timeline; }
    LogPane *logPane() const { return m_logPane; }
    DropOverlay *dropOverlay() const { return m_overlay; }
    bool isDropTargeted() const { return m_isDropTargeted; }
    /// The alert showing the presented error, while one is open.
    QMessageBox *alert() const { return m_alert; }
    QMenu *botMenu() const { return m_botMenu; }

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void setDropTargeted(bool targeted);
    void presentError();
    void refreshMenu();

    AppState *m_state;
    SidebarView *m_sidebar;
    TimelineView *m_timeline;
    LogPane *m_logPane;
    DropOverlay *m_overlay;
    QMenu *m_botMenu = nullptr;
    QAction *m_startAction = nullptr;
    QAction *m_stopAction = nullptr;
    QPointer<QMessageBox> m_alert;
    bool m_isDropTargeted = false;
    bool m_didStart = false;
};

} // namespace quill
