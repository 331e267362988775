#include "engines/image/metadata/ImageMetadataRemoval.h"

#include "engines/image/conversion/AnimationTransform.h"
#include "engines/image/conversion/ImageToolOutput.h"
#include "engines/image/foreign/CheckedVipsTarget.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/TiffPages.h"
#include "engines/image/ImageEngine.h"
#include "engines/image/metadata/ImageMetadata.h"
#include "engines/image/metadata/MetadataStripper.h"
#include "model/errors/CancellationError.h"
#include "model/errors/SystemError.h"

#include <QFile>

#include <cerrno>

namespace qv {

namespace {

QString resultExtension(const FileInfo& file, ImageOutput output)
{
    const QString formatId = ImageToolOutput::formatId(file);
    if (formatId == toString(output) || (output == ImageOutput::heic && formatId == QLatin1String("heif")))
        return file.ext;
    return toString(output);
}

} // namespace

QUrl ImageMetadataRemoval::removeMetadata(const FileInfo& file, const OperationContext& context,
                                          const ImageWork& work)
{
    const QString operation = QStringLiteral("removeMetadata");
    const ImageOutput output = ImageEngine::sameFormatOutput(file);
    const QString extension = resultExtension(file, output);
    const QString formatId = ImageToolOutput::formatId(file);
    const QString source = file.path();
    const QUrl result = work.workFile(toString(output));
    ImageToolOutput::WorkFileGuard guard{result.toLocalFile()};

    // Exiv2 cannot write HEIF, so those are re-encoded.
    static const QStringList copyable{QStringLiteral("jpg"), QStringLiteral("png"), QStringLiteral("tiff"),
                                      QStringLiteral("webp")};
    bool copied = false;
    const bool walkable = (formatId == QLatin1String("jpg") || formatId == QLatin1String("png"))
        && formatId == toString(output) && (file.frameCount < 2 || formatId == QLatin1String("png"));
    if (walkable) {
        // Segments and chunks are walked by hand: Exiv2 leaves others, and trailers, behind.
        ImageDecoder::verify(source);
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly))
            throw SystemError::fromErrno(EACCES, source);
        const QByteArray bytes = in.readAll();
        const std::optional<int> orientation = ImageDecoder::sourceOrientation(source);
        const std::optional<QByteArray> stripped = formatId == QLatin1String("jpg")
            ? MetadataStripper::jpeg(bytes, orientation)
            : MetadataStripper::png(bytes, orientation);
        if (stripped) {
            CheckedVipsTarget::writeFile(result.toLocalFile(), stripped->constData(), stripped->size());
            copied = true;
        }
    }
    if (const int pages = TiffPages::count(source); !copied && pages > 1 && output == ImageOutput::tiff) {
        // Every page is written again: Exiv2 and the single-picture road keep the first alone.
        TiffPages::write(source, pages, result.toLocalFile(), [](const DecodedImage& page) { return page; },
                         work, std::nullopt, true);
        copied = true;
    }
    if (!copied && copyable.contains(formatId) && formatId == toString(output) && file.frameCount < 2) {
        // The bytes pass on undecoded, so a damaged file is refused here as every decode refuses it.
        ImageDecoder::verify(source);
        ImageMetadata::CopyOptions options;
        options.orientation = ImageDecoder::sourceOrientation(source);
        options.removeMetadata = true;
        copied = ImageMetadata::losslessCopy(source, result.toLocalFile(), output, options);
    }
    if (!copied && file.frameCount >= 2 && (output == ImageOutput::gif || output == ImageOutput::webp)) {
        // An animation stays one: every frame is written again, and the writer keeps no metadata.
        AnimationTransform::Edit unchanged;
        unchanged.quality = 0.95;
        AnimationTransform::write(source, result.toLocalFile(), output, unchanged, work.stop);
    } else if (!copied) {
        const DecodedImage image = ImageDecoder::decode(source);
        const double quality = isLossy(output) ? ImageEngine::calibratedJPEGQuality(0.95) : 1.0;
        ImageProperties bare;
        bare.dpiWidth = image.dpi();
        ImageWork writing = work;
        writing.progress = nullptr;
        ImageWriter::write(image, output, result.toLocalFile(), bare, quality, writing);
    }
    throwIfCancelled(work.stop);
    const QUrl placed = ImageToolOutput::deliver(work, result, context.settings, operation, extension);
    guard.kept = true;
    return placed;
}

} // namespace qv
