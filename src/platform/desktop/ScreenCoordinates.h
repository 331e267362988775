#pragma once

#include <QPointF>
#include <QRectF>

namespace qv {

// Converts between y-up global coordinates (origin at the bottom-left of the primary screen)
// and Qt's y-down ones (origin at its top-left). The same formula goes both ways.
QPointF flipY(const QPointF& point, double primaryHeight);
QRectF flipY(const QRectF& rect, double primaryHeight);

} // namespace qv
