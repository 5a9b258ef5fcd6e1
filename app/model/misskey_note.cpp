#include "app/model/misskey_note.h"

#include "app/model/internet_date.h"

namespace quill {

bool MisskeyNote::isPureRenote() const
{
    return renote && !text && !cw && !replyID && !hasPoll && (!files || files->isEmpty());
}

std::optional<QDateTime> MisskeyNote::createdDate() const
{
    // A quote was written when it was posted, not when the note it quotes was.
    return parseInternetDate(isPureRenote() ? renote->createdAt : createdAt);
}

} // namespace quill
