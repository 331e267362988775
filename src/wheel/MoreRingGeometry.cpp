#include "wheel/MoreRingGeometry.h"

#include "wheel/RingSector.h"

#include <cmath>

namespace qv {

double MoreRingGeometry::itemCenterAngle(int index) const
{
    return anchorAngle - (index - (itemCount - 1) / 2.0) * itemWidth;
}

QPainterPath MoreRingGeometry::itemPath(int index) const
{
    const double angle = itemCenterAngle(index);
    return RingSector{wheel.center,          innerRadius(), outerRadius(),   angle - itemWidth / 2,
                      angle + itemWidth / 2, wheel.gap,     itemCornerRadius}
        .path();
}

QPointF MoreRingGeometry::itemLabelCenter(int index) const
{
    const double angle = itemCenterAngle(index);
    return wheel.center +
        (innerRadius() + outerRadius()) / 2 * QPointF(std::cos(angle), std::sin(angle));
}

namespace {

// Borders are inclusive; this keeps a point computed on a border from falling off it.
constexpr double tolerance = 1e-9;

} // namespace

std::optional<int> MoreRingGeometry::hitTest(const QPointF& point) const
{
    const double dx = point.x() - wheel.center.x();
    const double dy = point.y() - wheel.center.y();
    const double dist = std::hypot(dx, dy);
    if (itemCount < 1 || dist < innerRadius() - 4 - tolerance ||
        dist > outerRadius() + 8 + tolerance)
        return std::nullopt;
    const double alpha = std::atan2(dy, dx);
    for (int k = 0; k < itemCount; ++k) {
        double delta = std::fmod(alpha - itemCenterAngle(k), 2 * M_PI);
        if (delta > M_PI)
            delta -= 2 * M_PI;
        else if (delta < -M_PI)
            delta += 2 * M_PI;
        if (std::abs(delta) <= itemWidth / 2 + tolerance)
            return k;
    }
    return std::nullopt;
}

} // namespace qv
