#include "wheel/RingSector.h"

#include <QtMath>

#include <cmath>

namespace qv {

namespace {

QPointF unit(double angle)
{
    return {std::cos(angle), std::sin(angle)};
}

double angleOf(const QPointF& from, const QPointF& to)
{
    return std::atan2(to.y() - from.y(), to.x() - from.x());
}

// The short way round; corner arcs turn less than half a circle.
double shortSweep(double from, double to)
{
    double sweep = std::fmod(to - from, 2 * M_PI);
    if (sweep > M_PI)
        sweep -= 2 * M_PI;
    else if (sweep <= -M_PI)
        sweep += 2 * M_PI;
    return sweep;
}

// Adds an arc in y-up coordinates; Qt's arcs turn the other way round in its y-down space.
void arc(QPainterPath& path, const QPointF& center, double radius, double start, double sweep)
{
    const QRectF box(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    path.arcTo(box, -qRadiansToDegrees(start), -qRadiansToDegrees(sweep));
}

} // namespace

double RingSector::cornerRadius() const
{
    const double h = gap / 2;
    const double ri = innerRadius;
    double r = std::min(wantedCornerRadius, (outerRadius - innerRadius) / 2 - 0.5);
    while (r > 1) {
        const double ratio = (h + r) / (ri + r);
        if (ratio < 1 && 2 * std::asin(ratio) < 0.92 * (endAngle - startAngle))
            break;
        r -= 1;
    }
    return std::max(r, 0.5);
}

QPainterPath RingSector::path() const
{
    QPainterPath path;
    const double ri = innerRadius;
    const double ro = outerRadius;
    const double a0 = startAngle;
    const double a1 = endAngle;
    if (ro - ri <= 2 || !(a0 < a1))
        return path;

    const double h = gap / 2;
    const double r = cornerRadius();
    const double outerR = ro - r;
    const double phiO = std::asin(std::min((h + r) / outerR, 0.999));
    const double innerR = ri + r;
    const double phiI = std::asin(std::min((h + r) / innerR, 0.999));

    const QPointF c = center;
    const QPointF c1 = c + outerR * unit(a0 + phiO);
    const QPointF c2 = c + outerR * unit(a1 - phiO);
    const QPointF c3 = c + innerR * unit(a1 - phiI);
    const QPointF c4 = c + innerR * unit(a0 + phiI);

    const auto startEdge = [&](double radius, double phi) {
        return c + radius * std::cos(phi) * unit(a0) + h * QPointF(-std::sin(a0), std::cos(a0));
    };
    const auto endEdge = [&](double radius, double phi) {
        return c + radius * std::cos(phi) * unit(a1) + h * QPointF(std::sin(a1), -std::cos(a1));
    };
    const auto cornerArc = [&](const QPointF& corner, const QPointF& from, const QPointF& to) {
        const double start = angleOf(corner, from);
        arc(path, corner, r, start, shortSweep(start, angleOf(corner, to)));
    };

    const QPointF startInner = startEdge(innerR, phiI);
    const QPointF startOuter = startEdge(outerR, phiO);
    const QPointF endOuter = endEdge(outerR, phiO);
    const QPointF endInner = endEdge(innerR, phiI);

    path.moveTo(startInner);
    path.lineTo(startOuter);
    cornerArc(c1, startOuter, c + ro * unit(a0 + phiO));
    arc(path, c, ro, a0 + phiO, (a1 - phiO) - (a0 + phiO));
    cornerArc(c2, c + ro * unit(a1 - phiO), endOuter);
    path.lineTo(endInner);
    cornerArc(c3, endInner, c + ri * unit(a1 - phiI));
    arc(path, c, ri, a1 - phiI, (a0 + phiI) - (a1 - phiI));
    cornerArc(c4, c + ri * unit(a0 + phiI), startInner);
    path.closeSubpath();
    return path;
}

} // namespace qv
