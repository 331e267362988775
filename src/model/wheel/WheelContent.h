#pragma once

#include "model/wheel/WheelSegmentModel.h"

#include <QJsonObject>

namespace qv {

// Everything one wheel shows for one selection.
struct WheelContent {
    static constexpr int maxSegments = 8;
    static constexpr int maxOverflow = 16;

    WheelKind kind = WheelKind::convert;
    QList<WheelSegmentModel> segments; // ring order: 0 at the top, then clockwise
    QList<WheelSegmentModel> overflow; // the More ring; empty unless the last segment is More
    std::optional<QString> message;   // shown instead of segments when there are none

    // Up to eight entries fill the ring; with more, segment 7 is More and the eighth to the
    // 23rd entries go to the More ring. The message stays only when there is no entry.
    static WheelContent build(WheelKind kind, const QList<WheelEntry>& entries,
                              const std::optional<QString>& message);

    // Segments and overflow with id, title, symbol and style, the kind and the message.
    QJsonObject toJson() const;
};

} // namespace qv
