#pragma once

#include "model/settings/SettingsEnums.h"

#include <QPainterPath>
#include <QPointF>

namespace qv {

// What lies under a point of the main ring.
struct WheelHit {
    enum class Kind { segment, center, outside };

    Kind kind = Kind::outside;
    int segment = -1; // for a segment only

    static WheelHit onSegment(int index) { return {Kind::segment, index}; }
    static WheelHit atCenter() { return {Kind::center, -1}; }
    static WheelHit outside() { return {Kind::outside, -1}; }

    bool operator==(const WheelHit&) const = default;
};

template <>
struct EnumText<WheelHit::Kind> {
    static constexpr std::array names{"segment", "center", "outside"};
};

// The main ring: up to eight segments, 0 at the top and clockwise. Angles are radians,
// counter-clockwise from the right, in a space whose y axis points up.
struct WheelGeometry {
    double diameter = 420;
    int segmentCount = 0;
    QPointF center;
    double gap = 6;
    double cornerRadius = 18;

    bool operator==(const WheelGeometry&) const = default;

    // 360, 420 or 480.
    static double diameterFor(WheelSize size);

    // Type, margins and decorations scale with the diameter; the medium wheel is 1.
    double scale() const { return diameter / 420; }

    double innerRadius() const { return diameter * 0.21 + 10; }
    double outerRadius() const { return diameter * 0.5 - 12; }
    double labelRadius() const { return (innerRadius() + outerRadius()) / 2; }
    double step() const;
    double centerAngle(int index) const;
    double startAngle(int index) const;
    double endAngle(int index) const;

    // Empty when the segment cannot be drawn.
    QPainterPath segmentPath(int index) const;
    QPointF labelCenter(int index) const;
    // The width a title may take, at least 24.
    double labelWidth() const;

    // The ring catches the pointer up to 8 points beyond its edge; the gaps belong to the
    // nearer segment.
    WheelHit hitTest(const QPointF& point) const;
};

} // namespace qv
