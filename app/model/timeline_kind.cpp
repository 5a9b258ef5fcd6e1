#include "app/model/timeline_kind.h"

namespace quill {

namespace {

struct TimelineKindInfo {
    TimelineKind kind;
    const char *rawValue;
    const char *title;
    const char *endpoint;
    const char *streamChannel;
};

// The one place that ties a timeline kind to its texts.
constexpr std::array<TimelineKindInfo, 4> timelineKindTable = {{
    {TimelineKind::home, "home", "Home", "notes/timeline", "homeTimeline"},
    {TimelineKind::local, "local", "Local", "notes/local-timeline", "localTimeline"},
    {TimelineKind::social, "social", "Social", "notes/hybrid-timeline", "hybridTimeline"},
    {TimelineKind::global, "global", "Global", "notes/global-timeline", "globalTimeline"},
}};

const TimelineKindInfo &info(TimelineKind kind)
{
    for (const TimelineKindInfo &entry : timelineKindTable) {
        if (entry.kind == kind)
            return entry;
    }
    return timelineKindTable.front();
}

} // namespace

QString rawValue(TimelineKind kind)
{
    return QString::fromLatin1(info(kind).rawValue);
}

std::optional<TimelineKind> timelineKindFromRawValue(QStringView text)
{
    for (const TimelineKindInfo &entry : timelineKindTable) {
        if (text == QLatin1String(entry.rawValue))
            return entry.kind;
    }
    return std::nullopt;
}

QString title(TimelineKind kind)
{
    return QString::fromLatin1(info(kind).title);
}

QString endpoint(TimelineKind kind)
{
    return QString::fromLatin1(info(kind).endpoint);
}

QString streamChannel(TimelineKind kind)
{
    return QString::fromLatin1(info(kind).streamChannel);
}

} // namespace quill
