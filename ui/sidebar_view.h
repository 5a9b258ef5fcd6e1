#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QToolButton;

namespace quill {

class AppState;

/// One chosen file of the sidebar: its title, the file's name or "None", choose and clear buttons.
class FileRow : public QWidget {
    Q_OBJECT

public:
    FileRow(const QString &title, int symbol, QWidget *parent = nullptr);

    void setFileName(const QString &name);
    QLabel *nameLabel() const { return m_name; }
    QToolButton *chooseButton() const { return m_choose; }
    QToolButton *clearButton() const { return m_clear; }

private:
    QLabel *m_name;
    QToolButton *m_choose;
    QToolButton *m_clear;
};

/// The sidebar: header, account, timelines, connection and bot files.
class SidebarView : public QWidget {
    Q_OBJECT

public:
    explicit SidebarView(AppState *state, QWidget *parent = nullptr);

    QLabel *accountName() const { return m_name; }
    QLabel *accountHandle() const { return m_handle; }
    QLabel *credentialLabel() const { return m_credential; }
    QListWidget *timelines() const { return m_timelines; }
    QLineEdit *instanceField() const { return m_instance; }
    QPushButton *applyInstanceButton() const { return m_apply; }
    QPushButton *loginButton() const { return m_login; }
    QWidget *authenticatingRow() const { return m_authenticating; }
    QPushButton *cancelLoginButton() const { return m_cancelLogin; }
    QPushButton *exportButton() const { return m_export; }
    QPushButton *forgetButton() const { return m_forget; }
    FileRow *scriptRow() const { return m_scriptRow; }
    FileRow *tokenRow() const { return m_tokenRow; }

private:
    void refreshState();
    void refreshAvatar();

    AppState *m_state;
    QLabel *m_avatar;
    QLabel *m_name;
    QLabel *m_handle;
    QLabel *m_credentialIcon;
    QLabel *m_credential;
    QListWidget *m_timelines;
    QLineEdit *m_instance;
    QPushButton *m_apply;
    QPushButton *m_login;
    QWidget *m_authenticating;
    QPushButton *m_cancelLogin;
    QPushButton *m_export;
    QPushButton *m_forget;
    FileRow *m_scriptRow;
    FileRow *m_tokenRow;
    class RemoteImageLoader *m_avatarLoader = nullptr;
};

} // namespace quill
