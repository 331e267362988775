#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

namespace qv {

class ScreenProvider;

// Where float panels go and how big they are. Pure; every rectangle and point is in y-up
// global coordinates (see ScreenProvider).
namespace floatLayout {
inline constexpr int maxPanels = 6;
inline constexpr double cascadeStep = 28;
inline constexpr double screenMargin = 8;
inline constexpr double longestSide = 520;
inline constexpr double minimumOpacity = 0.2;
inline constexpr double maximumOpacity = 1.0;
inline constexpr QSizeF minimumPanelSize{120, 90};
inline constexpr QSizeF fallbackSize{480, 360};
} // namespace floatLayout

// A panel size for content of that size: shrunk so its longest side is at most longestSide,
// never enlarged, then at least 160 x 120 (so extreme shapes get other proportions). Content
// without a size gets 480 x 360.
QSizeF fittedPanelSize(double width, double height, double longestSide);

// The origin (bottom-left corner) of the panel at that index of one Float action: centred on
// the point, each next one a step right and lower, then kept inside the visible frame of the
// screen under the point with a margin. A panel too big for the frame keeps its right and top
// edges inside. Without any screen the origin is not clamped.
QPointF floatPanelOrigin(QPointF point, QSizeF size, int index, const ScreenProvider& screens);

// The opacity after a scroll of deltaY (in points) with Alt held.
double scrolledOpacity(double opacity, double deltaY);

// The frame of a movie panel fitted to the movie's display size: at most longestSide on its
// longest side, never enlarged, the top-left corner where it was. Absent for an empty size.
std::optional<QRectF> movieFittedFrame(QRectF frame, QSizeF movie);

} // namespace qv
