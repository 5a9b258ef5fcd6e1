#include "ui/composer_view.h"

#include "app/state/app_state.h"
#include "ui/common_widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quill {

namespace {

QString visibilityTitle(NoteVisibility visibility)
{
    switch (visibility) {
    case NoteVisibility::public_: return QStringLiteral("Public");
    case NoteVisibility::home: return QStringLiteral("Home");
    case NoteVisibility::followers: return QStringLiteral("Followers");
    }
    return QString();
}

Symbol visibilitySymbol(NoteVisibility visibility)
{
    switch (visibility) {
    case NoteVisibility::public_: return Symbol::globe;
    case NoteVisibility::home: return Symbol::house;
    case NoteVisibility::followers: return Symbol::lock;
    }
    return Symbol::globe;
}

} // namespace

ComposerView::ComposerView(AppState *state, QWidget *parent)
    : QWidget(parent), m_state(state), m_replyBanner(new QFrame(this)), m_replyLabel(new QLabel(m_replyBanner)),
      m_cancelReply(makeSymbolButton(Symbol::cross, QStringLiteral("Cancel reply"), m_replyBanner)),
      m_editor(new QPlainTextEdit(this)), m_count(new QLabel(this)), m_visibility(new QToolButton(this)),
      m_busy(makeBusyIndicator(this)), m_post(new QPushButton(this))
{
    setObjectName(QStringLiteral("composer"));

    m_replyBanner->setObjectName(QStringLiteral("replyBanner"));
    m_replyBanner->setAutoFillBackground(true);
    m_replyBanner->setBackgroundRole(QPalette::AlternateBase);
    auto *banner = new QHBoxLayout(m_replyBanner);
    banner->setContentsMargins(8, 4, 4, 4);
    auto *replyIcon = new QLabel(m_replyBanner);
    replyIcon->setPixmap(symbolIcon(Symbol::reply).pixmap(16, 16));
    banner->addWidget(replyIcon);
    banner->addWidget(m_replyLabel, 1);
    banner->addWidget(m_cancelReply);
    m_cancelReply->setObjectName(QStringLiteral("cancelReplyButton"));

    m_editor->setObjectName(QStringLiteral("composerEditor"));
    m_editor->setPlaceholderText(QStringLiteral("Write a note"));
    m_editor->setTabChangesFocus(true);
    m_editor->setFixedHeight(QFontMetrics(m_editor->font()).lineSpacing() * 4 + 14);

    m_count->setObjectName(QStringLiteral("characterCount"));
    m_count->setForegroundRole(QPalette::PlaceholderText);

    m_visibility->setObjectName(QStringLiteral("visibilityButton"));
    m_visibility->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_visibility->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(m_visibility);
    for (NoteVisibility visibility : allNoteVisibilities) {
        QAction *action = menu->addAction(symbolIcon(visibilitySymbol(visibility)), visibilityTitle(visibility));
        connect(action, &QAction::triggered, state, [state, visibility] { state->setVisibility(visibility); });
    }
    m_visibility->setMenu(menu);

    m_post->setObjectName(QStringLiteral("postButton"));
    m_post->setDefault(true);
    m_post->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));

    auto *controls = new QHBoxLayout;
    controls->addWidget(m_count);
    controls->addStretch(1);
    controls->addWidget(m_visibility);
    controls->addWidget(m_busy);
    controls->addWidget(m_post);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(6);
    layout->addWidget(m_replyBanner);
    layout->addWidget(m_editor);
    layout->addLayout(controls);

    connect(m_editor, &QPlainTextEdit::textChanged, this, [this] {
        if (m_editor->toPlainText() != m_state->composerText())
            m_state->setComposerText(m_editor->toPlainText());
    });
    connect(state, &AppState::composerTextChanged, this, [this] {
        if (m_editor->toPlainText() != m_state->composerText())
            m_editor->setPlainText(m_state->composerText());
        refreshState();
    });
    connect(m_post, &QPushButton::clicked, state, &AppState::post);
    connect(m_cancelReply, &QToolButton::clicked, state, [state] { state->setReplyTarget(std::nullopt); });
    for (auto signal : {&AppState::replyTargetChanged, &AppState::isPostingChanged, &AppState::visibilityChanged})
        connect(state, signal, this, [this] { refreshState(); });

    m_editor->setPlainText(state->composerText());
    refreshState();
}

void ComposerView::refreshState()
{
    const auto &target = m_state->replyTarget();
    m_replyBanner->setVisible(target.has_value());
    if (target) {
        // A pure renote is replied to through its embedded note, so name that note's author.
        const MisskeyUser &author = target->isPureRenote() && target->renote ? target->renote->user : target->user;
        m_replyLabel->setText(QStringLiteral("Replying to ") + author.displayName());
    }
    const QString text = m_state->composerText();
    // Characters as the user counts them: code points, not UTF-16 units.
    m_count->setText(QString::number(text.toUcs4().size()));
    m_visibility->setText(visibilityTitle(m_state->visibility()));
    m_visibility->setIcon(symbolIcon(visibilitySymbol(m_state->visibility())));
    // Room for the menu arrow, which the style draws over the text otherwise.
    m_visibility->setMinimumWidth(m_visibility->sizeHint().width() + 14);
    m_post->setText(target ? QStringLiteral("Reply") : QStringLiteral("Post"));
    m_post->setEnabled(!text.trimmed().isEmpty() && !m_state->isPosting());
    m_busy->setVisible(m_state->isPosting());
}

} // namespace quill
