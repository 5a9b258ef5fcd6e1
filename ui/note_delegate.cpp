#include "ui/note_delegate.h"

#include "ui/relative_time.h"
#include "ui/shown_note.h"
#include "ui/symbols.h"
#include "ui/timeline_model.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

namespace quill {

namespace {

constexpr int padding = 12;
constexpr int avatarSize = 40;
constexpr int gap = 6;
constexpr int previewSize = 96;
constexpr int actionHeight = 24;
constexpr int revealSize = 22;

QFont boldFont(const QFont &font)
{
    QFont bold = font;
    bold.setBold(true);
    return bold;
}

QFont smallFont(const QFont &font)
{
    QFont small = font;
    small.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() * 0.9 : 9);
    return small;
}

QString chipText(const QPair<QString, qint64> &reaction)
{
    return QStringLiteral("%1 %2").arg(reaction.first).arg(reaction.second);
}

const char *const actionTitles[] = {"Reply", "Renote", "React", ""};

QColor secondaryText(const QPalette &palette)
{
    QColor color = palette.color(QPalette::Text);
    color.setAlphaF(0.6f);
    return color;
}

} // namespace

NoteDelegate::NoteDelegate(TimelineModel *model, QObject *parent) : QStyledItemDelegate(parent), m_model(model) {}

NoteDelegate::Layout NoteDelegate::layoutFor(const QStyleOptionViewItem &option, const ShownNote &shown,
                                             bool revealed) const
{
    Layout layout;
    const QRect bounds = option.rect;
    const QFontMetrics metrics(option.font);
    const QFontMetrics small(smallFont(option.font));
    const int left = bounds.left() + padding;
    int y = bounds.top() + padding;

    if (shown.renotedBy) {
        layout.renotedBy = QRect(left + avatarSize + gap + gap, y, bounds.width(), small.height());
        y += small.height() + 4;
    }
    layout.avatar = QRect(left, y, avatarSize, avatarSize);
    const int contentLeft = left + avatarSize + padding;
    const int contentWidth = std::max(80, bounds.right() - padding - contentLeft);

    layout.header = QRect(contentLeft, y, contentWidth, metrics.height());
    y += metrics.height() + 4;

    if (shown.contentWarning) {
        const QRect cwText = metrics.boundingRect(QRect(0, 0, contentWidth - revealSize - gap, 100000),
                                                  Qt::TextWordWrap, *shown.contentWarning);
        const int height = std::max(revealSize, cwText.height());
        layout.contentWarning = QRect(contentLeft, y, contentWidth - revealSize - gap, height);
        layout.revealButton = QRect(contentLeft + contentWidth - revealSize, y, revealSize, revealSize);
        y += height + 4;
    }
    if (!shown.contentWarning || revealed) {
        const QRect textRect = metrics.boundingRect(QRect(0, 0, contentWidth, 100000),
                                                    Qt::TextWordWrap, shown.text);
        layout.text = QRect(contentLeft, y, contentWidth, textRect.height());
        y += textRect.height() + gap;

        int x = contentLeft;
        int rowBottom = y;
        for (qsizetype i = 0; i < shown.files.size(); ++i) {
            if (x > contentLeft && x + previewSize > contentLeft + contentWidth) {
                x = contentLeft;
                y += previewSize + gap;
            }
            layout.attachments.append(QRect(x, y, previewSize, previewSize));
            rowBottom = y + previewSize + gap;
            x += previewSize + gap;
        }
        y = rowBottom;
    }

    if (!shown.reactions.isEmpty()) {
        int x = contentLeft;
        const int chipHeight = metrics.height() + 6;
        for (const auto &reaction : shown.reactions) {
            const int width = metrics.horizontalAdvance(chipText(reaction)) + 16;
            if (x > contentLeft && x + width > contentLeft + contentWidth) {
                x = contentLeft;
                y += chipHeight + 4;
            }
            layout.reactions.append(QRect(x, y, width, chipHeight));
            x += width + 4;
        }
        y += chipHeight + gap;
    }

    int x = contentLeft - 4;
    QRect *actions[] = {&layout.reply, &layout.renote, &layout.react, &layout.more};
    for (int i = 0; i < 4; ++i) {
        const QString title = QString::fromLatin1(actionTitles[i]);
        const int width = 16 + 12 + (title.isEmpty() ? 0 : small.horizontalAdvance(title) + 6);
        *actions[i] = QRect(x, y, width, actionHeight);
        x += width + 10;
    }
    y += actionHeight + padding - 4;

    layout.row = QRect(bounds.left(), bounds.top(), bounds.width(), y - bounds.top());
    return layout;
}

NoteDelegate::Layout NoteDelegate::layout(const QStyleOptionViewItem &option, int row) const
{
    return layoutFor(option, shownNote(m_model->noteAt(row)), m_model->revealsContentWarning(row));
}

