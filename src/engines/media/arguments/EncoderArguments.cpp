#include "engines/media/arguments/EncoderArguments.h"

#include "platform/processes/FFmpegInvocation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace qv {

namespace {

double bitrateFactor(QualityPreset preset)
{
    switch (preset) {
    case QualityPreset::small: return 0.05;
    case QualityPreset::medium: return 0.08;
    case QualityPreset::high: return 0.12;
    }
    return 0.08;
}

int hevcCRF(QualityPreset preset)
{
    switch (preset) {
    case QualityPreset::small: return 30;
    case QualityPreset::medium: return 27;
    case QualityPreset::high: return 24;
    }
    return 27;
}

int mpeg4Quality(QualityPreset preset)
{
    switch (preset) {
    case QualityPreset::small: return 7;
    case QualityPreset::medium: return 4;
    case QualityPreset::high: return 2;
    }
    return 4;
}

int vp9CRF(QualityPreset preset)
{
    switch (preset) {
    case QualityPreset::small: return 38;
    case QualityPreset::medium: return 32;
    case QualityPreset::high: return 26;
    }
    return 32;
}

QString kilobits(int value)
{
    return QString::number(value) + QLatin1Char('k');
}

QString operand(const QUrl& url)
{
    return ffmpegFileOperand(url.toLocalFile());
}

// More than 16 bits per sample; the codec name still counts for PCM sources whose depth the
// probe did not report.
bool isDeepAudio(const std::optional<MediaInfo>& info)
{
    if (!info || !info->audio)
        return false;
    if (info->audio->bitDepth)
        return *info->audio->bitDepth > 16;
    const QString& codec = info->audio->codec;
    return codec.contains(QLatin1String("24")) || codec.contains(QLatin1String("32"));
}

} // namespace

VideoSettings effectiveVideoSettings(const SettingsSnapshot& settings, const OperationOptions& options)
{
    VideoSettings result;
    result.codec = options.videoCodec.value_or(settings.videoCodec);
    result.preset = options.videoPreset.value_or(settings.videoPreset);
    const int resolution = options.maxResolution.value_or(settings.videoMaxResolution);
    if (resolution >= 1)
        result.maxResolution = resolution;
    result.audioBitrate = options.audioBitrate.value_or(settings.videoAudioBitrate);
    result.hardwareEncoding = settings.hardwareEncoding;
    return result;
}

int videoBitrate(const MediaInfo& info, QualityPreset preset, std::optional<int> maxResolution,
                 std::optional<double> factor)
{
    if (!info.video)
        return 4000;
    const VideoStreamInfo& video = *info.video;
    double width = video.width;
    double height = video.height;
    if (std::abs(video.rotation) % 180 == 90)
        std::swap(width, height);
    const double shorter = std::min(width, height);
    if (maxResolution && *maxResolution < shorter) {
        width = std::trunc(width * *maxResolution / shorter);
        height = std::trunc(height * *maxResolution / shorter);
    }
    double rate = 30;
    if (video.fps) {
        const double fps = *video.fps;
        if (fps <= 30)
            rate = fps;
        else if (fps <= 120)
            rate = 30 + (fps - 30) / 2;
        else
            rate = 75;
    }
    const double used = factor.value_or(bitrateFactor(preset));
    const int computed = std::max(300, static_cast<int>(std::trunc(rate * width * height * used / 1000)));
    const std::optional<int> source = video.bitrate ? video.bitrate : info.bitrate;
    if (!source || *source < 1)
        return computed;
    const int cap = static_cast<int>(std::trunc(1.5 * *source));
    return std::max(300, std::min(computed, std::max(cap, 800)));
}

QStringList hevcEncoderArgs(const MediaInfo& info, QualityPreset preset, std::optional<int> kilobitsPerSecond)
{
    QStringList args{"-c:v", "libx265", "-preset", "fast"};
    if (kilobitsPerSecond)
        args << "-b:v" << kilobits(*kilobitsPerSecond);
    else
        args << "-crf" << QString::number(hevcCRF(preset));
    args << "-x265-params" << "log-level=error" << "-tag:v" << "hvc1";
    const bool tenBit = info.video && info.video->pixelFormat
                     && info.video->pixelFormat->contains(QLatin1String("10"));
    if (tenBit)
        args << "-pix_fmt" << "yuv420p10le" << "-profile:v" << "main10";
    else
        args << "-pix_fmt" << "yuv420p";
    return args;
}

