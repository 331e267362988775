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

    // Decodes every pixel of the first image and drops them: throws as decode when the file
    // is damaged anywhere, not only in its header. A JPEG is read as far as its coefficients
    // instead (JpegStructure), which finds the same damage. Roads that pass a file on without
    // decoding it check it with this first.
    static void verify(const QString& path);
    static bool decodes(const QString& path);

    // Decodes the image's pixels once, dropping them; throws as decode. Only for images that
    // can be read again (SVGs, materialized images).
    static void verifyPixels(const DecodedImage& image);

    // Whether libvips' error text names a decoder's fault: its loaders sign their messages.
    static bool isReadingFault(const QString& log);

    // The file a decoded image still reads its pixels from (decoding is lazy); empty when none.
    static QString sourceFile(const DecodedImage& image);

    // The displayed size (orientation applied) from the header alone.
    static QSize pixelSize(const QString& path);

    // The EXIF orientation of the first image; 1 when the file states none or cannot be read.
    static int sourceOrientation(const QString& path);

    static QString damagedMessage();
};

} // namespace qv
