#include "ui/common_widgets.h"

#include <QEvent>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>

namespace quill {

EmptyStateView::EmptyStateView(const QString &title, Symbol systemImage, const QString &detail, QWidget *parent)
    : QWidget(parent), m_symbol(systemImage), m_icon(new QLabel(this)), m_title(new QLabel(title, this)),
      m_detail(new QLabel(detail, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->addStretch(1);
    for (QLabel *label : {m_icon, m_title, m_detail}) {
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
    }
    layout->addStretch(1);
    QFont titleFont = m_title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    m_title->setObjectName(QStringLiteral("emptyTitle"));
    m_detail->setObjectName(QStringLiteral("emptyDetail"));
    m_detail->setForegroundRole(QPalette::PlaceholderText);
    updateIcon();
}

void EmptyStateView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        updateIcon();
    QWidget::changeEvent(event);
}

void EmptyStateView::updateIcon()
{
    m_icon->setPixmap(symbolIcon(m_symbol, palette()).pixmap(48, 48));
}

LockedClientView::LockedClientView(QWidget *parent)
    : EmptyStateView(QStringLiteral("API key required"), Symbol::keySlash, QStringLiteral("Client locked"), parent)
{
    setObjectName(QStringLiteral("lockedClientView"));
}

StatusDot::StatusDot(QWidget *parent) : QWidget(parent)
{
    setFixedSize(12, 12);
}

void StatusDot::setColor(const QColor &color)
{
    m_color = color;
    update();
}

void StatusDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
}

QToolButton *makeSymbolButton(Symbol symbol, const QString &toolTip, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setIcon(symbolIcon(symbol));
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    button->setAutoRaise(true);
    button->setIconSize({16, 16});
    return button;
}

QToolButton *makeTextButton(Symbol symbol, const QString &text, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setIcon(symbolIcon(symbol));
    button->setText(text);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setIconSize({16, 16});
    return button;
}

QWidget *makeBusyIndicator(QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(60, 8);
    return bar;
}

} // namespace quill
