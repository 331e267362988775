#include "engines/media/operations/MediaRotation.h"

#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/arguments/MediaFilters.h"
#include "engines/media/arguments/StreamCopyArguments.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"

namespace qv {

QUrl rotateVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    const VideoStreamInfo video = requireVideo(info);
    const int degrees = context.options.rotation.value_or(90);
    const bool flipH = context.options.flipHorizontal.value_or(false);
    const bool flipV = context.options.flipVertical.value_or(false);
    const bool flips = flipH || flipV;
    const QString word = flips && degrees % 360 == 0 ? QStringLiteral("flip") : QStringLiteral("rotate");
    const QString suffix = context.settings.suffixForOperation(word);
    const QString id = file.format ? file.format->id : QString();

    // Matroska, WebM and AVI keep no display rotation through a copy, so they are turned for real.
    const bool lossless = !flips
        && (id == QLatin1String("mp4") || id == QLatin1String("mov") || id == QLatin1String("m4v"));
    if (lossless) {
        const QUrl output = work.workFile(file.ext);
        const int total = (video.rotation + degrees) % 360;
        const QString muxer = id == QLatin1String("mov") ? QStringLiteral("mov") : QStringLiteral("mp4");
        runMediaCopyStep(rotationMetadataArgs(file.url, output, total, muxer, info.demuxer), movieBoxRoom({file.url}),
                         info.duration, context, work);
        return placeWithSuffix(work, output, suffix, file.ext);
    }

    const VideoContainer container = reencodedVideoContainer(file);
    const QUrl output = work.workFile(container.extension);
    QStringList args = mediaInput(file.url, info);
    args << "-map" << "0:V:0" << "-map" << "0:a?" << "-vf"
         << rotateFlipFilter(degrees, flipH, flipV) + QLatin1Char(',') + scaleFilter(std::nullopt);
    args << encoderArgs(info) << "-movflags" << "+faststart" << "-f" << container.muxer << mediaOperand(output);
    runMediaStep(args, info.duration, context, work);
    return placeWithSuffix(work, output, suffix, container.extension);
}

} // namespace qv
