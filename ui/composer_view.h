#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QToolButton;
class QPushButton;

namespace quill {

class AppState;

/// The composer: reply banner, text, character count, visibility and the post button.
class ComposerView : public QWidget {
    Q_OBJECT

public:
    explicit ComposerView(AppState *state, QWidget *parent = nullptr);

    QPlainTextEdit *editor() const { return m_editor; }
    QPushButton *postButton() const { return m_post; }
    QToolButton *visibilityButton() const { return m_visibility; }
    QWidget *replyBanner() const { return m_replyBanner; }
    QLabel *replyLabel() const { return m_replyLabel; }
    QToolButton *cancelReplyButton() const { return m_cancelReply; }
    QLabel *countLabel() const { return m_count; }
    QWidget *postingIndicator() const { return m_busy; }

private:
    void refreshState();

    AppState *m_state;
    QWidget *m_replyBanner;
    QLabel *m_replyLabel;
    QToolButton *m_cancelReply;
    QPlainTextEdit *m_editor;
    QLabel *m_count;
    QToolButton *m_visibility;
    QWidget *m_busy;
    QPushButton *m_post;
};

} // namespace quill