QStringList h264EncoderArgs(int kilobitsPerSecond)
{
    return {"-c:v", "libx264", "-preset", "fast", "-b:v", kilobits(kilobitsPerSecond),
            "-profile:v", "high", "-tag:v", "avc1", "-pix_fmt", "yuv420p"};
}

QStringList videoCodecArgs(VideoTarget target, const MediaInfo& info, VideoCodecChoice codec,
                           QualityPreset preset, std::optional<int> maxResolution, bool hardware)
{
    Q_UNUSED(hardware) // there is no hardware encoder to choose
    switch (target) {
    case VideoTarget::mp4:
    case VideoTarget::mov:
    case VideoTarget::mkv:
        if (codec == VideoCodecChoice::hevc)
            return hevcEncoderArgs(info, preset);
        return h264EncoderArgs(videoBitrate(info, preset, maxResolution));
    case VideoTarget::hevc: return hevcEncoderArgs(info, preset);
    case VideoTarget::prores:
        return {"-c:v", "prores_ks", "-profile:v", "standard", "-pix_fmt", "yuv422p10le"};
    case VideoTarget::avi:
        return {"-c:v", "mpeg4", "-vtag", "xvid", "-q:v", QString::number(mpeg4Quality(preset)),
                "-pix_fmt", "yuv420p"};
    case VideoTarget::webm:
        return {"-c:v", "libvpx-vp9", "-crf", QString::number(vp9CRF(preset)), "-b:v", "0",
                "-row-mt", "1", "-deadline", "good", "-cpu-used", "3", "-pix_fmt", "yuv420p"};
    case VideoTarget::gif:
    case VideoTarget::webp: return {};
    }
    return {};
}

QString scaleFilter(std::optional<int> maxResolution, int smallestSide)
{
    const QString m = QString::number(smallestSide);
    const QString width = QStringLiteral("max(") + m + QStringLiteral(",trunc(iw/2)*2)");
    const QString height = QStringLiteral("max(") + m + QStringLiteral(",trunc(ih/2)*2)");
    if (!maxResolution)
        return QStringLiteral("scale='") + width + QStringLiteral("':'") + height + QLatin1Char('\'');
    const QString n = QString::number(*maxResolution);
    return QStringLiteral("scale='if(gte(iw,ih),-2,min(") + n + QLatin1Char(',') + width
         + QStringLiteral("))':'if(gte(iw,ih),min(") + n + QLatin1Char(',') + height + QStringLiteral("),-2)'");
}

QStringList audioArgsForVideo(VideoTarget target, const MediaInfo& info, int audioBitrate)
{
    if (!info.audio)
        return {"-an"};
    const QString& codec = info.audio->codec;
    const QStringList aac{"-c:a", "aac", "-b:a", kilobits(audioBitrate)};
    switch (target) {
    case VideoTarget::mp4:
    case VideoTarget::mov:
    case VideoTarget::hevc:
        return codec == QLatin1String("aac") ? QStringList{"-c:a", "copy"} : aac;
    case VideoTarget::mkv:
        return mkvAudioCodecs().contains(codec) ? QStringList{"-c:a", "copy"} : aac;
    case VideoTarget::webm:
        if (codec == QLatin1String("opus") || codec == QLatin1String("vorbis"))
            return {"-c:a", "copy"};
        return {"-c:a", "libopus", "-b:a", "128k"};
    case VideoTarget::avi:
        if (codec == QLatin1String("mp3"))
            return {"-c:a", "copy"};
        return {"-c:a", "libmp3lame", "-b:a", "192k"};
    case VideoTarget::gif:
    case VideoTarget::webp: return {"-an"};
    case VideoTarget::prores: return {"-c:a", "pcm_s16le"};
    }
    return {"-an"};
}

