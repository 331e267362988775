#include "engines/media/operations/MediaCrop.h"

#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/arguments/MediaFilters.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"
#include "model/errors/EngineError.h"

namespace qv {

QUrl cropVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    requireVideo(info);
    const std::optional<QRectF>& rect = context.options.cropRect;
    if (!rect || !(rect->width() >= 2.0) || !(rect->height() >= 2.0))
        throw EngineError(QStringLiteral("The crop area is empty"));

    const VideoContainer container = reencodedVideoContainer(file);
    const QUrl output = work.workFile(container.extension);
    QStringList args = mediaInput(file.url, info);
    args << "-map" << "0:V:0" << "-map" << "0:a?" << "-vf"
         << cropFilter(*rect) + QLatin1Char(',') + scaleFilter(std::nullopt);
    args << encoderArgs(info) << "-movflags" << "+faststart" << "-f" << container.muxer << mediaOperand(output);
    runMediaStep(args, info.duration, context, work);
    return placeWithSuffix(work, output, context.settings.suffixForOperation(QStringLiteral("crop")),
                           container.extension);
}

} // namespace qv
