#include "app/float/FloatPanelLayout.h"

#include "platform/desktop/ScreenProvider.h"

#include <algorithm>
#include <cmath>

namespace qv {

QSizeF fittedPanelSize(double width, double height, double longestSide)
{
    if (!(width > 0 && height > 0))
        return floatLayout::fallbackSize;
    const double scale = longestSide / std::max(width, height);
    if (scale >= 1)
        return {std::max(width, 160.0), std::max(height, 120.0)};
    return {std::max(width * scale, 160.0), std::max(height * scale, 120.0)};
}

QPointF floatPanelOrigin(QPointF point, QSizeF size, int index, const ScreenProvider& screens)
{
    const double w = size.width();
    const double h = size.height();
    double x = point.x() - w * 0.5 + floatLayout::cascadeStep * index;
    double y = point.y() - h * 0.5 - floatLayout::cascadeStep * index;
    if (const auto screen = screenForPoint(point, screens)) {
        const QRectF v = screen->visibleFrame;
        const double m = floatLayout::screenMargin;
        // max before min: when the panel does not fit, the right and top edges win.
        x = std::min(std::max(x, v.left() + m), v.right() - w - m);
        y = std::min(std::max(y, v.top() + m), v.bottom() - h - m);
    }
    return {x, y};
}

double scrolledOpacity(double opacity, double deltaY)
{
    return std::min(std::max(opacity + deltaY * 0.01, floatLayout::minimumOpacity),
                    floatLayout::maximumOpacity);
}

std::optional<QRectF> movieFittedFrame(QRectF frame, QSizeF movie)
{
    const double w = std::abs(movie.width());
    const double h = std::abs(movie.height());
    if (!(w > 0 && h > 0) || !std::isfinite(w) || !std::isfinite(h))
        return std::nullopt;
    const double scale = std::min(floatLayout::longestSide / std::max(w, h), 1.0);
    // y-up: the top edge is the frame's bottom() in Qt's rectangle terms.
    const double top = frame.y() + frame.height();
    return QRectF(frame.x(), top - h * scale, w * scale, h * scale);
}

} // namespace qv
