#pragma once

#include <QByteArray>

#include <optional>

namespace qv {

// Decodes image bytes of any format libvips reads (TIFF, BMP, HEIC...) and encodes them as PNG.
// None when the bytes do not decode or the picture is larger than maxPixels. Any thread.
std::optional<QByteArray> imageToPng(const QByteArray& bytes, qint64 maxPixels = 100'000'000);

} // namespace qv
