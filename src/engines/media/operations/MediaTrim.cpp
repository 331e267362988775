#include "engines/media/operations/MediaTrim.h"

#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"
#include "model/errors/EngineError.h"

#include <algorithm>

namespace qv {

QUrl trimMedia(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    MediaInfo info = probeMediaInput(file, context, work);
    const double start = std::max(context.options.trimStart.value_or(0.0), 0.0);
    double end = context.options.trimEnd.value_or(info.duration.value_or(0.0));
    if (info.duration)
        end = std::min(end, *info.duration);
    if (!(end > start))
        throw EngineError(QStringLiteral("The trimmed part is empty"));

    // The length goes after the input, as an output limit: FFmpeg then cuts the chapters to the
    // kept part too, where an input "-to" leaves them running past its end.
    QStringList args{"-ss", mediaSeconds(start)};
    args << mediaInput(file.url, info) << "-t" << mediaSeconds(end - start);
    QString extension;
    QUrl output;
    if (file.category == FileCategory::audio) {
        const AudioTarget target = audioTargetForFile(file);
        extension = audioTargetFileExtension(target);
        output = work.workFile(extension);
        leaveOutDamagedCovers(file.url, info, target, context, work);
        args << audioReencodeArgs(info, target, context);
        args << "-f" << audioTargetMuxer(target) << mediaOperand(output);
    } else {
        requireVideo(info);
        const bool fast = context.options.fastTrim.value_or(false);
        QString muxer;
        if (fast) {
            extension = file.ext.isEmpty() ? QStringLiteral("mkv") : file.ext;
            muxer = muxerForFile(file);
        } else {
            const VideoContainer container = reencodedVideoContainer(file);
            extension = container.extension;
            muxer = container.muxer;
        }
        output = work.workFile(extension);
        args << "-map" << "0:V?" << "-map" << "0:a?";
        if (fast)
            args << "-c" << "copy" << "-avoid_negative_ts" << "make_zero";
        else
            args << encoderArgs(info) << "-vf" << scaleFilter(std::nullopt);
        if (muxer == QLatin1String("mp4") || muxer == QLatin1String("mov") || muxer == QLatin1String("ipod"))
            args << "-movflags" << "+faststart";
        args << "-f" << muxer << mediaOperand(output);
    }
    try {
        runMediaStep(args, end - start, context, work);
    } catch (const EngineError&) {
        if (file.category != FileCategory::audio)
            throw;
        // FFmpeg cannot seek in some sound it reads whole (FLAC frames of 65,535 samples): the
        // start is then reached by decoding from the beginning.
        args.removeFirst();
        args.removeFirst();
        args.insert(args.indexOf(QStringLiteral("-t")), QStringLiteral("-ss"));
        args.insert(args.indexOf(QStringLiteral("-t")), mediaSeconds(start));
        runMediaStep(args, end - start, context, work);
    }
    return placeWithSuffix(work, output, context.settings.suffixForOperation(QStringLiteral("trim")), extension);
}

} // namespace qv
