#pragma once

#include "model/operations/AspectPreset.h"

#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <optional>

namespace qv {

// Crops are kept in unit coordinates of the upright picture: fractions of its width and height,
// origin top left, y downwards; the whole picture is (0, 0, 1, 1).

// The pixel ratio (width / height) a preset locks; original takes the picture's own.
std::optional<double> presetPixelRatio(AspectPreset preset, QSizeF pixelSize);

// The centred starting crop of a preset, 90 % of the limiting side; none for free.
std::optional<QRectF> initialCropRect(AspectPreset preset, QSizeF pixelSize);

// The grips of a crop frame, corners and edge middles.
enum class CropHandle { topLeft, top, topRight, right, bottomRight, bottom, bottomLeft, left };

// The start crop moved by (dx, dy) in unit lengths, stopped flush at the picture's edges.
QRectF movedCrop(const QRectF& start, double dx, double dy);

// The start crop with the handle's edges moved by (dx, dy), at least 0.03 each way, and locked to
// the pixel ratio when there is one.
QRectF resizedCrop(const QRectF& start, CropHandle handle, double dx, double dy,
                   std::optional<double> pixelRatio, QSizeF pixelSize);

// The crop in whole pixels of a picture of that size: each component rounded half away from
// zero, then the size cut so the rectangle stays inside the picture.
QRect pixelCropRect(const QRectF& crop, QSize pixelSize);

} // namespace qv
