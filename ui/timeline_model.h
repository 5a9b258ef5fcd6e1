#pragma once

#include "app/model/misskey_note.h"

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QSet>
#include <memory>

namespace quill {

class RemoteImageLoader;

/**
 * @brief The timeline's notes as a list model, with the per-row state of the note views.
 *
 * `setNotes` turns a new list into row removals, insertions and changes instead of a reset, so a
 * streamed note inserts one row and the view keeps its scroll position. A row's remote images are
 * started the first time the row is painted and cancelled when the row goes away; a row's content
 * warning starts hidden.
 */
class TimelineModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        NoteIDRole = Qt::UserRole + 1,
    };

    explicit TimelineModel(QObject *parent = nullptr);
    ~TimelineModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    /// Adopts the application's list, newest first.
    void setNotes(const QList<MisskeyNote> &notes);
    const QList<MisskeyNote> &notes() const { return m_notes; }
    const MisskeyNote &noteAt(int row) const { return m_notes.at(row); }

    bool revealsContentWarning(int row) const;
    void toggleContentWarning(int row);

    /// The row's avatar, or a null image (the placeholder is shown). Starts the download once.
    QImage avatar(int row) const;
    /// The row's attachment preview at `file`, or a null image. Starts the download once.
    QImage preview(int row, int file) const;
    /// Downloads currently held for rows (for checking that removed rows cancel theirs).
    int imageLoaderCount() const;

private:
    struct RowImages;
    RowImages &imagesFor(int row) const;
    void dropRowState(const QString &noteID);
    void emitRowChanged(const QString &noteID);

    QList<MisskeyNote> m_notes;
    QSet<QString> m_revealed;
    mutable QHash<QString, std::shared_ptr<RowImages>> m_images;
};

} // namespace quill
