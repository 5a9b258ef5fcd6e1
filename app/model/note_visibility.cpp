#include "app/model/note_visibility.h"

namespace quill {

QString rawValue(NoteVisibility visibility)
{
    switch (visibility) {
    case NoteVisibility::public_:
        return QStringLiteral("public");
    case NoteVisibility::home:
        return QStringLiteral("home");
    case NoteVisibility::followers:
        return QStringLiteral("followers");
    }
    return QString();
}

std::optional<NoteVisibility> noteVisibilityFromRawValue(QStringView text)
{
    for (NoteVisibility visibility : allNoteVisibilities) {
        if (text == rawValue(visibility))
            return visibility;
    }
    return std::nullopt;
}

} // namespace quill
