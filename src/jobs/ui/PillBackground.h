#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>

#include <optional>

class QPainter;
class QPalette;

namespace qv {

// The capsule behind pills, the overflow pill and toasts: a flat background after the
// palette's lightness, an optional tint, and a faint light edge.
QPainterPath pillShape(const QRectF& rect);
void paintPillBackground(QPainter& painter, const QRectF& rect, const QPalette& palette,
                         std::optional<QColor> tint = std::nullopt);

// Text colours of the feedback windows.
bool isDarkPalette(const QPalette& palette);
QColor primaryTextColor(const QPalette& palette);
QColor secondaryTextColor(const QPalette& palette);

} // namespace qv
