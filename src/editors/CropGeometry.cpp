#include "editors/CropGeometry.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

constexpr double minimumSide = 0.03;

double unitRatio(double pixelRatio, QSizeF pixelSize)
{
    return pixelRatio * pixelSize.height() / std::max(pixelSize.width(), 1.0);
}

} // namespace

std::optional<double> presetPixelRatio(AspectPreset preset, QSizeF pixelSize)
{
    if (preset == AspectPreset::original)
        return pixelSize.width() / std::max(pixelSize.height(), 1.0);
    return ratio(preset);
}

std::optional<QRectF> initialCropRect(AspectPreset preset, QSizeF pixelSize)
{
    const std::optional<double> r = presetPixelRatio(preset, pixelSize);
    if (!r)
        return std::nullopt;
    const double rn = unitRatio(*r, pixelSize);
    double width = std::min(rn, 1.0) * 0.9;
    double height = width / rn;
    if (height > 0.9) {
        width = rn * 0.9;
        height = 0.9;
    }
    return QRectF((1 - width) * 0.5, (1 - height) * 0.5, width, height);
}

QRectF movedCrop(const QRectF& start, double dx, double dy)
{
    const double x = std::min(std::max(start.x() + dx, 0.0), 1 - start.width());
    const double y = std::min(std::max(start.y() + dy, 0.0), 1 - start.height());
    return QRectF(x, y, start.width(), start.height());
}

QRectF resizedCrop(const QRectF& start, CropHandle handle, double dx, double dy,
                   std::optional<double> pixelRatio, QSizeF pixelSize)
{
    double left = start.left(), top = start.top(), right = start.right(), bottom = start.bottom();
    switch (handle) {
    case CropHandle::topLeft: left += dx; top += dy; break;
    case CropHandle::top: top += dy; break;
    case CropHandle::topRight: top += dy; right += dx; break;
    case CropHandle::right: right += dx; break;
    case CropHandle::bottomRight: right += dx; bottom += dy; break;
    case CropHandle::bottom: bottom += dy; break;
    case CropHandle::bottomLeft: left += dx; bottom += dy; break;
    case CropHandle::left: left += dx; break;
    }
    left = std::min(std::max(left, 0.0), right - minimumSide);
    top = std::min(std::max(top, 0.0), bottom - minimumSide);
    right = std::max(left + minimumSide, std::min(right, 1.0));
    bottom = std::max(top + minimumSide, std::min(bottom, 1.0));
    const QRectF candidate(left, top, right - left, bottom - top);
    if (!pixelRatio)
        return candidate;

    const double rn = unitRatio(*pixelRatio, pixelSize);
    double width = candidate.width(), height = candidate.height();
    if (handle == CropHandle::top || handle == CropHandle::bottom)
        width = height * rn;
    else
        height = width / rn;
    const bool keepsRight = handle == CropHandle::topLeft || handle == CropHandle::left
                            || handle == CropHandle::bottomLeft;
    const bool keepsBottom = handle == CropHandle::topLeft || handle == CropHandle::top
                             || handle == CropHandle::topRight;
    double x = keepsRight ? candidate.right() - width : candidate.x();
    double y = keepsBottom ? candidate.bottom() - height : candidate.y();
    if (width > 1) {
        width = 1;
        height = 1 / rn;
    }
    if (height > 1) {
        height = 1;
        width = rn;
    }
    x = std::min(std::max(x, 0.0), 1 - width);
    y = std::min(std::max(y, 0.0), 1 - height);
    return QRectF(x, y, width, height);
}

QRect pixelCropRect(const QRectF& crop, QSize pixelSize)
{
    const int w = pixelSize.width(), h = pixelSize.height();
    const int x = std::clamp(int(std::round(crop.x() * w)), 0, std::max(w, 0));
    const int y = std::clamp(int(std::round(crop.y() * h)), 0, std::max(h, 0));
    // Rounded apart, x and width can add up to one pixel past the edge.
    const int width = std::clamp(int(std::round(crop.width() * w)), 0, w - x);
    const int height = std::clamp(int(std::round(crop.height() * h)), 0, h - y);
    return QRect(x, y, width, height);
}

} // namespace qv