QStringList videoConvertArgs(const QUrl& input, const QUrl& output, VideoTarget target,
                             const MediaInfo& info, const VideoSettings& settings, bool allowCopy)
{
    const QString scaling = QStringLiteral("fps=15,scale='min(640,iw)':-1:flags=lanczos");
    if (target == VideoTarget::webp)
        return ffmpegInputArgs(input.toLocalFile(), info.demuxer)
            + QStringList{"-vf", scaling, "-an", "-c:v", "libwebp_anim", "-quality", "75",
                          "-loop", "0", "-f", "webp", operand(output)};
    if (target == VideoTarget::gif) {
        const QString graph = QStringLiteral(
            "fps=15,scale='min(640,iw)':-1:flags=lanczos,split[a][b];[a]palettegen=stats_mode=diff[p];"
            "[b][p]paletteuse=dither=bayer:bayer_scale=5");
        return ffmpegInputArgs(input.toLocalFile(), info.demuxer)
            + QStringList{"-filter_complex", graph, "-loop", "0", "-f", "gif", operand(output)};
    }

    QStringList args = ffmpegInputArgs(input.toLocalFile(), info.demuxer);
    args << "-map" << "0:V:0";
    if (const std::optional<QString> mapping = videoTargetAudioMapping(target))
        args << "-map" << *mapping;
    args << subtitleArgs(info, target);
    const bool copy = allowCopy && !settings.maxResolution && canCopyStreams(info, target);
    if (copy) {
        args << "-c:v" << "copy" << "-c:a" << "copy";
        const bool mp4Family = target == VideoTarget::mp4 || target == VideoTarget::mov
                            || target == VideoTarget::hevc;
        if (mp4Family && info.video && info.video->codec == QLatin1String("hevc"))
            args << "-tag:v" << "hvc1";
    } else {
        args << videoCodecArgs(target, info, settings.codec, settings.preset, settings.maxResolution,
                               settings.hardwareEncoding);
        const bool hevc = target == VideoTarget::hevc
                       || (settings.codec == VideoCodecChoice::hevc
                           && (target == VideoTarget::mp4 || target == VideoTarget::mov || target == VideoTarget::mkv));
        args << "-vf" << scaleFilter(settings.maxResolution, hevc ? hevcSmallestSide : 2);
        args << audioArgsForVideo(target, info, settings.audioBitrate);
    }
    if (videoTargetAddsFaststart(target))
        args << "-movflags" << "+faststart";
    args << "-f" << videoTargetMuxer(target) << operand(output);
    return args;
}

QStringList audioTargetArgs(AudioTarget target, const std::optional<MediaInfo>& info,
                            const SettingsSnapshot& settings, const OperationOptions& options)
{
    const int mp3Bitrate = options.audioBitrate.value_or(settings.mp3Bitrate);
    const int aacBitrate = options.audioBitrate.value_or(settings.aacBitrate);
    switch (target) {
    case AudioTarget::mp3: return {"-c:a", "libmp3lame", "-b:a", kilobits(mp3Bitrate)};
    case AudioTarget::m4a: return {"-c:a", "aac", "-b:a", kilobits(aacBitrate)};
    case AudioTarget::alac: return {"-c:a", "alac"};
    case AudioTarget::wav: return {"-c:a", isDeepAudio(info) ? "pcm_s24le" : "pcm_s16le"};
    case AudioTarget::aiff: return {"-c:a", isDeepAudio(info) ? "pcm_s24be" : "pcm_s16be"};
    case AudioTarget::flac: return {"-c:a", "flac"};
    case AudioTarget::ogg: return {"-c:a", "libvorbis", "-q:a", "5"};
    case AudioTarget::opus: {
        const int opus = aacBitrate > 95 ? std::min(aacBitrate / 3 * 2, 256) : 64;
        return {"-c:a", "libopus", "-b:a", kilobits(opus)};
    }
    case AudioTarget::caf: return {"-c:a", "pcm_s16le"};
    case AudioTarget::m4r: return {"-c:a", "aac", "-b:a", "256k"};
    }
    return {};
}

} // namespace qv
