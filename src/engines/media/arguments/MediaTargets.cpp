#include "engines/media/arguments/MediaTargets.h"

#include <cstdlib>

namespace qv {

namespace {

const QStringList& webmVideoCodecs()
{
    static const QStringList codecs{"vp8", "vp9", "av1"};
    return codecs;
}

const QStringList& webmAudioCodecs()
{
    static const QStringList codecs{"opus", "vorbis"};
    return codecs;
}

const QStringList& aviVideoCodecs()
{
    static const QStringList codecs{"mpeg4", "mjpeg", "msmpeg4v3"};
    return codecs;
}

const QStringList& aviAudioCodecs()
{
    static const QStringList codecs{"mp3", "ac3", "pcm_s16le"};
    return codecs;
}

bool isPCM(const QString& codec)
{
    return codec.startsWith(QLatin1String("pcm"));
}

} // namespace

const QList<VideoTarget>& allVideoTargets()
{
    static const QList<VideoTarget> targets{VideoTarget::mp4,  VideoTarget::mov,  VideoTarget::mkv,
                                            VideoTarget::webm, VideoTarget::avi,  VideoTarget::gif,
                                            VideoTarget::webp, VideoTarget::hevc, VideoTarget::prores};
    return targets;
}

QString videoTargetFileExtension(VideoTarget target)
{
    switch (target) {
    case VideoTarget::mp4: return QStringLiteral("mp4");
    case VideoTarget::mov: return QStringLiteral("mov");
    case VideoTarget::mkv: return QStringLiteral("mkv");
    case VideoTarget::webm: return QStringLiteral("webm");
    case VideoTarget::avi: return QStringLiteral("avi");
    case VideoTarget::gif: return QStringLiteral("gif");
    case VideoTarget::webp: return QStringLiteral("webp");
    case VideoTarget::hevc: return QStringLiteral("mp4");
    case VideoTarget::prores: return QStringLiteral("mov");
    }
    return {};
}

QString videoTargetLabel(VideoTarget target)
{
    switch (target) {
    case VideoTarget::hevc: return QStringLiteral("HEVC");
    case VideoTarget::prores: return QStringLiteral("PRORES");
    default: return videoTargetFileExtension(target).toUpper();
    }
}

QString videoTargetMuxer(VideoTarget target)
{
    switch (target) {
    case VideoTarget::mkv: return QStringLiteral("matroska");
    default: return videoTargetFileExtension(target);
    }
}

bool videoTargetAddsFaststart(VideoTarget target)
{
    return target == VideoTarget::mp4 || target == VideoTarget::mov || target == VideoTarget::hevc
        || target == VideoTarget::prores;
}

std::optional<QString> videoTargetAudioMapping(VideoTarget target)
{
    switch (target) {
    case VideoTarget::webm:
    case VideoTarget::avi: return QStringLiteral("0:a:0?");
    case VideoTarget::gif:
    case VideoTarget::webp: return std::nullopt;
    default: return QStringLiteral("0:a?");
    }
}

const QList<AudioTarget>& allAudioTargets()
{
    static const QList<AudioTarget> targets{AudioTarget::mp3,  AudioTarget::m4a,  AudioTarget::alac,
                                            AudioTarget::wav,  AudioTarget::aiff, AudioTarget::flac,
                                            AudioTarget::ogg,  AudioTarget::opus, AudioTarget::caf,
                                            AudioTarget::m4r};
    return targets;
}

QString audioTargetRawValue(AudioTarget target)
{
    static const QStringList values{"mp3", "m4a", "alac", "wav", "aiff", "flac", "ogg", "opus", "caf", "m4r"};
    return values.at(static_cast<int>(target));
}

std::optional<AudioTarget> audioTargetFromText(const QString& text)
{
    for (AudioTarget target : allAudioTargets())
        if (audioTargetRawValue(target) == text)
            return target;
    return std::nullopt;
}

QString audioTargetFileExtension(AudioTarget target)
{
    return target == AudioTarget::alac ? QStringLiteral("m4a") : audioTargetRawValue(target);
}

bool audioTargetIsLossless(AudioTarget target)
{
    return target == AudioTarget::alac || target == AudioTarget::wav || target == AudioTarget::aiff
        || target == AudioTarget::flac || target == AudioTarget::caf;
}

int audioTargetSampleRate(AudioTarget target, int rate)
{
    static const QList<int> opus{8000, 12000, 16000, 24000, 48000};
    static const QList<int> mp3{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    static const QList<int> aac{7350,  8000,  11025, 12000, 16000, 22050, 24000,
                                32000, 44100, 48000, 64000, 88200, 96000};
    const QList<int>* rates = nullptr;
    switch (target) {
    case AudioTarget::opus: rates = &opus; break;
    case AudioTarget::mp3: rates = &mp3; break;
    case AudioTarget::m4a:
    case AudioTarget::m4r: rates = &aac; break;
    case AudioTarget::flac: {
        // FLAC holds rates up to 655350 Hz: DSD128's 705.6 kHz, decimated, is halved.
        int fitted = rate;
        while (fitted > 655350)
            fitted /= 2;
        return fitted;
    }
    default: return rate;
    }
    int best = rates->first();
    for (int candidate : *rates)
        if (std::abs(qint64(candidate) - rate) <= std::abs(qint64(best) - rate))
            best = candidate;
    return best;
}

const QStringList& mp4VideoCodecs()
{
    static const QStringList codecs{"h264", "hevc", "av1", "mpeg4"};
    return codecs;
}

const QStringList& movVideoCodecs()
{
    static const QStringList codecs{"h264", "hevc", "prores", "mjpeg", "mpeg4"};
    return codecs;
}

const QStringList& mkvVideoCodecs()
{
    static const QStringList codecs{"h264",  "hevc",   "av1",   "vp8",       "vp9",  "mpeg4", "mpeg2video",
                                    "prores", "mjpeg", "theora", "msmpeg4v3", "wmv3", "vc1",   "h263"};
    return codecs;
}

const QStringList& mp4AudioCodecs()
{
    static const QStringList codecs{"aac", "mp3", "alac", "ac3", "eac3"};
    return codecs;
}

const QStringList& mkvAudioCodecs()
{
    static const QStringList codecs{"aac",  "mp3", "opus",      "vorbis",    "flac",      "ac3",    "eac3", "alac",
                                    "dts",  "mp2", "pcm_s16le", "pcm_s24le", "pcm_f32le", "truehd", "wmav2"};
    return codecs;
}

const QStringList& textSubtitleCodecs()
{
    static const QStringList codecs{"subrip", "srt", "ass", "ssa", "webvtt", "mov_text", "text"};
    return codecs;
}

bool canCopyStreams(const MediaInfo& info, VideoTarget target)
{
    if (!info.video)
        return false;
    const QString& video = info.video->codec;
    const std::optional<QString> audio =
        info.audio ? std::optional<QString>(info.audio->codec) : std::nullopt;
    // Debian's Matroska, WebM and AVI muxers drop the display rotation: re-encoding stands the
    // picture upright instead of leaving it sideways.
    const bool rotated = info.video->rotation % 360 != 0;
    switch (target) {
    case VideoTarget::mp4:
        return mp4VideoCodecs().contains(video) && (!audio || mp4AudioCodecs().contains(*audio));
    case VideoTarget::mov:
        return movVideoCodecs().contains(video)
            && (!audio || mp4AudioCodecs().contains(*audio) || isPCM(*audio));
    case VideoTarget::mkv:
        return !rotated && mkvVideoCodecs().contains(video)
            && (!audio || mkvAudioCodecs().contains(*audio) || isPCM(*audio));
    case VideoTarget::webm:
        return !rotated && webmVideoCodecs().contains(video)
            && (!audio || webmAudioCodecs().contains(*audio));
    case VideoTarget::avi:
        return !rotated && aviVideoCodecs().contains(video)
            && (!audio || aviAudioCodecs().contains(*audio));
    case VideoTarget::hevc:
        return video == QLatin1String("hevc") && (!audio || mp4AudioCodecs().contains(*audio));
    case VideoTarget::gif:
    case VideoTarget::webp:
    case VideoTarget::prores: return false;
    }
    return false;
}

QStringList subtitleArgs(const MediaInfo& info, VideoTarget target)
{
    if (info.subtitleCodecs.isEmpty())
        return {};
    for (const QString& codec : info.subtitleCodecs)
        if (!textSubtitleCodecs().contains(codec))
            return {};
    switch (target) {
    case VideoTarget::mp4:
    case VideoTarget::mov:
    case VideoTarget::hevc: return {"-map", "0:s?", "-c:s", "mov_text"};
    case VideoTarget::mkv: {
        static const QStringList copyable{"subrip", "srt", "ass", "ssa", "webvtt"};
        bool copy = true;
        for (const QString& codec : info.subtitleCodecs)
            copy = copy && copyable.contains(codec);
        return {"-map", "0:s?", "-c:s", copy ? QStringLiteral("copy") : QStringLiteral("srt")};
    }
    default: return {};
    }
}

std::optional<AudioCopyContainer> audioCopyContainer(const QString& codec)
{
    if (codec == QLatin1String("aac") || codec == QLatin1String("alac"))
        return AudioCopyContainer{"m4a", "ipod"};
    if (codec == QLatin1String("vorbis"))
        return AudioCopyContainer{"ogg", "ogg"};
    static const QStringList sameName{"mp3", "opus", "flac", "ac3", "eac3"};
    if (sameName.contains(codec))
        return AudioCopyContainer{codec, codec};
    static const QStringList wav{"pcm_s16le", "pcm_s24le", "pcm_s32le", "pcm_f32le", "pcm_u8"};
    if (wav.contains(codec))
        return AudioCopyContainer{"wav", "wav"};
    return std::nullopt;
}

} // namespace qv