QSize NoteDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (!index.isValid() || index.row() >= m_model->rowCount())
        return {};
    QStyleOptionViewItem placed = option;
    placed.rect = QRect(0, 0, std::max(option.rect.width(), 300), 0);
    if (const auto *view = qobject_cast<const QAbstractItemView *>(option.widget))
        placed.rect.setWidth(view->viewport()->width());
    return layout(placed, index.row()).row.size();
}

void NoteDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (!index.isValid() || index.row() >= m_model->rowCount())
        return;
    const int row = index.row();
    const ShownNote shown = shownNote(m_model->noteAt(row));
    const bool revealed = m_model->revealsContentWarning(row);
    const Layout parts = layoutFor(option, shown, revealed);
    const QPalette &palette = option.palette;
    const QFont small = smallFont(option.font);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    if (option.state & QStyle::State_MouseOver) {
        QColor hover = palette.color(QPalette::Highlight);
        hover.setAlphaF(0.06f);
        painter->fillRect(option.rect, hover);
    }

    if (shown.renotedBy) {
        painter->setFont(small);
        painter->setPen(secondaryText(palette));
        const QRect iconRect(parts.renotedBy.left() - 18, parts.renotedBy.top(), 14, 14);
        symbolIcon(Symbol::renote, palette).paint(painter, iconRect);
        painter->drawText(parts.renotedBy, Qt::AlignLeft | Qt::AlignVCenter,
                          QStringLiteral("Renoted by ") + *shown.renotedBy);
    }

    // Avatar: the image clipped to a circle, or the person symbol.
    const QImage avatar = m_model->avatar(row);
    if (!avatar.isNull()) {
        QPainterPath circle;
        circle.addEllipse(QRectF(parts.avatar));
        painter->save();
        painter->setClipPath(circle);
        painter->drawImage(parts.avatar, avatar);
        painter->restore();
    } else {
        QColor disc = palette.color(QPalette::Mid);
        disc.setAlphaF(0.35f);
        painter->setPen(Qt::NoPen);
        painter->setBrush(disc);
        painter->drawEllipse(parts.avatar);
        symbolIcon(Symbol::person, palette).paint(painter, parts.avatar.adjusted(9, 9, -9, -9));
    }

    // Header: display name, handle, bot mark, relative time on the right.
    const QString time = shown.createdDate ? relativeTimeText(*shown.createdDate) : QString();
    const QFontMetrics smallMetrics(small);
    const int timeWidth = smallMetrics.horizontalAdvance(time);
    QRect header = parts.header;
    painter->setPen(secondaryText(palette));
    painter->setFont(small);
    painter->drawText(header, Qt::AlignRight | Qt::AlignVCenter, time);
    header.setRight(header.right() - timeWidth - gap);

    const QFont bold = boldFont(option.font);
    painter->setFont(bold);
    painter->setPen(palette.color(QPalette::Text));
    const QString name = QFontMetrics(bold).elidedText(shown.author.displayName(), Qt::ElideRight, header.width() / 2);
    painter->drawText(header, Qt::AlignLeft | Qt::AlignVCenter, name);
    int x = header.left() + QFontMetrics(bold).horizontalAdvance(name) + gap;
    if (shown.author.isBot.value_or(false)) {
        const QString mark = QStringLiteral("BOT");
        const QRect badge(x, header.top() + 2, smallMetrics.horizontalAdvance(mark) + 8, header.height() - 4);
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette.color(QPalette::Highlight));
        painter->drawRoundedRect(badge, 3, 3);
        painter->setPen(palette.color(QPalette::HighlightedText));
        painter->setFont(small);
        painter->drawText(badge, Qt::AlignCenter, mark);
        x = badge.right() + gap;
    }
    painter->setFont(option.font);
    painter->setPen(secondaryText(palette));
    const QRect handleRect(x, header.top(), std::max(0, header.right() - x), header.height());
    painter->drawText(handleRect, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(option.font).elidedText(shown.author.handle(), Qt::ElideRight, handleRect.width()));

    if (shown.contentWarning) {
        QFont italic = option.font;
        italic.setItalic(true);
        painter->setFont(italic);
        painter->setPen(palette.color(QPalette::Text));
        painter->drawText(parts.contentWarning, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, *shown.contentWarning);
        QColor button = palette.color(revealed ? QPalette::Highlight : QPalette::Mid);
        button.setAlphaF(0.25f);
        painter->setPen(Qt::NoPen);
        painter->setBrush(button);
        painter->drawRoundedRect(parts.revealButton, 5, 5);
        symbolIcon(Symbol::eye, palette).paint(painter, parts.revealButton.adjusted(3, 3, -3, -3));
    }

    if (!parts.text.isNull()) {
        painter->setFont(option.font);
        painter->setPen(palette.color(QPalette::Text));
        painter->drawText(parts.text, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, shown.text);
    }

    for (qsizetype i = 0; i < parts.attachments.size(); ++i) {
        const QRect cell = parts.attachments.at(i);
        const QImage image = m_model->preview(row, int(i));
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(cell), 6, 6);
        painter->save();
        painter->setClipPath(rounded);
        if (!image.isNull()) {
            // Fill the square, cropping the longer side.
            const QSize scaled = image.size().scaled(cell.size(), Qt::KeepAspectRatioByExpanding);
            const QRect target(cell.center() - QPoint(scaled.width() / 2, scaled.height() / 2), scaled);
            painter->drawImage(target, image);
        } else {
            QColor fill = palette.color(QPalette::Mid);
            fill.setAlphaF(0.25f);
            painter->fillRect(cell, fill);
            symbolIcon(Symbol::photo, palette).paint(painter, cell.adjusted(32, 32, -32, -32));
        }
        painter->restore();
    }

    const QString mine = shown.myReaction.value_or(QString());
    for (qsizetype i = 0; i < parts.reactions.size(); ++i) {
        const QRect chip = parts.reactions.at(i);
        const bool isMine = shown.reactions.at(i).first == mine;
        QColor fill = palette.color(isMine ? QPalette::Highlight : QPalette::Mid);
        fill.setAlphaF(isMine ? 0.3f : 0.18f);
        painter->setPen(isMine ? QPen(palette.color(QPalette::Highlight), 1) : QPen(Qt::NoPen));
        painter->setBrush(fill);
        painter->drawRoundedRect(QRectF(chip).adjusted(0.5, 0.5, -0.5, -0.5), chip.height() / 2.0, chip.height() / 2.0);
        painter->setPen(palette.color(QPalette::Text));
        painter->setFont(option.font);
        painter->drawText(chip, Qt::AlignCenter, chipText(shown.reactions.at(i)));
    }

    const QRect actions[] = {parts.reply, parts.renote, parts.react, parts.more};
    const Symbol symbols[] = {Symbol::reply, Symbol::renote, Symbol::react, Symbol::ellipsis};
    painter->setFont(small);
    painter->setPen(secondaryText(palette));
    for (int i = 0; i < 4; ++i) {
        const QRect iconRect(actions[i].left() + 6, actions[i].center().y() - 8, 16, 16);
        symbolIcon(symbols[i], palette).paint(painter, iconRect);
        const QString title = QString::fromLatin1(actionTitles[i]);
        if (!title.isEmpty())
            painter->drawText(actions[i].adjusted(28, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, title);
    }

    QColor line = palette.color(QPalette::Mid);
    line.setAlphaF(0.35f);
    painter->setPen(line);
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->restore();
}

