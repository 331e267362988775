#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>

namespace qv {

class ScreenProvider;

// Where the wheel goes, in y-up global coordinates; diameter is 360, 420 or 480.
namespace WheelPlacement {

// Half the side of the panel: the wheel with a margin, or the open More ring with one.
double panelHalfSide(double diameter, bool moreOpen);

// Keeps the centre half the diameter plus 48 × s away from the visible edges of the screen
// that holds the point (else the main one); unchanged without any screen.
QPointF clampCenter(QPointF point, double diameter, const ScreenProvider& screens);

// The panel's square around the centre, moved inside the whole frame of the centre's screen
// and rounded outwards to whole points.
QRectF panelRect(QPointF center, double diameter, bool moreOpen, const ScreenProvider& screens);

// The same rectangle in Qt's y-down coordinates.
QRect toQt(const QRectF& rect, double primaryHeight);

} // namespace WheelPlacement

} // namespace qv
