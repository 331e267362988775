#include "model/wheel/WheelContent.h"

#include <QJsonArray>

namespace qv {

WheelContent WheelContent::build(WheelKind kind, const QList<WheelEntry>& entries,
                                 const std::optional<QString>& message)
{
    WheelContent content;
    content.kind = kind;
    if (entries.isEmpty()) {
        content.message = message;
        return content;
    }
    if (entries.size() <= maxSegments) {
        for (const WheelEntry& entry : entries)
            content.segments.append(WheelSegmentModel::forEntry(entry));
        return content;
    }
    for (int i = 0; i < maxSegments - 1; ++i)
        content.segments.append(WheelSegmentModel::forEntry(entries[i]));
    content.segments.append(WheelSegmentModel::more());
    const int end = std::min<int>(entries.size(), maxSegments - 1 + maxOverflow);
    for (int i = maxSegments - 1; i < end; ++i)
        content.overflow.append(WheelSegmentModel::forEntry(entries[i]));
    return content;
}

namespace {

QJsonArray segmentsJson(const QList<WheelSegmentModel>& segments)
{
    QJsonArray array;
    for (const WheelSegmentModel& segment : segments) {
        array.append(QJsonObject{
            {QStringLiteral("id"), segment.id},
            {QStringLiteral("title"), segment.title},
            {QStringLiteral("symbol"), segment.symbol ? QJsonValue(*segment.symbol) : QJsonValue()},
            {QStringLiteral("style"), toString(segment.style)},
        });
    }
    return array;
}

} // namespace

QJsonObject WheelContent::toJson() const
{
    return QJsonObject{
        {QStringLiteral("kind"), toString(kind)},
        {QStringLiteral("segments"), segmentsJson(segments)},
        {QStringLiteral("overflow"), segmentsJson(overflow)},
        {QStringLiteral("message"), message ? QJsonValue(*message) : QJsonValue()},
    };
}

} // namespace qv
