#pragma once

#include <QRect>
#include <QStyledItemDelegate>
#include <QVector>

namespace quill {

class TimelineModel;
struct ShownNote;

/**
 * @brief Paints one note row and turns clicks on its parts into signals.
 *
 * A row is drawn, not built from widgets, so a long timeline scrolls smoothly and a streamed note
 * costs one row. The same layout function serves painting, size hints and hit tests.
 */
class NoteDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    /// The clickable parts of a row.
    enum class Part { none, revealContentWarning, attachment, reply, renote, react, more };

    /// Where everything of one row goes, in item coordinates (already offset by the row's rect).
    struct Layout {
        QRect row;
        QRect renotedBy;
        QRect avatar;
        QRect header;
        QRect contentWarning;
        QRect revealButton;
        QRect text;
        QVector<QRect> attachments;
        QVector<QRect> reactions;
        QRect reply, renote, react, more;
    };

    explicit NoteDelegate(TimelineModel *model, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    Layout layout(const QStyleOptionViewItem &option, int row) const;
    /// The part under `point` (item coordinates) and, for an attachment, its index.
    std::pair<Part, int> partAt(const QStyleOptionViewItem &option, int row, const QPoint &point) const;

Q_SIGNALS:
    /// A part of row `row` was clicked; `globalPosition` places a menu under the pointer.
    void partClicked(int row, quill::NoteDelegate::Part part, int attachment, const QPoint &globalPosition);

private:
    Layout layoutFor(const QStyleOptionViewItem &option, const ShownNote &shown, bool revealed) const;

    TimelineModel *m_model;
};

} // namespace quill
