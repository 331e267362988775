#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>

namespace qv {

// The number of images (frames or pages) in an image file, from its header alone;
// absent when the file does not open as an image.
std::optional<int> imageFrameCount(const QString& path);

// The pixel size of the first image from the header alone, swapped for the EXIF orientations
// that turn it; absent when the file does not open as an image.
std::optional<QSize> imagePixelSize(const QString& path);

// Whether the first image carries an alpha channel, from the header alone.
std::optional<bool> imageHasAlpha(const QString& path);

// The number of bands of the first image as stored (1 grey, 3 RGB, 4 CMYK or RGBA...).
std::optional<int> imageBandCount(const QString& path);

// The colour profile the first image carries; empty when none or unreadable.
QByteArray imageColourProfile(const QString& path);

} // namespace qv
