#pragma once

#include "engines/image/DecodedImage.h"

#include <QColor>

namespace qv {

// New pictures made from decoded ones: scaled, flattened, turned, squared. Each keeps the
// source's properties and resolution and is computed lazily as it is written. Failures are
// EngineError "Not enough memory for this image".
class ImageTransforms {
public:
    ImageTransforms() = delete;

    // Exactly width x height (each at least 1), high-quality resampling, alpha premultiplied
    // while scaling.
    static DecodedImage scaledImage(const DecodedImage& image, double width, double height);

    // Drawn over a solid colour: opaque 8-bit sRGB.
    static DecodedImage flatten(const DecodedImage& image, const QColor& color);

    // Turned clockwise by whole quarter turns (degrees / 90, truncated; negative turns
    // counter-clockwise), then mirrored.
    static DecodedImage transformed(const DecodedImage& image, int degrees, bool flipHorizontally,
                                    bool flipVertically);

    // Centred on a transparent square whose side is the longer side; a square image as it is.
    static DecodedImage squareCanvas(const DecodedImage& image);
};

} // namespace qv
