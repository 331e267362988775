#pragma once

#include "engines/image/foreign/ImageOutput.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace qv {

// Metadata edits without touching the pixels (Exiv2).
class ImageMetadata {
public:
    ImageMetadata() = delete;

    // What a lossless copy changes on its way.
    struct CopyOptions {
        std::optional<int> orientation; // the EXIF orientation to state
        bool removeMetadata = false;    // EXIF, IPTC and XMP dropped (the colour profile stays)
    };

    // The EXIF block with orientation 1 and without the pixel dimensions; empty when it cannot
    // be read.
    static QByteArray uprightExif(const QByteArray& exif);

    // Copies the source's bytes to destination (a new file) and edits the copy's metadata. jpg,
    // png, tiff and webp only; false (and nothing left) for anything else or any failure, so the
    // caller re-encodes. A disk too full for the copy throws: a picture encoded again would not
    // fit either.
    static bool losslessCopy(const QString& source, const QString& destination, ImageOutput output,
                             const CopyOptions& options);
};

} // namespace qv
