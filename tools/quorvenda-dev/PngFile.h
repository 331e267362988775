#pragma once

#include <QImage>
#include <QString>

namespace qv::dev {

// Writes the image as a PNG file, replacing any file there only once every byte is on disk.
// Reports what went wrong on standard error and returns false.
bool writePng(const QImage& image, const QString& path);

} // namespace qv::dev
