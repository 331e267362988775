#include "engines/media/MediaRun.h"

#include "engines/media/EncoderArguments.h"
#include "engines/media/MediaProbe.h"
#include "model/CancellationError.h"
#include "model/Capabilities.h"
#include "model/JobNotes.h"
#include "model/Progress.h"
#include "platform/FFmpegInvocation.h"

#include <algorithm>

namespace qv {

namespace {

std::optional<QUrl> program(const MediaWork& work)
{
    return work.ffmpeg ? *work.ffmpeg : Capabilities::shared().ffmpegURL();
}

} // namespace

MediaInfo probeMediaInput(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    return probeMediaInfo(program(work), file.url, context.stopToken);
}

void runMediaStep(const QStringList& arguments, std::optional<double> duration, const OperationContext& context,
                  const MediaWork& work, bool report)
{
    FFmpegProgressContext progress;
    progress.progress = report ? work.progress : nullptr;
    progress.duration = duration && *duration > 0 ? duration : std::nullopt;
    const ProcessRunner::Output output = runFFmpeg(program(work), arguments, context.stopToken, progress);
    throwIfCancelled(context.stopToken);
    checkFFmpegRun(output);
    if (report && work.progress)
        reportProgress(1.0, *work.progress);
}

QString mediaOperand(const QUrl& url)
{
    return ffmpegFileOperand(url.toLocalFile());
}

QStringList mediaInput(const QUrl& url, const MediaInfo& info)
{
    return ffmpegInputArgs(url.toLocalFile(), info.demuxer);
}

QString mediaSeconds(double seconds)
{
    return QString::number(std::max(seconds, 0.0), 'f', 3);
}

QString audioTargetMuxer(AudioTarget target)
{
    switch (target) {
    case AudioTarget::mp3: return QStringLiteral("mp3");
    case AudioTarget::m4a:
    case AudioTarget::alac:
    case AudioTarget::m4r: return QStringLiteral("ipod");
    case AudioTarget::wav: return QStringLiteral("wav");
    case AudioTarget::aiff: return QStringLiteral("aiff");
    case AudioTarget::flac: return QStringLiteral("flac");
    case AudioTarget::ogg: return QStringLiteral("ogg");
    case AudioTarget::opus: return QStringLiteral("opus");
    case AudioTarget::caf: return QStringLiteral("caf");
    }
    return {};
}

bool audioTargetHoldsCover(AudioTarget target)
{
    return target == AudioTarget::mp3 || target == AudioTarget::m4a || target == AudioTarget::alac
        || target == AudioTarget::flac;
}

QStringList audioPictureArgs(const MediaInfo& info, AudioTarget target)
{
    const bool keepCover = !info.video && audioTargetHoldsCover(target)
        && !info.container.value_or(QString()).contains(QLatin1String("matroska"));
    if (!keepCover)
        return {QStringLiteral("-vn")};
    return {"-map", "0:v?", "-c:v", "copy", "-disposition:v", "attached_pic"};
}

QStringList audioReencodeArgs(const MediaInfo& info, AudioTarget target, const OperationContext& context)
{
    QStringList args{"-map", "0:a:0"};
    args << audioPictureArgs(info, target);
    if (target == AudioTarget::mp3)
        args << "-id3v2_version" << "3";
    args << audioTargetArgs(target, info, context.settings, context.options);
    args << sampleRateArgs(target, context);
    return args;
}

QString kilohertzText(int rate)
{
    return QString::number(rate / 1000.0, 'g', 6) + QStringLiteral(" kHz");
}

QStringList sampleRateArgs(AudioTarget target, const OperationContext& context)
{
    const int rate = context.options.sampleRate.value_or(context.settings.sampleRate);
    if (rate < 1)
        return {};
    const int written = audioTargetSampleRate(target, rate);
    if (written != rate && context.notes)
        context.notes->addMessage(audioTargetRawValue(target).toUpper() + QStringLiteral(" can't use ")
                                  + kilohertzText(rate) + QStringLiteral(": used ") + kilohertzText(written));
    return {QStringLiteral("-ar"), QString::number(written)};
}

VideoContainer reencodedVideoContainer(const FileInfo& file)
{
    const QString id = file.format ? file.format->id : QString();
    if (id == QLatin1String("mov"))
        return {QStringLiteral("mov"), QStringLiteral("mov")};
    if (id == QLatin1String("m4v"))
        return {QStringLiteral("m4v"), QStringLiteral("mp4")};
    return {QStringLiteral("mp4"), QStringLiteral("mp4")};
}

QString suffixedName(const QString& baseName, const QString& suffix)
{
    return suffix.isEmpty() ? baseName : baseName + QStringLiteral(" (") + suffix + QLatin1Char(')');
}

QUrl placeWithSuffix(const MediaWork& work, const QUrl& file, const QString& suffix, const QString& extension)
{
    return work.placeNamed(file, suffixedName(work.baseName, suffix), extension);
}

} // namespace qv
