#pragma once

#include "engines/image/ImageOutput.h"

#include <QImage>
#include <QString>

#include <optional>

namespace qv {

// Writes one rendered page as an image file of the output, saying the resolution it was drawn
// at; quality 0...1 for lossy outputs. Throws EngineError and leaves no file on failure.
void writePageImage(const QImage& page, const QString& path, ImageOutput output, double dpi,
                    std::optional<double> quality);

} // namespace qv
