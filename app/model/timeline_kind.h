#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace quill {

/// Which timeline is shown, in sidebar order.
enum class TimelineKind {
    home,
    local,
    social, ///< Misskey's hybrid timeline.
    global,
};

/// Every timeline kind in sidebar order.
inline constexpr std::array<TimelineKind, 4> allTimelineKinds = {
    TimelineKind::home, TimelineKind::local, TimelineKind::social, TimelineKind::global};

/// The identity text of the kind ("home", "local", "social", "global").
QString rawValue(TimelineKind kind);
/// Exact, case-sensitive inverse of rawValue; "Home" is not a kind.
std::optional<TimelineKind> timelineKindFromRawValue(QStringView text);

/// Label shown in the sidebar.
QString title(TimelineKind kind);
/// REST endpoint that loads the timeline.
QString endpoint(TimelineKind kind);
/// Streaming channel that delivers its new notes.
QString streamChannel(TimelineKind kind);

} // namespace quill
