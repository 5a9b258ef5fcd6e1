#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace quill {

/// Visibility of a note being posted, in the order the composer offers them.
enum class NoteVisibility {
    public_, ///< "public"; the trailing underscore only avoids the C++ keyword.
    home,
    followers,
};

/// Every visibility in composer order.
inline constexpr std::array<NoteVisibility, 3> allNoteVisibilities = {
    NoteVisibility::public_, NoteVisibility::home, NoteVisibility::followers};

/// The text Misskey uses for the visibility.
QString rawValue(NoteVisibility visibility);

/// Exact, case-sensitive inverse of rawValue; any other text has no visibility.
std::optional<NoteVisibility> noteVisibilityFromRawValue(QStringView text);

} // namespace quill
