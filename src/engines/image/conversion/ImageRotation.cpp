#include "engines/image/conversion/ImageRotation.h"

#include "engines/image/conversion/AnimationTransform.h"
#include "engines/image/conversion/ImageToolOutput.h"
#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/TiffPages.h"
#include "engines/image/ImageEngine.h"
#include "engines/image/metadata/ImageMetadata.h"
#include "model/errors/CancellationError.h"

#include <array>

namespace qv {

std::optional<int> ImageRotation::turnedOrientation(int current, int degrees)
{
    static constexpr std::array cycle{1, 6, 3, 8};
    const auto at = std::find(cycle.begin(), cycle.end(), current);
    if (at == cycle.end())
        return std::nullopt;
    const int turns = degrees / 90;
    return cycle[size_t((int(at - cycle.begin()) + turns) & 3)];
}

QUrl ImageRotation::rotate(const FileInfo& file, int degrees, bool flipHorizontally, bool flipVertically,
                           const OperationContext& context, const ImageWork& work)
{
    const bool flips = flipHorizontally || flipVertically;
    const QString operation = flips && degrees == 0 ? QStringLiteral("flip") : QStringLiteral("rotate");
    const ImageOutput output = ImageEngine::sameFormatOutput(file);
    const QString formatId = ImageToolOutput::formatId(file);
    const QString source = file.path();

    if (!flips && output == ImageOutput::jpg && formatId == QLatin1String("jpg")) {
        if (const std::optional<int> orientation =
                turnedOrientation(ImageDecoder::sourceOrientation(source), degrees)) {
            // The bytes pass on undecoded, so a damaged file is refused here as every decode refuses it.
            ImageDecoder::verify(source);
            const QUrl copy = work.workFile(file.ext);
            ImageToolOutput::WorkFileGuard guard{copy.toLocalFile()};
            if (ImageMetadata::losslessCopy(source, copy.toLocalFile(), output, {*orientation, false})) {
                throwIfCancelled(work.stop);
                const QUrl placed = ImageToolOutput::deliver(work, copy, context.settings, operation, file.ext);
                guard.kept = true;
                return placed;
            }
        }
    }

    const QString extension = toString(output);
    const QUrl result = work.workFile(extension);
    ImageToolOutput::WorkFileGuard guard{result.toLocalFile()};
    const double quality =
        ImageWriter::outputQuality(output, ImageEngine::estimatedJPEGQuality(file), context.settings);
    if (file.frameCount >= 2 && (output == ImageOutput::gif || output == ImageOutput::webp)) {
        AnimationTransform::Edit edit;
        edit.degrees = degrees;
        edit.flipHorizontally = flipHorizontally;
        edit.flipVertically = flipVertically;
        edit.quality = quality;
        AnimationTransform::write(source, result.toLocalFile(), output, edit, work.stop);
    } else if (const int pages = TiffPages::count(source); pages > 1 && output == ImageOutput::tiff) {
        TiffPages::write(source, pages, result.toLocalFile(), [&](const DecodedImage& page) {
            return ImageTransforms::transformed(page, degrees, flipHorizontally, flipVertically);
        }, work);
    } else {
        const DecodedImage decoded = ImageDecoder::decode(source);
        DecodedImage image = ImageTransforms::transformed(decoded, degrees, flipHorizontally, flipVertically);
        ImageToolOutput::writeResult(image, decoded.properties(), output, result.toLocalFile(), quality, context,
                                     work);
    }
    throwIfCancelled(work.stop);
    const QUrl placed = ImageToolOutput::deliver(work, result, context.settings, operation, extension);
    guard.kept = true;
    return placed;
}

} // namespace qv
