#pragma once

#include "engines/image/foreign/ImageOutput.h"

#include <QImage>
#include <QString>

#include <optional>
#include <stop_token>

namespace qv {

// Writes one rendered page through the image engine's writer, saying the resolution it was
// drawn at; quality 0...1 for lossy outputs. Throws what the writer throws; leaves no file on
// failure.
void writePageImage(const QImage& page, const QString& path, ImageOutput output, double dpi,
                    std::optional<double> quality, std::stop_token stop);

} // namespace qv
