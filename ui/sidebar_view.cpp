#include "ui/sidebar_view.h"

#include "app/state/app_state.h"
#include "ui/common_widgets.h"
#include "ui/remote_image.h"
#include "ui/timeline_view.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace quill {

namespace {

QLabel *sectionTitle(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setContentsMargins(0, 10, 0, 2);
    return label;
}

QPushButton *sidebarButton(Symbol symbol, const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(symbolIcon(symbol), text, parent);
    button->setFlat(true);
    button->setStyleSheet(QStringLiteral("text-align: left; padding: 4px 6px;"));
    return button;
}

QPixmap roundAvatar(const QImage &image, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath circle;
    circle.addEllipse(0, 0, size, size);
    painter.setClipPath(circle);
    painter.drawImage(QRect(0, 0, size, size), image);
    return pixmap;
}

QString fileName(const std::optional<QUrl> &url)
{
    return url ? QFileInfo(url->toLocalFile()).fileName() : QStringLiteral("None");
}

} // namespace

FileRow::FileRow(const QString &title, int symbol, QWidget *parent)
    : QWidget(parent), m_name(new QLabel(QStringLiteral("None"), this)),
      m_choose(makeSymbolButton(Symbol::folder, QStringLiteral("Choose ") + title, this)),
      m_clear(makeSymbolButton(Symbol::cross, QStringLiteral("Clear ") + title, this))
{
    auto *icon = new QLabel(this);
    icon->setPixmap(symbolIcon(Symbol(symbol)).pixmap(16, 16));
    auto *titleLabel = new QLabel(title, this);
    m_name->setForegroundRole(QPalette::PlaceholderText);
    m_name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(0);
    texts->addWidget(titleLabel);
    texts->addWidget(m_name);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addLayout(texts, 1);
    layout->addWidget(m_choose);
    layout->addWidget(m_clear);
}

void FileRow::setFileName(const QString &name)
{
    m_name->setText(name);
    m_name->setToolTip(name);
}

