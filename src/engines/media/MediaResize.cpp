#include "engines/media/MediaResize.h"

#include "engines/media/EncoderArguments.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"

namespace qv {

QUrl resizeVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    requireVideo(info);
    const int size = context.options.maxResolution.value_or(720);
    const VideoSettings settings = effectiveVideoSettings(context.settings, context.options);
    const VideoContainer container = reencodedVideoContainer(file);
    const QUrl output = work.workFile(container.extension);

    QStringList args = mediaInput(file.url, info);
    args << "-map" << "0:V:0" << "-map" << "0:a?" << "-vf" << scaleFilter(size);
    if (settings.codec == VideoCodecChoice::hevc)
        args << hevcEncoderArgs(info, QualityPreset::high);
    else
        args << h264EncoderArgs(videoBitrate(info, QualityPreset::high, size));
    if (info.audio)
        args << "-c:a" << "copy";
    else
        args << "-an";
    args << "-movflags" << "+faststart" << "-f" << container.muxer << mediaOperand(output);
    runMediaStep(args, info.duration, context, work);
    return placeWithSuffix(work, output, QString::number(size) + QLatin1Char('p'), container.extension);
}

} // namespace qv
