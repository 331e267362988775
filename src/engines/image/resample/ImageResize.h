#pragma once

#include "engines/image/ImageWork.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationContext.h"

#include <QSize>
#include <QUrl>

namespace qv {

// A copy of an image file whose longer side has a target length, in its own format, made
// smaller or larger as the target asks.
class ImageResize {
public:
    ImageResize() = delete;

    // Named "(resized)". The picture is shrunk while it loads, so a huge one is never held whole;
    // an animated GIF or WebP scales every frame. Throws the decoder's and writer's errors.
    static QUrl resize(const FileInfo& file, const OperationContext& context, const ImageWork& work);

    // The longer side wanted: maxDimension when at least 1, else resizeScale (0.5 when unset)
    // times the displayed longer side, truncated; at least 1.
    static int targetLength(QSize displayed, const OperationOptions& options);
};

} // namespace qv
