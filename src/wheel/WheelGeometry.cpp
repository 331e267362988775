#include "wheel/WheelGeometry.h"

#include "wheel/RingSector.h"

#include <cmath>

namespace qv {

double WheelGeometry::diameterFor(WheelSize size)
{
    switch (size) {
    case WheelSize::small: return 360;
    case WheelSize::medium: return 420;
    case WheelSize::large: return 480;
    }
    return 420;
}

double WheelGeometry::step() const
{
    return segmentCount < 1 ? 2 * M_PI : 2 * M_PI / segmentCount;
}

double WheelGeometry::centerAngle(int index) const
{
    return M_PI / 2 - index * step();
}

double WheelGeometry::startAngle(int index) const
{
    return centerAngle(index) - step() / 2;
}

double WheelGeometry::endAngle(int index) const
{
    return centerAngle(index) + step() / 2;
}

QPainterPath WheelGeometry::segmentPath(int index) const
{
    return RingSector{center,           innerRadius(), outerRadius(), startAngle(index),
                      endAngle(index), gap,           cornerRadius}
        .path();
}

QPointF WheelGeometry::labelCenter(int index) const
{
    const double angle = centerAngle(index);
    return center + labelRadius() * QPointF(std::cos(angle), std::sin(angle));
}

double WheelGeometry::labelWidth() const
{
    const double chord = segmentCount <= 1
        ? 2 * labelRadius()
        : 2 * labelRadius() * std::sin(std::min(step(), M_PI) / 2);
    return std::max(chord - gap - 16, 24.0);
}

WheelHit WheelGeometry::hitTest(const QPointF& point) const
{
    const double dx = point.x() - center.x();
    const double dy = point.y() - center.y();
    const double dist = std::hypot(dx, dy);
    if (dist < innerRadius())
        return WheelHit::atCenter();
    if (dist > outerRadius() + 8 || segmentCount < 1)
        return WheelHit::outside();
    const double alpha = std::atan2(dy, dx);
    double t = std::fmod(M_PI / 2 - alpha + step() / 2, 2 * M_PI);
    if (t < 0)
        t += 2 * M_PI;
    const int index = std::min(static_cast<int>(std::floor(t / step())), segmentCount - 1);
    return WheelHit::onSegment(index);
}

} // namespace qv
