#include "app/model/misskey_note.h"

#include "app/model/internet_date.h"

namespace quill {

std::optional<QDateTime> MisskeyNote::createdDate() const
{
    return parseInternetDate(renote ? renote->createdAt : createdAt);
}

} // namespace quill
