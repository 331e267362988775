#pragma once

#include "engines/image/VipsPixels.h"

#include <QByteArray>

namespace qv {

// Samples libvips hands over as the file stores them where they mean something else: a
// PPM or PGM whose maximum value is not its container's (1, 1000, 65535 in 32 bits), and a
// JPEG 2000 whose colour box says sYCC but whose luma and chroma libvips leaves unconverted.
class StoredSamples {
public:
    StoredSamples() = delete;

    // Whether the file's samples need putting right; reads only the header.
    static bool needCorrection(const QByteArray& nativePath, VipsImage* opened);

    // Whether the image is one corrected() made.
    static bool wasCorrected(VipsImage* image);

    // The opened image's samples as full-range RGB or grey; the image itself when nothing is to
    // be done. Null with libvips' text in *log when a step fails.
    static VipsRef corrected(const QByteArray& nativePath, VipsImage* opened, QString* log);
};

} // namespace qv
