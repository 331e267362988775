#include "platform/desktop/ScreenCoordinates.h"

namespace qv {

QPointF flipY(const QPointF& point, double primaryHeight)
{
    return {point.x(), primaryHeight - point.y()};
}

QRectF flipY(const QRectF& rect, double primaryHeight)
{
    return {rect.x(), primaryHeight - rect.y() - rect.height(), rect.width(), rect.height()};
}

} // namespace qv
