#pragma once

#include <QPainterPath>
#include <QPointF>

namespace qv {

// A ring sector between two radii and two angles (radians, counter-clockwise, y up), with its
// straight sides moved in by half the gap and its corners rounded.
struct RingSector {
    QPointF center;
    double innerRadius = 0;
    double outerRadius = 0;
    double startAngle = 0;
    double endAngle = 0;
    double gap = 0;
    double wantedCornerRadius = 0;

    // The corner rounding actually used: shrunk in whole points until the two inner corners
    // take less than 92 % of the sweep, never below 0.5.
    double cornerRadius() const;

    // The closed outline; empty when the ring is 2 points wide or less or the sweep is empty.
    QPainterPath path() const;
};

} // namespace qv
