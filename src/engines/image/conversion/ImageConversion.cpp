#include "engines/image/conversion/ImageConversion.h"

#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/foreign/FFmpegImageWriter.h"
#include "engines/image/foreign/IconFileWriter.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageHeader.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/WebPWriter.h"
#include "engines/image/ImageFrames.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/HexColor.h"
#include "model/operations/Progress.h"

#include <QFile>

namespace qv {

namespace {

void progressTo(const ImageWork& work, double fraction)
{
    if (work.progress)
        reportProgress(fraction, *work.progress);
}

QString localPath(const QUrl& url)
{
    return url.toLocalFile();
}

} // namespace

std::optional<int> ImageConversion::effectiveMaxDimension(const OperationContext& context)
{
    const int limit = context.options.maxDimension.value_or(context.settings.imageMaxDimension);
    if (limit < 1)
        return std::nullopt;
    return limit;
}

double ImageConversion::conversionQuality(ImageOutput target, const OperationContext& context)
{
    if (context.options.quality)
        return *context.options.quality;
    switch (target) {
    case ImageOutput::jpg:
    case ImageOutput::jp2: return context.settings.jpegQuality;
    case ImageOutput::heic: return context.settings.heicQuality;
    case ImageOutput::webp: return context.settings.webpQuality / 100.0;
    case ImageOutput::avif: return context.settings.avifQuality / 100.0;
    default: return 1.0;
    }
}

QColor ImageConversion::alphaBackground(const OperationContext& context)
{
    const QString text = context.options.alphaBackground.value_or(context.settings.alphaBackground);
    return colorFromHex(text).value_or(QColor(Qt::white));
}

QUrl ImageConversion::convertImage(const FileInfo& file, ImageOutput target, const OperationContext& context,
                                   const ImageWork& work)
{
    const std::optional<int> limit = effectiveMaxDimension(context);
    progressTo(work, 0.05);
    if ((target == ImageOutput::webp || target == ImageOutput::avif)
        && !work.writable().contains(imageOutputTypeIdentifier(target)))
        return convertWithFFmpeg(file, target, context, work);
    if (target == ImageOutput::pdf)
        throw EngineError(ImageWriter::cannotWriteMessage(target));
    if (target == ImageOutput::gif && file.frameCount >= 2 && file.ext != QLatin1String("gif")) {
        const QString extension = toString(target);
        const QUrl output = work.workFile(extension);
        ImageFrames::writeGIF(localPath(file.url), localPath(output), limit.value_or(0), work.stop);
        progressTo(work, 0.95);
        throwIfCancelled(work.stop);
        return work.place(output, extension);
    }
    throwIfCancelled(work.stop);

    DecodedImage image = ImageDecoder::decode(localPath(file.url), limit, 0);
    progressTo(work, 0.5);
    if (lacksAlpha(target) && image.hasAlpha())
        image = ImageTransforms::flatten(image, alphaBackground(context));
    const QString extension = toString(target);
    const QUrl output = work.workFile(extension);
    const QString path = localPath(output);
    try {
        if (target == ImageOutput::ico || target == ImageOutput::icns) {
            IconFileWriter::writeIconFile(image, path, target, work.stop);
        } else {
            const ImageProperties properties =
                ImageWriter::destinationProperties(image.properties(), context.settings.preserveMetadata);
            ImageWork writing = work;
            // The batch's memory estimate made the same choice from the same figures: the
            // source's size, before any shrinking, which needs less in either mode.
            if (target == ImageOutput::webp) {
                const QSize size = imagePixelSize(localPath(file.url)).value_or(QSize(image.width(), image.height()));
                writing.lowMemory = WebPWriter::lowMemoryPays(size.width(), size.height(), image.hasAlpha(),
                                                              WebPWriter::sourceBytes(localPath(file.url)),
                                                              context.settings.batchMemoryBytes,
                                                              context.settings.cpuJobs);
            }
            ImageWriter::write(image, target, path, properties, conversionQuality(target, context), writing);
        }
    } catch (...) {
        QFile::remove(path);
        throw;
    }
    progressTo(work, 0.95);
    throwIfCancelled(work.stop);
    return work.place(output, extension);
}

QUrl ImageConversion::convertWithFFmpeg(const FileInfo& file, ImageOutput target,
                                        const OperationContext& context, const ImageWork& work)
{
    const DecodedImage image = ImageDecoder::decode(localPath(file.url), effectiveMaxDimension(context), 0);
    ImageWriter::checkFits(target, image.width(), image.height());
    const QUrl png = work.workFile(QStringLiteral("png"));
    struct Remove {
        QString path;
        ~Remove() { QFile::remove(path); }
    } intermediate{localPath(png)};
    ImageWork plain = work;
    // The intermediate must be a PNG whatever the machine writes.
    ImageWriter::write(image, ImageOutput::png, localPath(png), {}, 1.0, plain);
    progressTo(work, 0.3);
    const QString extension = toString(target);
    const QUrl output = work.workFile(extension);
    const double quality = conversionQuality(target, context);
    QStringList encoder;
    if (target == ImageOutput::avif)
        encoder = FFmpegImageWriter::avifEncoderArgs(quality, image.hasAlpha());
    else if (target == ImageOutput::webp)
        encoder = FFmpegImageWriter::webpEncoderArgs(quality, context.options.lossless.value_or(false));
    else
        throw EngineError(extension.toUpper() + QStringLiteral(" is written by libvips"));
    try {
        FFmpegImageWriter::run(localPath(png), encoder, localPath(output), work);
    } catch (...) {
        QFile::remove(localPath(output));
        throw;
    }
    progressTo(work, 1.0);
    return work.place(output, extension);
}

} // namespace qv
