#include "engines/image/conversion/ImageCompression.h"

#include "engines/image/conversion/AnimationTransform.h"
#include "engines/image/conversion/ImageToolOutput.h"
#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageHeader.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/TiffPages.h"
#include "engines/image/ImageEngine.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/Progress.h"
#include "platform/processes/FFmpegInvocation.h"

#include <QFileInfo>

namespace qv {

namespace {

const QString animatedGIFPrefix = QStringLiteral("fps=12,scale='min(480,iw)':-1:flags=lanczos,");

void progressTo(const ImageWork& work, double fraction)
{
    if (work.progress)
        reportProgress(fraction, *work.progress);
}

void runPalette(const QStringList& arguments, const ImageWork& work)
{
    const ProcessRunner::Output result = runFFmpeg(work.ffmpegProgram(), arguments, work.stop);
    throwIfCancelled(work.stop);
    checkFFmpegRun(result);
    // FFmpeg may end well having written a file that holds no picture.
    const QString written = arguments.last().mid(QStringLiteral("file:").size());
    if (!imagePixelSize(written))
        throw EngineError(QStringLiteral("Couldn't write the %1 file").arg(QFileInfo(written).suffix().toUpper()),
                          result.stderrText());
}

// The palette road: FFmpeg writes `result` as a GIF or PNG (an APNG for an animated PNG).
void paletteRoad(const FileInfo& file, ImageOutput output, QualityPreset preset, std::optional<int> limit,
                 const QString& result, const ImageWork& work)
{
    const QString in = file.path();
    const bool animated = file.frameCount >= 2;
    const QString fileOperand = QStringLiteral("file:");
    if (output == ImageOutput::gif && animated) {
        // The width limit of the filter stands in for the maximum dimension.
        const bool alpha = ImageDecoder::decode(in, 64).hasAlpha();
        runPalette({QStringLiteral("-i"), fileOperand + in, QStringLiteral("-filter_complex"),
                    animatedGIFPrefix + ImageCompression::paletteGraph(preset, alpha), QStringLiteral("-loop"),
                    QStringLiteral("0"), QStringLiteral("-f"), QStringLiteral("gif"), fileOperand + result},
                   work);
        return;
    }
    if (output == ImageOutput::png && animated) {
        const bool alpha = ImageDecoder::decode(in, 64).hasAlpha();
        runPalette({QStringLiteral("-i"), fileOperand + in, QStringLiteral("-filter_complex"),
                    ImageCompression::paletteGraph(preset, alpha), QStringLiteral("-plays"), QStringLiteral("0"),
                    QStringLiteral("-c:v"), QStringLiteral("apng"), QStringLiteral("-f"), QStringLiteral("apng"),
                    fileOperand + result},
                   work);
        return;
    }
    const DecodedImage image = ImageDecoder::decode(in, limit);
    const bool alpha = image.hasAlpha();
    const QUrl sourcePNG = work.workFile(QStringLiteral("png"));
    ImageToolOutput::WorkFileGuard sourceGuard{sourcePNG.toLocalFile()};
    ImageWork writing = work;
    writing.progress = nullptr;
    ImageWriter::write(image, ImageOutput::png, sourcePNG.toLocalFile(), {}, 1.0, writing);
    const bool gif = output == ImageOutput::gif;
    runPalette({QStringLiteral("-i"), fileOperand + sourcePNG.toLocalFile(), QStringLiteral("-filter_complex"),
                ImageCompression::paletteGraph(preset, alpha), QStringLiteral("-frames:v"), QStringLiteral("1"),
                QStringLiteral("-c:v"), gif ? QStringLiteral("gif") : QStringLiteral("png"), QStringLiteral("-f"),
                gif ? QStringLiteral("gif") : QStringLiteral("image2"), fileOperand + result},
               work);
}

} // namespace

QString ImageCompression::alreadySmallMessage()
{
    return QStringLiteral("Already as small as it gets");
}

QString ImageCompression::paletteGraph(QualityPreset preset, bool alpha)
{
    QString graph = QStringLiteral("split[a][b];[a]palettegen=max_colors=%1:reserve_transparent=%2[p];"
                                   "[b][p]paletteuse=dither=sierra2_4a")
                        .arg(preset == QualityPreset::small ? 128 : 256)
                        .arg(alpha ? 1 : 0);
    if (alpha)
        graph += QStringLiteral(":alpha_threshold=128");
    return graph;
}

std::optional<int> ImageCompression::maxDimension(const OperationOptions& options, int settingsLimit)
{
    // Settings shows 0 as "Keep original size", so a preset never shrinks the pixels on its own.
    const int limit = options.maxDimension.value_or(settingsLimit);
    if (limit < 1)
        return std::nullopt;
    return limit;
}

QUrl ImageCompression::compress(const FileInfo& file, const OperationContext& context, const ImageWork& work)
{
    const QualityPreset preset = context.options.videoPreset.value_or(QualityPreset::medium);
    const std::optional<int> limit = maxDimension(context.options, context.settings.imageMaxDimension);
    const ImageOutput output = ImageEngine::sameFormatOutput(file);
    progressTo(work, 0.1);

    ImageOutput encoded = output;
    QUrl result;
    ImageToolOutput::WorkFileGuard guard;
    if (output == ImageOutput::gif || output == ImageOutput::png) {
        result = work.workFile(toString(output));
        guard.path = result.toLocalFile();
        paletteRoad(file, output, preset, limit, result.toLocalFile(), work);
    } else {
        if (!isLossy(output) && output != ImageOutput::tiff)
            encoded = ImageOutput::jpg;
        const double quality = context.options.quality.value_or(
            ImageEngine::compressionQuality(encoded, preset, ImageEngine::estimatedJPEGQuality(file)));
        result = work.workFile(toString(encoded));
        guard.path = result.toLocalFile();
        if (file.frameCount >= 2 && encoded == ImageOutput::webp) {
            AnimationTransform::Edit edit;
            edit.longerSide = std::nullopt;
            edit.quality = quality;
            AnimationTransform::write(file.path(), result.toLocalFile(), encoded, edit, work.stop);
        } else if (const int pages = TiffPages::count(file.path()); pages > 1 && encoded == ImageOutput::tiff) {
            TiffPages::write(file.path(), pages, result.toLocalFile(), [](const DecodedImage& page) { return page; },
                             work, limit);
        } else {
            const DecodedImage decoded = ImageDecoder::decode(file.path(), limit);
            DecodedImage image = decoded;
            // Whatever the source held, the encoder decides whether alpha survives.
            if (lacksAlpha(encoded) && image.hasAlpha())
                image = ImageTransforms::flatten(image, ImageToolOutput::settingsAlphaBackground(context.settings));
            ImageProperties properties =
                ImageWriter::destinationProperties(decoded.properties(), context.settings.preserveMetadata);
            ImageWriter::write(image, encoded, result.toLocalFile(), properties, quality, work);
        }
    }
    throwIfCancelled(work.stop);
    progressTo(work, 1.0);

    const QFileInfo written(result.toLocalFile());
    const qint64 after = written.exists() ? written.size() : 0;
    const bool smaller = after > 0 && (file.size == 0 || after < file.size);
    if (!smaller)
        throw EngineError(alreadySmallMessage());
    if (file.size > 0 && context.notes) {
        if (const std::optional<int> percent = ImageToolOutput::savedPercent(file.size, after))
            context.notes->addMessage(ImageToolOutput::savingNote(*percent));
    }
    const QUrl placed =
        ImageToolOutput::deliver(work, result, context.settings, QStringLiteral("compress"), toString(encoded));
    guard.kept = true;
    return placed;
}

} // namespace qv