SidebarView::SidebarView(AppState *state, QWidget *parent)
    : QWidget(parent), m_state(state), m_avatar(new QLabel), m_name(new QLabel), m_handle(new QLabel),
      m_credentialIcon(new QLabel), m_credential(new QLabel), m_timelines(new QListWidget), m_instance(new QLineEdit),
      m_apply(new QPushButton(symbolIcon(Symbol::checkmark), QStringLiteral("Apply instance"))),
      m_login(nullptr), m_authenticating(new QWidget), m_cancelLogin(new QPushButton(QStringLiteral("Cancel"))),
      m_export(nullptr), m_forget(nullptr), m_scriptRow(new FileRow(QStringLiteral("CobaltScript"), int(Symbol::scroll))),
      m_tokenRow(new FileRow(QStringLiteral("API key"), int(Symbol::key)))
{
    setObjectName(QStringLiteral("sidebar"));
    setMinimumWidth(230);
    setMaximumWidth(320);

    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(14, 12, 14, 12);
    column->setSpacing(4);

    // Header
    auto *appIcon = new QLabel;
    appIcon->setPixmap(symbolIcon(Symbol::app).pixmap(32, 32));
    auto *appName = new QLabel(QStringLiteral("Quill"));
    QFont nameFont = appName->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.4);
    appName->setFont(nameFont);
    auto *tagline = new QLabel(QStringLiteral("Misskey bot client"));
    tagline->setForegroundRole(QPalette::PlaceholderText);
    auto *headerTexts = new QVBoxLayout;
    headerTexts->setSpacing(0);
    headerTexts->addWidget(appName);
    headerTexts->addWidget(tagline);
    auto *header = new QHBoxLayout;
    header->addWidget(appIcon);
    header->addLayout(headerTexts, 1);
    column->addLayout(header);

    // Account
    column->addWidget(sectionTitle(QStringLiteral("Account"), content));
    m_avatar->setFixedSize(36, 36);
    QFont bold = m_name->font();
    bold.setBold(true);
    m_name->setFont(bold);
    m_name->setObjectName(QStringLiteral("accountName"));
    m_handle->setObjectName(QStringLiteral("accountHandle"));
    m_handle->setForegroundRole(QPalette::PlaceholderText);
    auto *userTexts = new QVBoxLayout;
    userTexts->setSpacing(0);
    userTexts->addWidget(m_name);
    userTexts->addWidget(m_handle);
    auto *userRow = new QWidget;
    userRow->setObjectName(QStringLiteral("accountUser"));
    auto *userLayout = new QHBoxLayout(userRow);
    userLayout->setContentsMargins(0, 0, 0, 0);
    userLayout->addWidget(m_avatar);
    userLayout->addLayout(userTexts, 1);
    column->addWidget(userRow);
    auto *credentialRow = new QHBoxLayout;
    credentialRow->addWidget(m_credentialIcon);
    credentialRow->addWidget(m_credential, 1);
    m_credential->setObjectName(QStringLiteral("credentialLabel"));
    column->addLayout(credentialRow);

    // Timelines
    column->addWidget(sectionTitle(QStringLiteral("Timelines"), content));
    m_timelines->setObjectName(QStringLiteral("timelineList"));
    m_timelines->setFrameShape(QFrame::NoFrame);
    m_timelines->setIconSize({18, 18});
    m_timelines->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_timelines->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_timelines->viewport()->setAutoFillBackground(false);
    for (TimelineKind kind : allTimelineKinds) {
        auto *item = new QListWidgetItem(symbolIcon(timelineSymbol(kind)), title(kind), m_timelines);
        item->setData(Qt::UserRole, int(kind));
        item->setSizeHint({0, 30});
    }
    m_timelines->setFixedHeight(30 * int(allTimelineKinds.size()) + 4);
    column->addWidget(m_timelines);

    // Connection
    column->addWidget(sectionTitle(QStringLiteral("Connection"), content));
    m_instance->setObjectName(QStringLiteral("instanceField"));
    m_instance->setPlaceholderText(QStringLiteral("misskey.example"));
    m_instance->setClearButtonEnabled(true);
    column->addWidget(m_instance);
    m_apply->setObjectName(QStringLiteral("applyInstanceButton"));
    column->addWidget(m_apply);
    m_login = sidebarButton(Symbol::browser, QStringLiteral("Login with Safari"), content);
    m_login->setObjectName(QStringLiteral("loginButton"));
    column->addWidget(m_login);
    m_authenticating->setObjectName(QStringLiteral("authenticatingRow"));
    auto *authLayout = new QHBoxLayout(m_authenticating);
    authLayout->setContentsMargins(6, 0, 0, 0);
    authLayout->addWidget(makeBusyIndicator(m_authenticating));
    authLayout->addWidget(new QLabel(QStringLiteral("Safari login")), 1);
    m_cancelLogin->setObjectName(QStringLiteral("cancelLoginButton"));
    authLayout->addWidget(m_cancelLogin);
    column->addWidget(m_authenticating);
    m_export = sidebarButton(Symbol::share, QStringLiteral("Export API key..."), content);
    m_export->setObjectName(QStringLiteral("exportButton"));
    column->addWidget(m_export);
    m_forget = sidebarButton(Symbol::signOut, QStringLiteral("Forget API key"), content);
    m_forget->setObjectName(QStringLiteral("forgetButton"));
    column->addWidget(m_forget);

    // Bot files
    column->addWidget(sectionTitle(QStringLiteral("Bot Files"), content));
    m_scriptRow->setObjectName(QStringLiteral("scriptRow"));
    m_tokenRow->setObjectName(QStringLiteral("tokenRow"));
    column->addWidget(m_scriptRow);
    column->addWidget(m_tokenRow);
    column->addStretch(1);

    auto *scroll = new QScrollArea(this);
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);

    connect(m_timelines, &QListWidget::itemClicked, state, [state](QListWidgetItem *item) {
        if (item->flags() & Qt::ItemIsEnabled)
            state->setSelectedTimeline(TimelineKind(item->data(Qt::UserRole).toInt()));
    });
    connect(m_instance, &QLineEdit::textEdited, state, &AppState::setInstanceInput);
    connect(m_instance, &QLineEdit::returnPressed, state, &AppState::applyInstance);
    connect(m_apply, &QPushButton::clicked, state, &AppState::applyInstance);
    connect(m_login, &QPushButton::clicked, state, &AppState::beginSafariLogin);
    connect(m_cancelLogin, &QPushButton::clicked, state, &AppState::cancelSafariLogin);
    connect(m_export, &QPushButton::clicked, state, &AppState::exportAPIKey);
    connect(m_forget, &QPushButton::clicked, state, &AppState::forgetCredential);
    connect(m_scriptRow->chooseButton(), &QToolButton::clicked, state, &AppState::chooseScript);
    connect(m_scriptRow->clearButton(), &QToolButton::clicked, state, &AppState::clearScript);
    connect(m_tokenRow->chooseButton(), &QToolButton::clicked, state, &AppState::chooseTokenFile);
    connect(m_tokenRow->clearButton(), &QToolButton::clicked, state, &AppState::detachTokenFile);

    connect(state, &AppState::currentUserChanged, this, [this] { refreshAvatar(); });
    for (auto signal : {&AppState::instanceInputChanged, &AppState::tokenChanged, &AppState::credentialSourceChanged,
                        &AppState::currentUserChanged, &AppState::selectedTimelineChanged, &AppState::scriptURLChanged,
                        &AppState::tokenFileURLChanged, &AppState::isAuthenticatingChanged, &AppState::hasAPIKeyChanged})
        connect(state, signal, this, [this] { refreshState(); });
    refreshAvatar();
    refreshState();
}

