#include "engines/media/operations/MediaResize.h"

#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/arguments/MediaTargets.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"

#include <algorithm>

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
    args << "-map" << "0:V:0" << "-map" << "0:a?" << "-vf"
         << scaleFilter(size, settings.codec == VideoCodecChoice::hevc ? hevcSmallestSide : 2);
    if (settings.codec == VideoCodecChoice::hevc)
        args << hevcEncoderArgs(info, QualityPreset::high);
    else
        args << h264EncoderArgs(videoBitrate(info, QualityPreset::high, size));
    // Sound the container cannot hold (FLAC or Opus from a Matroska file) is encoded again.
    if (!info.audio)
        args << "-an";
    else if (mp4AudioCodecs().contains(info.audio->codec))
        args << "-c:a" << "copy";
    else
        args << "-c:a" << "aac" << "-b:a" << QString::number(std::clamp(info.audio->bitrate.value_or(192), 96, 192)) + QLatin1Char('k');
    args << "-movflags" << "+faststart" << "-f" << container.muxer << mediaOperand(output);
    runMediaStep(args, info.duration, context, work);
    return placeWithSuffix(work, output, QString::number(size) + QLatin1Char('p'), container.extension);
}

} // namespace qv
