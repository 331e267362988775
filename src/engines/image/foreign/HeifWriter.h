#pragma once

#include <QImage>
#include <QString>

namespace qv {

// Writes the picture as one HEVC-coded HEIF image with the quality 1 to 100, dropping any
// alpha. The path is written as it stands (callers write under a temporary name and move the
// file into place). False, with no file left behind, when libvips or the disk refuses.
bool writeHeif(const QImage& image, const QString& path, int quality);

} // namespace qv
