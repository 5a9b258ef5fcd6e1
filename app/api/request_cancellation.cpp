#include "app/api/request_cancellation.h"

namespace quill {

void CancellationNotifier::cancel()
{
    if (!m_cancelled.exchange(true))
        Q_EMIT cancelRequested();
}

} // namespace quill
