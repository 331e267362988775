#include "engines/media/probe/FFmpegProbeParser.h"

#include <cmath>

namespace qv {

namespace {

// Each pattern is compiled once, here, so that the threads that share it afterwards only read it.
QRegularExpression compiled(const QString& pattern)
{
    QRegularExpression re(pattern);
    re.optimize();
    return re;
}

const QRegularExpression& durationPattern()
{
    static const QRegularExpression re = compiled(QStringLiteral(R"(Duration: (\d+):(\d{2}):(\d{2}(?:\.\d+)?))"));
    return re;
}
const QRegularExpression& overallBitratePattern()
{
    static const QRegularExpression re = compiled(QStringLiteral(R"(bitrate: (\d+) kb/s)"));
    return re;
}
const QRegularExpression& frameSizePattern()
{
    // Two digits at least, so a codec tag such as 0x31637661 is no size.
    static const QRegularExpression re = compiled(QStringLiteral(R"((\d{2,5})x(\d{2,5}))"));
    return re;
}
const QRegularExpression& frameRatePattern()
{
    static const QRegularExpression re = compiled(QStringLiteral(R"(([\d.]+) fps)"));
    return re;
}
const QRegularExpression& streamBitratePattern()
{
    static const QRegularExpression re = compiled(QStringLiteral(R"((\d+) kb/s)"));
    return re;
}
const QRegularExpression& pixelFormatPattern()
{
    static const QRegularExpression re = compiled(QStringLiteral(
        R"(, ((?:yuv|yuvj|nv|p0|rgb|bgr|gray|pal|argb|rgba|bgra|abgr|gbr|ya)[a-z0-9]*))"));
    return re;
}
const QRegularExpression& sampleRatePattern()
{
    static const QRegularExpression re = compiled(QStringLiteral(R"((\d+) Hz)"));
    return re;
}
const QRegularExpression& channelLayoutPattern()
{
    static const QRegularExpression re = compiled(QStringLiteral(R"( (\d)\.(\d))"));
    return re;
}
// "1 channels (FL)": a count, where the layout has no name.
const QRegularExpression& channelCountPattern()
{
    static const QRegularExpression re = compiled(QStringLiteral(R"(, (\d+) channels\b)"));
    return re;
}
// An integer sample format, planar or not, with the bits that matter when the decoder says
// ("s32 (24 bit)" for 24-bit FLAC and ALAC). Float formats are left out on purpose.
const QRegularExpression& sampleFormatPattern()
{
    static const QRegularExpression re = compiled(QStringLiteral(R"(, [su](8|16|24|32|64)p?(?: \((\d+) bit\))?(?=,|$))"));
    return re;
}
const QRegularExpression& rotationPattern()
{
    static const QRegularExpression re = compiled(QStringLiteral(R"(rotation of (-?\d+(?:\.\d+)?) degrees)"));
    return re;
}
const QRegularExpression& tokenSeparators()
{
    static const QRegularExpression re = compiled(QStringLiteral(R"([\s,]+)"));
    return re;
}

std::optional<int> toInt(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

std::optional<double> toDouble(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<int> firstInt(const QRegularExpression& pattern, const QString& text)
{
    const auto captures = firstMatchCaptures(pattern, text);
    return captures && !captures->isEmpty() ? toInt(captures->first()) : std::nullopt;
}

std::optional<QString> codecToken(const QString& details)
{
    const QStringList pieces = details.split(tokenSeparators(), Qt::SkipEmptyParts);
    return pieces.isEmpty() ? std::nullopt : std::optional<QString>(pieces.first());
}

QString detailsAfter(const QString& line, QLatin1StringView marker)
{
    return line.mid(line.lastIndexOf(marker) + marker.size());
}

VideoStreamInfo parseVideo(const QString& details)
{
    VideoStreamInfo video;
    video.codec = codecToken(details).value_or(QStringLiteral("unknown"));
    if (const auto size = firstMatchCaptures(frameSizePattern(), details)) {
        const auto width = toInt(size->at(0));
        const auto height = toInt(size->at(1));
        if (width && height) {
            video.width = *width;
            video.height = *height;
        }
    }
    if (const auto rate = firstMatchCaptures(frameRatePattern(), details))
        video.fps = toDouble(rate->first());
    video.bitrate = firstInt(streamBitratePattern(), details);
    if (const auto format = firstMatchCaptures(pixelFormatPattern(), details))
        video.pixelFormat = format->first();
    return video;
}

AudioStreamInfo parseAudio(const QString& details)
{
    AudioStreamInfo audio;
    audio.codec = codecToken(details).value_or(QStringLiteral("unknown"));
    audio.sampleRate = firstInt(sampleRatePattern(), details);
    if (details.contains(QLatin1StringView(" mono"))) {
        audio.channels = 1;
    } else if (details.contains(QLatin1StringView(" stereo"))) {
        audio.channels = 2;
    } else if (const auto layout = firstMatchCaptures(channelLayoutPattern(), details)) {
        const auto front = toInt(layout->at(0));
        const auto low = toInt(layout->at(1));
        if (front && low)
            audio.channels = *front + *low;
    } else if (const auto counted = firstMatchCaptures(channelCountPattern(), details)) {
        // "1 channels (FL)": a count and the speakers a channel mask names.
        audio.channels = toInt(counted->first());
    }
    audio.bitrate = firstInt(streamBitratePattern(), details);
    if (const auto format = firstMatchCaptures(sampleFormatPattern(), details))
        audio.bitDepth = toInt(format->at(1).isEmpty() ? format->at(0) : format->at(1));
    return audio;
}

// The display matrix turns counter-clockwise; we keep the clockwise angle, in 0 to 359.
std::optional<int> rotationFrom(const QString& line)
{
    if (!line.toLower().contains(QLatin1StringView("rotation of")))
        return std::nullopt;
    const auto captures = firstMatchCaptures(rotationPattern(), line);
    if (!captures)
        return std::nullopt;
    const auto value = toDouble(captures->first());
    if (!value || std::fabs(*value) > 1e9)
        return std::nullopt;
    const long turned = std::lround(-*value) % 360;
    return int(turned < 0 ? turned + 360 : turned);
}

} // namespace

std::optional<QStringList> firstMatchCaptures(const QRegularExpression& pattern, const QString& text)
{
    if (!pattern.isValid())
        return std::nullopt;
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    QStringList captures;
    for (int group = 1; group <= pattern.captureCount(); ++group)
        captures.append(match.hasCaptured(group) ? match.captured(group) : QString(QLatin1StringView("")));
    return captures;
}

MediaInfo parseFFmpegProbeOutput(const QString& text)
{
    static constexpr QLatin1StringView inputPrefix("Input #0, ");
    static constexpr QLatin1StringView videoMarker(": Video: ");
    static constexpr QLatin1StringView audioMarker(": Audio: ");
    static constexpr QLatin1StringView subtitleMarker(": Subtitle: ");

    MediaInfo info;
    bool afterVideo = false;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(inputPrefix)) {
            const QString rest = line.mid(inputPrefix.size());
            info.container = rest.left(rest.indexOf(QLatin1StringView(", from")));
        } else if (line.startsWith(QLatin1StringView("Duration:"))) {
            if (const auto time = firstMatchCaptures(durationPattern(), line)) {
                const auto hours = toDouble(time->at(0));
                const auto minutes = toDouble(time->at(1));
                const auto seconds = toDouble(time->at(2));
                if (hours && minutes && seconds)
                    info.duration = *hours * 3600 + *minutes * 60 + *seconds;
            }
            if (const auto bitrate = firstInt(overallBitratePattern(), line))
                info.bitrate = bitrate;
        } else if (line.startsWith(QLatin1StringView("Stream #"))) {
            const bool firstVideo = line.contains(videoMarker) && !info.video
                && !line.contains(QLatin1StringView("attached pic"));
            afterVideo = firstVideo;
            if (firstVideo) {
                info.video = parseVideo(detailsAfter(line, videoMarker));
            } else if (line.contains(videoMarker)) {
                // A later video stream or a cover picture.
                if (line.contains(QLatin1StringView("attached pic")))
                    if (const auto codec = codecToken(detailsAfter(line, videoMarker)))
                        info.coverCodecs.append(*codec);
            } else if (line.contains(audioMarker)) {
                ++info.audioStreamCount;
                if (!info.audio)
                    info.audio = parseAudio(detailsAfter(line, audioMarker));
            } else if (line.contains(subtitleMarker)) {
                if (const auto codec = codecToken(detailsAfter(line, subtitleMarker)))
                    info.subtitleCodecs.append(*codec);
            }
        } else if (afterVideo) {
            if (const auto rotation = rotationFrom(line))
                info.video->rotation = *rotation;
        }
    }
    return info;
}

} // namespace qv
