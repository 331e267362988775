#include "wheel/WheelPlacement.h"

#include "platform/desktop/ScreenCoordinates.h"
#include "platform/desktop/ScreenProvider.h"
#include "wheel/MoreRingGeometry.h"

#include <algorithm>
#include <cmath>

namespace qv::WheelPlacement {

double panelHalfSide(double diameter, bool moreOpen)
{
    const double s = diameter / 420;
    if (!moreOpen)
        return diameter / 2 + 48 * s;
    WheelGeometry wheel;
    wheel.diameter = diameter;
    const MoreRingGeometry more{wheel, 0, M_PI / 2};
    return more.outerRadius() + 4 + 12 * s;
}

QPointF clampCenter(QPointF point, double diameter, const ScreenProvider& screens)
{
    const std::optional<ScreenInfo> screen = screenForPoint(point, screens);
    if (!screen)
        return point;
    const double m = diameter / 2 + 48 * (diameter / 420);
    const QRectF v = screen->visibleFrame;
    // The far edge wins on a screen too small for the wheel, as min(max()) gives.
    return {std::min(std::max(point.x(), v.left() + m), v.right() - m),
            std::min(std::max(point.y(), v.top() + m), v.bottom() - m)};
}

QRectF panelRect(QPointF center, double diameter, bool moreOpen, const ScreenProvider& screens)
{
    const double h = panelHalfSide(diameter, moreOpen);
    const double side = 2 * h;
    double x = center.x() - h;
    double y = center.y() - h;
    if (const std::optional<ScreenInfo> screen = screenForPoint(center, screens)) {
        const QRectF f = screen->frame;
        x = std::min(std::max(x, f.left()), f.right() - side);
        y = std::min(std::max(y, f.top()), f.bottom() - side);
    }
    const double left = std::floor(x);
    const double bottom = std::floor(y);
    return QRectF(left, bottom, std::ceil(x + side) - left, std::ceil(y + side) - bottom);
}

QRect toQt(const QRectF& rect, double primaryHeight)
{
    return flipY(rect, primaryHeight).toRect();
}

} // namespace qv::WheelPlacement
