#include "engines/image/resample/ImageResize.h"

#include "engines/image/conversion/AnimationTransform.h"
#include "engines/image/conversion/ImageToolOutput.h"
#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/TiffPages.h"
#include "engines/image/ImageEngine.h"
#include "model/errors/CancellationError.h"

#include <algorithm>

namespace qv {

int ImageResize::targetLength(QSize displayed, const OperationOptions& options)
{
    int target = 0;
    if (options.maxDimension && *options.maxDimension >= 1)
        target = *options.maxDimension;
    else
        target = int(options.resizeScale.value_or(0.5) * std::max(displayed.width(), displayed.height()));
    return std::max(1, target);
}

QUrl ImageResize::resize(const FileInfo& file, const OperationContext& context, const ImageWork& work)
{
    const QString source = file.path();
    const int target = targetLength(ImageDecoder::pixelSize(source), context.options);
    const ImageOutput output = ImageEngine::sameFormatOutput(file);
    const QString extension = toString(output);
    const QUrl result = work.workFile(extension);
    ImageToolOutput::WorkFileGuard guard{result.toLocalFile()};
    const double quality =
        ImageWriter::outputQuality(output, ImageEngine::estimatedJPEGQuality(file), context.settings);

    if (file.frameCount >= 2 && (output == ImageOutput::gif || output == ImageOutput::webp)) {
        AnimationTransform::Edit edit;
        edit.longerSide = target;
        edit.quality = quality;
        AnimationTransform::write(source, result.toLocalFile(), output, edit, work.stop);
    } else if (const int pages = TiffPages::count(source); pages > 1 && output == ImageOutput::tiff) {
        TiffPages::write(source, pages, result.toLocalFile(), [&](const DecodedImage& page) {
            const int longer = std::max(page.width(), page.height());
            if (longer >= target)
                return page;
            const double scale = double(target) / longer;
            return ImageTransforms::scaledImage(page, page.width() * scale, page.height() * scale);
        }, work, target);
    } else {
        const DecodedImage decoded = ImageDecoder::decode(source, target);
        DecodedImage image = decoded;
        const int longer = std::max(decoded.width(), decoded.height());
        if (longer < target) {
            const double scale = double(target) / longer;
            image = ImageTransforms::scaledImage(decoded, decoded.width() * scale, decoded.height() * scale);
        }
        ImageToolOutput::writeResult(image, decoded.properties(), output, result.toLocalFile(), quality, context,
                                     work);
    }
    throwIfCancelled(work.stop);
    const QUrl placed = ImageToolOutput::deliver(work, result, context.settings, QStringLiteral("resize"), extension);
    guard.kept = true;
    return placed;
}

} // namespace qv
