#include "engines/media/MediaProbe.h"

#include "platform/FFmpegInvocation.h"
#include "engines/media/FFmpegProbeParser.h"
#include "engines/media/NativeMediaProbe.h"
#include "model/Capabilities.h"
#include "model/EngineError.h"

namespace qv {

MediaInfo probeMediaInfo(const QUrl& file, std::stop_token stop)
{
    return probeMediaInfo(Capabilities::shared().ffmpegURL(), file, std::move(stop));
}

MediaInfo probeMediaInfo(const std::optional<QUrl>& ffmpeg, const QUrl& file, std::stop_token stop)
{
    const QString name = file.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toLower();
    if (nativeProbeExtensions().contains(extension)) {
        if (auto native = probeNatively(file))
            return *native;
    }
    const QString description = probeWithFFmpeg(ffmpeg, file, std::move(stop));
    MediaInfo info = parseFFmpegProbeOutput(description);
    if (!info.video && !info.audio)
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"), description);
    return info;
}

} // namespace qv
