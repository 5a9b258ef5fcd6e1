#include "ui/timeline_model.h"

#include "ui/remote_image.h"
#include "ui/shown_note.h"

#include <QUrl>
#include <vector>

namespace quill {

struct TimelineModel::RowImages {
    std::unique_ptr<RemoteImageLoader> avatar;
    std::vector<std::unique_ptr<RemoteImageLoader>> previews;
};

TimelineModel::TimelineModel(QObject *parent) : QAbstractListModel(parent) {}

TimelineModel::~TimelineModel() = default;

int TimelineModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_notes.size());
}

QVariant TimelineModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_notes.size())
        return {};
    const MisskeyNote &note = m_notes.at(index.row());
    switch (role) {
    case NoteIDRole:
        return note.id;
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return shownNote(note).text;
    default:
        return {};
    }
}

void TimelineModel::setNotes(const QList<MisskeyNote> &notes)
{
    QHash<QString, qsizetype> newPositions;
    newPositions.reserve(notes.size());
    for (qsizetype i = 0; i < notes.size(); ++i)
        newPositions.insert(notes.at(i).id, i);

    // 1. Remove rows that are gone, and rows whose order no longer fits (a note moved to the top
    //    leaves here and comes back as an insertion). Walk from the end so row numbers hold.
    std::vector<bool> keep(size_t(m_notes.size()), false);
    qsizetype lastKept = -1;
    for (qsizetype i = 0; i < m_notes.size(); ++i) {
        const auto found = newPositions.constFind(m_notes.at(i).id);
        if (found != newPositions.cend() && *found > lastKept) {
            keep[size_t(i)] = true;
            lastKept = *found;
        }
    }
    for (qsizetype end = m_notes.size(); end > 0;) {
        if (keep[size_t(end - 1)]) {
            --end;
            continue;
        }
        qsizetype begin = end - 1;
        while (begin > 0 && !keep[size_t(begin - 1)])
            --begin;
        beginRemoveRows({}, int(begin), int(end - 1));
        for (qsizetype i = begin; i < end; ++i) {
            // A note that only moves keeps its revealed state.
            if (!newPositions.contains(m_notes.at(i).id))
                dropRowState(m_notes.at(i).id);
        }
        m_notes.remove(begin, end - begin);
        endRemoveRows();
        end = begin;
    }

    // 2. The kept rows are now in the new order; insert the missing ones and refresh the rest.
    for (qsizetype i = 0; i < notes.size(); ++i) {
        if (i < m_notes.size() && m_notes.at(i).id == notes.at(i).id) {
            if (!(m_notes.at(i) == notes.at(i))) {
                m_notes[i] = notes.at(i);
                const QModelIndex changed = index(int(i));
                Q_EMIT dataChanged(changed, changed);
            }
            continue;
        }
        // Insert up to the next kept row (every kept row appears later in the new list).
        qsizetype runEnd = i + 1;
        while (runEnd < notes.size() && (i >= m_notes.size() || notes.at(runEnd).id != m_notes.at(i).id))
            ++runEnd;
        beginInsertRows({}, int(i), int(runEnd - 1));
        for (qsizetype j = i; j < runEnd; ++j)
            m_notes.insert(j, notes.at(j));
        endInsertRows();
        i = runEnd - 1;
    }
}

bool TimelineModel::revealsContentWarning(int row) const
{
    return row >= 0 && row < m_notes.size() && m_revealed.contains(m_notes.at(row).id);
}

void TimelineModel::toggleContentWarning(int row)
{
    if (row < 0 || row >= m_notes.size())
        return;
    const QString &id = m_notes.at(row).id;
    if (!m_revealed.remove(id))
        m_revealed.insert(id);
    Q_EMIT dataChanged(index(row), index(row));
}

TimelineModel::RowImages &TimelineModel::imagesFor(int row) const
{
    const MisskeyNote &note = m_notes.at(row);
    auto &slot = m_images[note.id];
    if (slot)
        return *slot;
    slot = std::make_shared<RowImages>();
    const ShownNote shown = shownNote(note);
    auto *self = const_cast<TimelineModel *>(this);
    const QString id = note.id;
    auto watch = [self, id](RemoteImageLoader *loader) {
        QObject::connect(loader, &RemoteImageLoader::loaded, self, [self, id] { self->emitRowChanged(id); });
    };
    slot->avatar = std::make_unique<RemoteImageLoader>(QUrl(shown.author.avatarURLString.value_or(QString())));
    watch(slot->avatar.get());
    for (const MisskeyFile &file : shown.files) {
        slot->previews.push_back(std::make_unique<RemoteImageLoader>(file.previewURL().value_or(QUrl())));
        watch(slot->previews.back().get());
    }
    return *slot;
}

QImage TimelineModel::avatar(int row) const
{
    if (row < 0 || row >= m_notes.size())
        return {};
    return imagesFor(row).avatar->image();
}

QImage TimelineModel::preview(int row, int file) const
{
    if (row < 0 || row >= m_notes.size())
        return {};
    const RowImages &images = imagesFor(row);
    if (file < 0 || size_t(file) >= images.previews.size())
        return {};
    return images.previews[size_t(file)]->image();
}

int TimelineModel::imageLoaderCount() const
{
    int count = 0;
    for (const auto &images : m_images) {
        count += images->avatar && images->avatar->isLoading();
        for (const auto &loader : images->previews)
            count += loader->isLoading();
    }
    return count;
}

void TimelineModel::dropRowState(const QString &noteID)
{
    m_revealed.remove(noteID);
    // Destroying the loaders cancels their downloads.
    m_images.remove(noteID);
}

void TimelineModel::emitRowChanged(const QString &noteID)
{
    for (qsizetype i = 0; i < m_notes.size(); ++i) {
        if (m_notes.at(i).id == noteID) {
            Q_EMIT dataChanged(index(int(i)), index(int(i)));
            return;
        }
    }
}

} // namespace quill
