#include "jobs/ui/PillBackground.h"

#include "jobs/ui/HUDPanel.h"

#include <QPainter>
#include <QPalette>

namespace qv {

QPainterPath pillShape(const QRectF& rect)
{
    QPainterPath path;
    const double radius = std::min(rect.height(), rect.width()) / 2;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

bool isDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor primaryTextColor(const QPalette& palette)
{
    return isDarkPalette(palette) ? QColor(245, 245, 247) : QColor(29, 29, 31);
}

QColor secondaryTextColor(const QPalette& palette)
{
    return isDarkPalette(palette) ? QColor(170, 170, 176) : QColor(110, 110, 115);
}

void paintPillBackground(QPainter& painter, const QRectF& rect, const QPalette& palette,
                         std::optional<QColor> tint)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = pillShape(rect);
    painter.setClipPath(shape);
    const bool dark = isDarkPalette(palette);
    // Without a compositor see-through pixels would show as black: stay opaque then.
    const int alpha = HUDPanel::translucencyAvailable() ? 240 : 255;
    painter.fillPath(shape, dark ? QColor(44, 44, 48, alpha) : QColor(246, 246, 248, alpha));
    if (tint) {
        QColor overlay = *tint;
        overlay.setAlphaF(0.18);
        painter.fillPath(shape, overlay);
    }
    painter.setPen(QPen(dark ? QColor(255, 255, 255, 46) : QColor(0, 0, 0, 28), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(pillShape(rect.adjusted(0.5, 0.5, -0.5, -0.5)));
    painter.restore();
}

} // namespace qv
