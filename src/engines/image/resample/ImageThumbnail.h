#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

namespace qv {

// The file's first image shrunk to fit inside the box (never enlarged), orientation applied,
// in sRGB. libvips decodes with shrink-on-load where the format allows, so a large picture is
// never held whole. Absent when the file cannot be read as an image, and with wholeFile also
// when it is cut short or damaged (an editor must not show a part of a picture as the whole).
std::optional<QImage> imageThumbnail(const QString& path, QSize box, bool wholeFile = false);

} // namespace qv