std::pair<NoteDelegate::Part, int> NoteDelegate::partAt(const QStyleOptionViewItem &option, int row,
                                                         const QPoint &point) const
{
    const Layout parts = layout(option, row);
    if (parts.revealButton.contains(point))
        return {Part::revealContentWarning, -1};
    for (qsizetype i = 0; i < parts.attachments.size(); ++i) {
        if (parts.attachments.at(i).contains(point))
            return {Part::attachment, int(i)};
    }
    if (parts.reply.contains(point))
        return {Part::reply, -1};
    if (parts.renote.contains(point))
        return {Part::renote, -1};
    if (parts.react.contains(point))
        return {Part::react, -1};
    if (parts.more.contains(point))
        return {Part::more, -1};
    return {Part::none, -1};
}

bool NoteDelegate::editorEvent(QEvent *event, QAbstractItemModel *, const QStyleOptionViewItem &option,
                               const QModelIndex &index)
{
    if (event->type() != QEvent::MouseButtonRelease || !index.isValid() || index.row() >= m_model->rowCount())
        return false;
    auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    const auto [part, attachment] = partAt(option, index.row(), mouse->position().toPoint());
    if (part == Part::none)
        return false;
    Q_EMIT partClicked(index.row(), part, attachment, mouse->globalPosition().toPoint());
    return true;
}

bool NoteDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                             const QModelIndex &index)
{
    if (event && index.isValid() && index.row() < m_model->rowCount()) {
        const auto [part, attachment] = partAt(option, index.row(), event->pos());
        QString tip;
        switch (part) {
        case Part::revealContentWarning: tip = QStringLiteral("Show or hide the content"); break;
        case Part::attachment: tip = QStringLiteral("Open attachment"); break;
        case Part::reply: tip = QStringLiteral("Reply"); break;
        case Part::renote: tip = QStringLiteral("Renote"); break;
        case Part::react: tip = QStringLiteral("React"); break;
        case Part::more: tip = QStringLiteral("More"); break;
        case Part::none: break;
        }
        if (!tip.isEmpty()) {
            QToolTip::showText(event->globalPos(), tip, view);
            return true;
        }
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

} // namespace quill
