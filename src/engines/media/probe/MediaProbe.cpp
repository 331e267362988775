#include "engines/media/probe/MediaProbe.h"

#include "engines/media/probe/AlsStreamConfig.h"
#include "engines/media/probe/FFmpegProbeParser.h"
#include "engines/media/probe/IsoMediaFile.h"
#include "engines/media/probe/MpegAudioFrames.h"
#include "engines/media/probe/NativeMediaProbe.h"
#include "engines/media/probe/OggPages.h"
#include "model/errors/EngineError.h"
#include "model/files/FileFormat.h"
#include "model/operations/Capabilities.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/FFmpegInvocation.h"
#include "platform/processes/ProcessRunner.h"

#include <QHash>
#include <QRegularExpression>

namespace qv {

namespace {

// FFmpeg scores a guess from the file's bytes; above this it saw a real header, at or below it
// only a raw stream that looked plausible (libavformat's AVPROBE_SCORE_EXTENSION).
constexpr int weakGuessScore = 50;

std::optional<int> guessScore(const QString& debugText)
{
    static const QRegularExpression pattern(QStringLiteral(R"(probed with size=\d+ and score=(\d+))"));
    const auto captures = firstMatchCaptures(pattern, debugText);
    if (!captures)
        return std::nullopt;
    bool ok = false;
    const int score = captures->first().toInt(&ok);
    return ok ? std::optional<int>(score) : std::nullopt;
}

bool hasStreams(const MediaInfo& info)
{
    return info.video || info.audio;
}

QString lowerExtension(const QUrl& file)
{
    const QString name = file.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

// FFmpeg's description of the file: read in this process where that is allowed and the type is
// one to read so, from the FFmpeg program otherwise and whenever that read finds no stream.
QString describe(const std::optional<QUrl>& ffmpeg, const QUrl& file, std::stop_token stop,
                 const QStringList& inputOptions = {})
{
    if (nativeProbeAllowed() && nativeProbeExtensions().contains(lowerExtension(file))) {
        if (std::optional<QString> text = describeNatively(file, stop, inputOptions);
            text && hasStreams(parseFFmpegProbeOutput(*text)))
            return *text;
    }
    return probeWithFFmpeg(ffmpeg, file, std::move(stop), inputOptions);
}

// How long the file lasts by its packets' own times, every packet read and none decoded:
// nothing when FFmpeg cannot read it through.
std::optional<double> packetDuration(const QUrl& ffmpeg, const QUrl& file, const QString& demuxer,
                                     std::stop_token stop)
{
    static const QRegularExpression outTime(QStringLiteral(R"(^out_time_us=(\d+)$)"));
    std::optional<double> seconds;
    const ProcessRunner::Output output = ProcessRunner::run(
        ffmpeg,
        ffmpegArgumentPrefix() + ffmpegInputArgs(file.toLocalFile(), demuxer)
            + QStringList{"-map", "0", "-c", "copy", "-f", "null", "-"},
        std::move(stop), QHash<QString, QString>{}, appTemporaryRoot(), [&seconds](const QString& line) {
            const QRegularExpressionMatch match = outTime.match(line.trimmed());
            if (match.hasMatch())
                seconds = match.captured(1).toLongLong() / 1e6;
        });
    if (output.status != 0 || output.terminatedBySignal || !seconds || !(*seconds > 0))
        return std::nullopt;
    return seconds;
}

// The streams every run can use: a sound FFmpeg cannot decode whole is no sound to convert.
MediaInfo withoutUndecodableSound(MediaInfo info, const QUrl& file)
{
    if (!soundDecodable(file, info)) {
        info.audio.reset();
        info.audioStreamCount = 0;
    }
    return info;
}

} // namespace

bool soundDecodable(const QUrl& file, const MediaInfo& info)
{
    if (!info.audio || info.audio->codec != QLatin1String("mp4als") || !containerIs(info.container, QStringLiteral("mov")))
        return true;
    const std::optional<QByteArray> config = IsoMediaFile::soundDecoderConfig(file.toLocalFile());
    const std::optional<AlsStreamConfig> als = config ? AlsStreamConfig::read(*config) : std::nullopt;
    return !als || als->ffmpegDecodes();
}

std::optional<QString> demuxerForExtension(const QString& extension)
{
    if (extension == QLatin1String("eac3"))
        return QStringLiteral("eac3");
    const std::optional<FileFormat> format = formatForExtension(extension);
    if (!format)
        return std::nullopt;
    static const QHash<QString, QString> demuxers{
        {"mp3", "mp3"},       {"m4a", "mov"},   {"m4r", "mov"},   {"mp4", "mov"},     {"mov", "mov"},
        {"m4v", "mov"},       {"3gp", "mov"},   {"aac", "aac"},   {"wav", "wav"},     {"aiff", "aiff"},
        {"caf", "caf"},       {"flac", "flac"}, {"ogg", "ogg"},   {"opus", "ogg"},    {"ogv", "ogg"},
        {"wma", "asf"},       {"wmv", "asf"},   {"ape", "ape"},   {"ac3", "ac3"},     {"dts", "dts"},
        {"amr", "amr"},       {"mka", "matroska"}, {"mkv", "matroska"}, {"webm", "matroska"},
        {"avi", "avi"},       {"flv", "flv"},   {"ts", "mpegts"}, {"mxf", "mxf"}};
    const auto found = demuxers.constFind(format->id);
    return found == demuxers.constEnd() ? std::nullopt : std::optional<QString>(*found);
}

bool containerIs(const std::optional<QString>& container, const QString& demuxer)
{
    return container && container->split(QLatin1Char(',')).contains(demuxer);
}

MediaInfo probeMediaInfo(const QUrl& file, std::stop_token stop)
{
    return probeMediaInfo(Capabilities::shared().ffmpegURL(), file, std::move(stop));
}

MediaInfo probeMediaInfo(const std::optional<QUrl>& ffmpeg, const QUrl& file, std::stop_token stop)
{
    const MediaInfo info = withoutUndecodableSound(describeMediaFile(ffmpeg, file, std::move(stop)).info, file);
    if (!hasStreams(info))
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                          QStringLiteral("FFmpeg's decoder can't read this MPEG-4 ALS sound (floating-point samples "
                                         "or RLS-LMS prediction)"));
    return info;
}

std::optional<MediaInfo> mediaInfoFromDescription(const QString& description, const QUrl& file)
{
    const QString extension = lowerExtension(file);
    MediaInfo info = withoutUndecodableSound(parseFFmpegProbeOutput(description), file);
    const std::optional<QString> named = demuxerForExtension(extension);
    if ((named && !containerIs(info.container, *named)) || !hasStreams(info))
        return std::nullopt;
    // A length the frames may have to tell: that takes the file.
    if (containerIs(info.container, QStringLiteral("mp3")) && description.contains(QLatin1String(mp3LengthWarning)))
        return std::nullopt;
    if (info.container)
        info.demuxer = info.container->section(QLatin1Char(','), 0, 0);
    return info;
}

DescribedMedia describeMediaFile(const std::optional<QUrl>& ffmpeg, const QUrl& file, std::stop_token stop)
{
    const QString extension = lowerExtension(file);
    QString description = describe(ffmpeg, file, stop);
    MediaInfo info = parseFFmpegProbeOutput(description);
    bool alone = true;

    // FFmpeg guesses the format from the bytes alone. Junk before an MP3's first frame can look
    // like another raw stream (AMR, say) and be read as minutes of noise: a guess that
    // disagrees with the name is believed only when FFmpeg found a real header.
    const std::optional<QString> named = demuxerForExtension(extension);
    if (named && !containerIs(info.container, *named)) {
        alone = false;
        const std::optional<int> score =
            guessScore(describe(ffmpeg, file, stop, {"-loglevel", "debug"}));
        // A recorder's header before an MP3 can make FFmpeg sure of another format (AMR, by its
        // magic): a chain of MPEG audio frames further in says the name is right.
        const bool framesFound = *named == QLatin1String("mp3")
            && MpegAudioFrames::chainStart(file.toLocalFile()).has_value();
        if (!hasStreams(info) || !score || *score <= weakGuessScore || framesFound) {
            const QString forced = describe(ffmpeg, file, stop, {"-f", *named});
            MediaInfo asNamed = parseFFmpegProbeOutput(forced);
            if (hasStreams(asNamed)) {
                info = asNamed;
                info.guessOverruled = true;
                description = forced;
                // The junk counts towards a length guessed from the bitrate; the packets know
                // better.
                if (forced.contains(QLatin1String("Estimating duration from bitrate"))) {
                    if (const auto measured = packetDuration(*ffmpeg, file, *named, stop))
                        info.duration = measured;
                }
            }
        }
    }
    if (!hasStreams(info)) {
        // Whole pages and no sound in them (a Speex file of its headers alone) are no damage.
        if (OggPages::allWhole(file.toLocalFile()))
            throw EngineError(QStringLiteral("This file has no usable audio or video"), description);
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"), description);
    }
    // A VBR MP3 whose Xing or VBRI header miscounts its frames: the header's length is wrong, the
    // frames' is right when they run whole to the end.
    if (ffmpeg && containerIs(info.container, QStringLiteral("mp3"))
        && description.contains(QLatin1String(mp3LengthWarning)) && MpegAudioFrames::runToTheEnd(file.toLocalFile())) {
        alone = false;
        if (const auto measured = packetDuration(*ffmpeg, file, QStringLiteral("mp3"), stop))
            info.duration = measured;
    }
    if (info.container)
        info.demuxer = info.container->section(QLatin1Char(','), 0, 0);
    return {info, alone ? std::optional<QString>(description) : std::nullopt};
}

} // namespace qv
