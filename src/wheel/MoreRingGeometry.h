#pragma once

#include "wheel/WheelGeometry.h"

#include <optional>

namespace qv {

// The arc of overflow items outside the main ring, centred on the More segment's direction.
// Item 0 is at the counter-clockwise end; indices grow clockwise.
struct MoreRingGeometry {
    static constexpr double itemWidth = M_PI / 8;
    static constexpr double itemCornerRadius = 14;

    WheelGeometry wheel;
    int itemCount = 0;
    double anchorAngle = M_PI / 2;

    bool operator==(const MoreRingGeometry&) const = default;

    double innerRadius() const { return wheel.outerRadius() + 10; }
    double outerRadius() const { return innerRadius() + wheel.diameter * 0.17; }
    double itemCenterAngle(int index) const;

    QPainterPath itemPath(int index) const;
    QPointF itemLabelCenter(int index) const;
    // From 4 points inside to 8 points outside the ring; the lower index wins a shared border.
    std::optional<int> hitTest(const QPointF& point) const;
};

} // namespace qv
