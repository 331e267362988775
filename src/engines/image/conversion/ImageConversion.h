#pragma once

#include "engines/image/foreign/ImageOutput.h"
#include "engines/image/ImageWork.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationContext.h"

#include <QUrl>

#include <optional>

namespace qv {

// One image file into another image format, placed beside the original under its own base
// name. Options and settings decide size, quality, transparency and metadata.
class ImageConversion {
public:
    ImageConversion() = delete;

    // libvips decodes (shrunk on load to the size limit, upright) and writes; WebP and AVIF go
    // through FFmpeg when libvips cannot write them; a multi-frame source going to GIF goes to
    // the GIF writer. PDF is not written here. Throws EngineError, FFmpegError,
    // CancellationError; nothing is placed on failure.
    static QUrl convertImage(const FileInfo& file, ImageOutput target, const OperationContext& context,
                             const ImageWork& work);

    // The WebP and AVIF road through FFmpeg: a PNG intermediate (no metadata), then FFmpeg.
    static QUrl convertWithFFmpeg(const FileInfo& file, ImageOutput target, const OperationContext& context,
                                  const ImageWork& work);

    // The option maxDimension, else the setting; none below 1.
    static std::optional<int> effectiveMaxDimension(const OperationContext& context);

    // The option quality, else the setting of the target (1.0 for the lossless formats).
    static double conversionQuality(ImageOutput target, const OperationContext& context);

    // The option alphaBackground, else the setting; white when it does not read as a colour.
    static QColor alphaBackground(const OperationContext& context);
};

} // namespace qv
