#include "engines/media/operations/MediaCompression.h"

#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"

#include <algorithm>

namespace qv {

namespace {

struct Preset {
    std::optional<int> limit;
    double factor;
    int audioKilobits;
};

Preset presetValues(QualityPreset preset)
{
    switch (preset) {
    case QualityPreset::small: return {720, 0.035, 96};
    case QualityPreset::medium: return {1080, 0.05, 128};
    case QualityPreset::high: return {std::nullopt, 0.075, 160};
    }
    return {1080, 0.05, 128};
}

} // namespace

QUrl compressVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    const VideoStreamInfo video = requireVideo(info);

    const QualityPreset preset = context.options.videoPreset.value_or(QualityPreset::medium);
    const Preset values = presetValues(preset);
    std::optional<int> limit = context.options.maxResolution ? context.options.maxResolution : values.limit;
    if (limit && *limit <= 0)
        limit.reset();
    const VideoCodecChoice codec = effectiveVideoSettings(context.settings, context.options).codec;

    int kilobits = videoBitrate(info, preset, limit, values.factor);
    const std::optional<int> source = video.bitrate ? video.bitrate : info.bitrate;
    if (source)
        kilobits = std::min(kilobits, std::max(int(0.7 * *source), 300));
    if (codec == VideoCodecChoice::hevc)
        kilobits = int(0.65 * kilobits);

    const VideoContainer container = reencodedVideoContainer(file);
    const QUrl output = work.workFile(container.extension);
    QStringList args = mediaInput(file.url, info);
    args << "-map" << "0:V:0" << "-map" << "0:a:0?" << "-vf"
         << scaleFilter(limit, codec == VideoCodecChoice::hevc ? hevcSmallestSide : 2);
    args << (codec == VideoCodecChoice::hevc ? hevcEncoderArgs(info, preset, kilobits) : h264EncoderArgs(kilobits));
    if (!info.audio)
        args << "-an";
    else
        args << "-c:a" << "aac" << "-b:a" << QString::number(values.audioKilobits) + QLatin1Char('k');
    args << "-movflags" << "+faststart" << "-f" << container.muxer << mediaOperand(output);

    runMediaStep(args, info.duration, context, work);
    checkCompressed(output, file, context);
    return placeWithSuffix(work, output, context.settings.suffixForOperation(QStringLiteral("compress")),
                           container.extension);
}

} // namespace qv
