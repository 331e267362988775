#include "editors/media/MediaPreviewArguments.h"

#include "platform/processes/FFmpegInvocation.h"

namespace qv {

QStringList proxyArguments(bool audio, const QString& source, const std::optional<QString>& demuxer,
                           const QString& proxy)
{
    const QStringList input = ffmpegInputArgs(source, demuxer);
    if (audio) {
        return input + QStringList{"-map", "0:a:0", "-vn", "-c:a", "aac", "-b:a", "128k", "-f", "ipod",
                                   ffmpegFileOperand(proxy)};
    }
    return input + QStringList{"-map", "0:V:0", "-map", "0:a:0?",
                               "-vf", "scale=-2:'min(480,ih)'", "-c:v", "libx264", "-preset", "veryfast",
                               "-b:v", "1200k", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "96k", "-f", "mp4",
                               ffmpegFileOperand(proxy)};
}

QStringList frameArguments(double seconds, const QString& source, const std::optional<QString>& demuxer)
{
    return QStringList{"-nostdin", "-hide_banner", "-loglevel", "error",
                       "-ss", QString::number(seconds, 'f', 3), "-noaccurate_seek"}
           + ffmpegInputArgs(source, demuxer)
           + QStringList{"-map", "0:V:0", "-frames:v", "1", "-vf", "scale=360:180:force_original_aspect_ratio=decrease",
                         "-c:v", "ppm", "-f", "image2pipe", "pipe:1"};
}

QStringList waveformArguments(const QString& source, const std::optional<QString>& demuxer)
{
    return QStringList{"-nostdin", "-hide_banner", "-loglevel", "error"} + ffmpegInputArgs(source, demuxer)
           + QStringList{"-map", "0:a:0", "-vn", "-ac", "1", "-ar", "8000", "-c:a", "pcm_s16le", "-f", "s16le",
                         "pipe:1"};
}

} // namespace qv
