#include "engines/media/operations/MediaSpeed.h"

#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/arguments/MediaFilters.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"

#include <algorithm>

namespace qv {

QUrl changeSpeed(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    MediaInfo info = probeMediaInput(file, context, work);
    const double factor = std::clamp(context.options.speed.value_or(2.0), 0.25, 4.0);
    const QString factorText = ffmpegNumber(factor);
    const QString tag = factorText + QChar(0x00D7);

    QString extension;
    QUrl output;
    std::optional<double> duration = info.duration ? std::optional<double>(*info.duration / factor) : std::nullopt;
    // Chapters keep the old pace, so they would run past the new end: none are kept.
    QStringList args = mediaInput(file.url, info);
    args << "-map_chapters" << "-1";
    if (file.category == FileCategory::audio) {
        const AudioTarget target = audioTargetForFile(file);
        extension = audioTargetFileExtension(target);
        output = work.workFile(extension);
        leaveOutDamagedCovers(file.url, info, target, context, work);
        args << audioReencodeArgs(info, target, context);
        // atempo keeps back up to a window of its last sound when the input ends (all of a
        // tenth of a second of silence, at 2x): it gets silence to finish on, and the result
        // ends where the source's samples, counted, end at the new pace.
        QString filter = atempoChain(factor);
        if (const std::optional<double> seconds = decodedSoundSeconds(file.url, context, work, info.demuxer)) {
            duration = *seconds / factor;
            filter = QStringLiteral("apad=pad_dur=0.5,") + filter + QStringLiteral(",atrim=duration=")
                + QString::number(*duration, 'f', 6);
        }
        args << "-af" << filter << "-f" << audioTargetMuxer(target) << mediaOperand(output);
    } else {
        const VideoStreamInfo video = requireVideo(info);
        const VideoContainer container = reencodedVideoContainer(file);
        extension = container.extension;
        output = work.workFile(extension);
        QString graph = QStringLiteral("[0:v]setpts=PTS/") + factorText;
        if (factor * video.fps.value_or(30.0) > 60)
            graph += QStringLiteral(",fps=60");
        graph += QLatin1Char(',') + scaleFilter(std::nullopt) + QStringLiteral("[v]");
        if (info.audio)
            graph += QStringLiteral(";[0:a]") + atempoChain(factor) + QStringLiteral("[a]");
        args << "-filter_complex" << graph << "-map" << "[v]";
        if (info.audio)
            args << "-map" << "[a]";
        args << h264EncoderArgs(videoBitrate(info, QualityPreset::high, std::nullopt));
        if (info.audio)
            args << "-c:a" << "aac" << "-b:a" << "192k";
        else
            args << "-an";
        args << "-movflags" << "+faststart" << "-f" << container.muxer << mediaOperand(output);
    }
    runMediaStep(args, duration, context, work);
    return placeWithSuffix(work, output, tag, extension);
}

} // namespace qv
