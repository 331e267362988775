#pragma once

#include "engines/image/ImageWork.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationContext.h"

#include <QUrl>

namespace qv {

// A copy of an image file without its metadata (EXIF, GPS, IPTC, XMP, comments), in its own
// format. JPEG, PNG, TIFF and WebP keep their picture data byte for byte and only the
// orientation, so they still show upright; everything else is decoded and written again bare.
class ImageMetadataRemoval {
public:
    ImageMetadataRemoval() = delete;

    // Named "(no metadata)". Throws the decoder's and writer's errors; the input is only read.
    static QUrl removeMetadata(const FileInfo& file, const OperationContext& context, const ImageWork& work);
};

} // namespace qv
