#pragma once

#include "engines/image/ImageWork.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationContext.h"

#include <QUrl>

namespace qv {

// Quarter turns and mirrors of an image file, in its own format. A plain turn of a JPEG only
// changes the stated orientation, so the picture loses nothing.
class ImageRotation {
public:
    ImageRotation() = delete;

    // Named "(rotated)", or "(flipped)" for a mirror without a turn. An animated GIF or WebP
    // turns every frame. Throws the decoder's and writer's errors; nothing is placed on failure.
    static QUrl rotate(const FileInfo& file, int degrees, bool flipHorizontally, bool flipVertically,
                       const OperationContext& context, const ImageWork& work);

    // The EXIF orientation after `degrees` clockwise from `current` (1, 6, 3, 8 cycle); none
    // for a mirrored orientation.
    static std::optional<int> turnedOrientation(int current, int degrees);
};

} // namespace qv