void SidebarView::refreshAvatar()
{
    delete m_avatarLoader;
    m_avatarLoader = nullptr;
    m_avatar->setPixmap(symbolIcon(Symbol::person).pixmap(36, 36));
    const auto &user = m_state->currentUser();
    if (!user || !user->avatarURLString)
        return;
    m_avatarLoader = new RemoteImageLoader(QUrl(*user->avatarURLString), this);
    connect(m_avatarLoader, &RemoteImageLoader::loaded, this,
            [this] { m_avatar->setPixmap(roundAvatar(m_avatarLoader->image(), 36)); });
}

void SidebarView::refreshState()
{
    if (m_instance->text() != m_state->instanceInput())
        m_instance->setText(m_state->instanceInput());

    const auto &user = m_state->currentUser();
    m_avatar->parentWidget()->setVisible(user.has_value());
    if (user) {
        m_name->setText(user->displayName());
        m_handle->setText(user->handle());
    }
    const bool hasKey = m_state->hasAPIKey();
    m_credentialIcon->setPixmap(symbolIcon(hasKey ? Symbol::keyFilled : Symbol::keySlash).pixmap(16, 16));
    if (!hasKey)
        m_credential->setText(QStringLiteral("No API key"));
    else if (m_state->credentialSource().kind() == CredentialSource::Kind::keychain)
        m_credential->setText(QStringLiteral("Safari login"));
    else if (m_state->credentialSource().kind() == CredentialSource::Kind::textFile)
        m_credential->setText(fileName(m_state->credentialSource().fileURL()));
    else
        m_credential->setText(fileName(m_state->tokenFileURL()));

    for (int row = 0; row < m_timelines->count(); ++row) {
        QListWidgetItem *item = m_timelines->item(row);
        const bool selected = TimelineKind(item->data(Qt::UserRole).toInt()) == m_state->selectedTimeline();
        item->setFlags(hasKey ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags);
        item->setSelected(selected);
        QFont font = item->font();
        font.setBold(selected);
        item->setFont(font);
        if (selected)
            m_timelines->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    }

    const bool authenticating = m_state->isAuthenticating();
    m_login->setVisible(!authenticating);
    m_authenticating->setVisible(authenticating);

    m_scriptRow->setFileName(fileName(m_state->scriptURL()));
    m_scriptRow->clearButton()->setEnabled(m_state->scriptURL().has_value());
    m_tokenRow->setFileName(fileName(m_state->tokenFileURL()));
    m_tokenRow->clearButton()->setEnabled(m_state->tokenFileURL().has_value());
}

} // namespace quill
