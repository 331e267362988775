#pragma once

#include "engines/image/DecodedImage.h"

#include <QSize>
#include <QString>

#include <optional>

namespace qv {

// The one way into image files. Files are only read; pixels are decoded at the size asked for
// (shrink-on-load where the format allows), so a huge picture is never held whole when a
// limit is given. Every failure is EngineError "This file is damaged or not in a supported
// format". Safe on any thread.
class ImageDecoder {
public:
    ImageDecoder() = delete;

    // Image `index` (frame or page) of the file, upright (EXIF orientation applied), its longer
    // side at most maxPixelSize. A limit below 1 is no limit. The properties are the file's as
    // it states them, orientation included.
    static DecodedImage decode(const QString& path, std::optional<int> maxPixelSize = std::nullopt,
                               int index = 0);

    // The SVG branch of decode: drawn at twice its size (or smaller to fit the limit), with a
    // resolution that keeps its physical size.
    static DecodedImage decodeSVG(const QString& path, std::optional<int> maxPixelSize = std::nullopt);

    // The displayed size (orientation applied) from the header alone.
    static QSize pixelSize(const QString& path);

    // The EXIF orientation of the first image; 1 when the file states none or cannot be read.
    static int sourceOrientation(const QString& path);

    static QString damagedMessage();
};

} // namespace qv
