#include "engines/media/operations/MediaConversion.h"

#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"
#include "engines/media/operations/ImagesToVideo.h"
#include "engines/media/probe/MediaProbe.h"
#include "model/errors/CancellationError.h"
#include "model/errors/FFmpegError.h"
#include "model/operations/Capabilities.h"
#include "model/operations/JobNotes.h"
#include "model/operations/Progress.h"
#include "platform/processes/FFmpegInvocation.h"

#include <algorithm>

namespace qv {

namespace {

constexpr double ringtoneSeconds = 40.0;

} // namespace

QStringList replacingOptionValue(const QString& option, const QString& value, QStringList arguments)
{
    const qsizetype at = arguments.indexOf(option);
    if (at >= 0 && at + 1 < arguments.size())
        arguments[at + 1] = value;
    return arguments;
}

QUrl convertVideo(const FileInfo& file, VideoTarget target, const OperationContext& context,
                  const MediaWork& work)
{
    if (file.category == FileCategory::image)
        return imagesToVideo(file, target, context, work);
    const MediaInfo info = probeMediaInput(file, context, work);
    requireVideo(info);
    const VideoSettings settings = effectiveVideoSettings(context.settings, context.options);
    const QString extension = videoTargetFileExtension(target);
    const QUrl output = work.workFile(extension);

    const QStringList first = videoConvertArgs(file.url, output, target, info, settings, true);
    try {
        // Copied pictures are as many as the source's, so its tables bound the result's.
        const qsizetype video = first.indexOf(QStringLiteral("-c:v"));
        if (video >= 0 && first.value(video + 1) == QLatin1String("copy"))
            runMediaCopyStep(first, movieBoxRoom({file.url}), info.duration, context, work);
        else
            runMediaStep(first, info.duration, context, work);
    } catch (const FFmpegError& error) {
        // A copy that could not be written is no reason to encode: the encoded file would meet
        // the same disk, only smaller and worse.
        if (ffmpegRunFailedToWrite(error.status(), error.log()))
            throw;
        QStringList second;
        if (target == VideoTarget::prores)
            second = replacingOptionValue(QStringLiteral("-pix_fmt"), QStringLiteral("yuv422p10le"),
                                          replacingOptionValue(QStringLiteral("-c:v"),
                                                               QStringLiteral("prores_ks"), first));
        else if (first.contains(QStringLiteral("copy")))
            second = videoConvertArgs(file.url, output, target, info, settings, false);
        else
            throw;
        runMediaStep(second, info.duration, context, work);
    }
    return work.place(output, extension);
}

QUrl convertAudio(const FileInfo& file, AudioTarget target, const OperationContext& context,
                  const MediaWork& work)
{
    MediaInfo info = probeMediaInput(file, context, work);
    const AudioStreamInfo audio = requireAudio(info);
    const QString extension = audioTargetFileExtension(target);
    const QUrl output = work.workFile(extension);

    QStringList limit;
    if (target == AudioTarget::m4r && info.duration && *info.duration > ringtoneSeconds) {
        if (context.notes)
            context.notes->addMessage(ringtoneLimitNote);
        limit = {QStringLiteral("-t"), QStringLiteral("40")};
    }
    std::optional<double> duration = info.duration;
    if (!limit.isEmpty())
        duration = std::min(duration.value_or(0.0), ringtoneSeconds);

    const std::optional<AudioCopyContainer> copy = audioCopyContainer(audio.codec);
    QStringList arguments;
    if (file.category == FileCategory::video && limit.isEmpty() && copy
        && copy->fileExtension == extension && target != AudioTarget::alac) {
        arguments = mediaInput(file.url, info);
        arguments << QStringLiteral("-map") << QStringLiteral("0:a:0") << QStringLiteral("-vn")
                  << QStringLiteral("-c:a") << QStringLiteral("copy") << QStringLiteral("-f") << copy->muxer
                  << mediaOperand(output);
    } else {
        arguments = mediaInput(file.url, info);
        arguments << QStringLiteral("-map") << QStringLiteral("0:a:0");
        if (file.category != FileCategory::video)
            leaveOutDamagedCovers(file.url, info, target, context, work);
        const bool dropPictures = file.category == FileCategory::video || info.video || info.coversLeftOut
            || !audioTargetHoldsCover(target) || info.container.value_or(QString()).contains(QLatin1String("matroska"));
        if (dropPictures)
            arguments << QStringLiteral("-vn");
        else
            arguments << QStringLiteral("-map") << QStringLiteral("0:v?") << QStringLiteral("-c:v")
                      << coverEncoder(info) << QStringLiteral("-disposition:v")
                      << QStringLiteral("attached_pic");
        if (target == AudioTarget::mp3)
            arguments << QStringLiteral("-id3v2_version") << QStringLiteral("3");
        arguments << audioTargetArgs(target, info, context.settings, context.options);
        arguments << sampleRateArgs(target, context, info.audio);
        arguments << limit << QStringLiteral("-f") << audioTargetMuxer(target) << mediaOperand(output);
    }
    runMediaStep(arguments, duration, context, work);
    return work.place(output, extension);
}

} // namespace qv
