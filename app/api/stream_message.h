#pragma once

#include "app/api/misskey_api_error.h"
#include "app/common/result.h"
#include "app/model/misskey_note.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace quill {

/// The ids under which one streaming connection subscribed its two channels.
struct StreamSubscription {
    QString timelineChannel; ///< "homeTimeline", "localTimeline", "hybridTimeline" or "globalTimeline"
    QString timelineID;
    QString mainID; ///< the account's own "main" channel
};

/// What one received streaming message asks of the client.
struct StreamDelivery {
    enum class Kind {
        nothing, ///< not a channel message, or nothing the application shows
        note,    ///< a new note for the timeline
        event,   ///< an event type to report ("notification", "mention", ...)
    };

    Kind kind = Kind::nothing;
    std::optional<MisskeyNote> note;
    QString event;
};

/// The "connect" request for one channel, as compact JSON text.
QByteArray connectRequest(const QString &channel, const QString &id);

/**
 * @brief Interprets one received message (the bytes of a text or binary frame).
 *
 * Text that is not JSON, or a note that does not decode, is `invalidResponse`: the connection
 * cannot be trusted any more. On the main channel only "notification", "mention" and "reply" are
 * events; everything else there is account bookkeeping and is ignored.
 */
Result<StreamDelivery, MisskeyAPIError> interpretStreamMessage(const QByteArray &bytes,
                                                               const StreamSubscription &subscription);

} // namespace quill
