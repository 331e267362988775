#include "engines/media/operations/MediaSplit.h"

#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/arguments/StreamCopyArguments.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"
#include "model/errors/EngineError.h"
#include "model/errors/FFmpegError.h"
#include "model/errors/SystemError.h"
#include "platform/processes/FFmpegInvocation.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>

namespace qv {

namespace {

// The number of "partNNN.ext", or -1 for any other name.
qint64 pieceNumber(const QString& name)
{
    if (!name.startsWith(QLatin1String("part")))
        return -1;
    qsizetype end = 4;
    while (end < name.size() && name.at(end).isDigit())
        ++end;
    if (end == 4 || end - 4 > 12)
        return -1;
    return name.mid(4, end - 4).toLongLong();
}

} // namespace

QStringList orderedPieces(const QStringList& names)
{
    QList<std::pair<qint64, QString>> pieces;
    for (const QString& name : names)
        if (const qint64 number = pieceNumber(name); number >= 0)
            pieces.append({number, name});
    std::sort(pieces.begin(), pieces.end());
    QStringList ordered;
    for (const auto& piece : pieces)
        ordered.append(piece.second);
    return ordered;
}

SplitPlan splitPlan(const std::optional<SplitMode>& mode, double duration)
{
    SplitPlan plan;
    if (const auto* at = mode ? mode->get<SplitMode::At>() : nullptr) {
        QList<double> times;
        for (double time : at->times)
            if (time > 0.1 && time < duration - 0.1)
                times.append(time);
        if (times.isEmpty())
            throw EngineError(QStringLiteral("Add at least one split point"));
        std::sort(times.begin(), times.end());
        plan.times = times;
    } else if (const auto* every = mode ? mode->get<SplitMode::Every>() : nullptr) {
        plan.segmentLength = std::max(every->seconds, 1.0);
        // A cut closer to the end than this would leave a piece too short to be one.
        plan.pieces = 1;
        while (plan.pieces * *plan.segmentLength < duration - 0.1 && plan.pieces < 100000)
            ++plan.pieces;
        return plan;
    } else {
        // Equal parts as cut points rather than a length: a length rounded a hair short could
        // add a last piece of a frame or two.
        const int count = std::max(mode && mode->get<SplitMode::Parts>() ? mode->get<SplitMode::Parts>()->count : 2, 2);
        QList<double> times;
        for (int i = 1; i < count; ++i)
            times.append(duration * i / count);
        plan.times = times;
    }
    plan.pieces = int(plan.times->size()) + 1;
    return plan;
}

namespace {

struct Container {
    QString extension;
    QString muxer;
};

// Sound keeps its own format; sound alone in a video container (Opus in WebM, AMR in 3GP) goes
// where its codec can be copied, as M4A holds only AAC and ALAC.
Container soundContainer(const FileInfo& file, const MediaInfo& info)
{
    const AudioTarget target = audioTargetForFile(file);
    const QString codec = info.audio ? info.audio->codec : QString();
    const bool ownFormat = file.format && audioTargetRawValue(target) == file.format->id;
    if (ownFormat || target != AudioTarget::m4a || codec == QLatin1String("aac") || codec == QLatin1String("alac"))
        return {audioTargetFileExtension(target), audioTargetMuxer(target)};
    if (const std::optional<AudioCopyContainer> copy = audioCopyContainer(codec))
        return {copy->fileExtension, copy->muxer};
    return {QStringLiteral("mka"), QStringLiteral("matroska")};
}

QStringList pieceNames(const QString& folder)
{
    return orderedPieces(QDir(folder).entryList(QDir::Files));
}

void clearPieces(const QString& folder)
{
    for (const QString& piece : pieceNames(folder))
        if (!QFile::remove(folder + QLatin1Char('/') + piece))
            throw SystemError::fromErrno(EIO, QStringLiteral("Cannot remove the piece ") + piece);
}

// The same cuts made by encoding again, each cut on a key frame forced there.
QStringList encodedSegmentArgs(const QUrl& input, const MediaInfo& info, const SplitPlan& plan,
                               const QUrl& pattern, const QString& muxer)
{
    QStringList args = mediaInput(input, info);
    args << "-map" << "0:V:0" << "-map" << "0:a:0?" << "-map_chapters" << "-1" << encoderArgs(info) << "-vf"
         << scaleFilter(std::nullopt);
    if (plan.times) {
        QStringList times;
        for (double time : *plan.times)
            times << mediaSeconds(time);
        args << "-force_key_frames" << times.join(QLatin1Char(',')) << "-f" << "segment" << "-segment_times"
             << times.join(QLatin1Char(','));
    } else {
        const QString length = mediaSeconds(*plan.segmentLength);
        args << "-force_key_frames" << QStringLiteral("expr:gte(t,n_forced*") + length + QLatin1Char(')') << "-f"
             << "segment" << "-segment_time" << length;
    }
    args << "-reset_timestamps" << "1" << "-segment_format" << muxer << "-segment_format_options"
         << "movflags=+faststart" << mediaOperand(pattern);
    return args;
}

// Sound cut into pieces by encoding it again in the file's own audio target, for a codec no
// container FFmpeg writes can hold as it is (DSD, Monkey's Audio).
QStringList encodedSoundSegmentArgs(const QUrl& input, const MediaInfo& info, const SplitPlan& plan,
                                    const QUrl& pattern, AudioTarget target, const OperationContext& context)
{
    QStringList args = mediaInput(input, info);
    args << audioReencodeArgs(info, target, context) << "-vn" << "-map_chapters" << "-1" << "-f" << "segment";
    if (plan.times) {
        QStringList times;
        for (double time : *plan.times)
            times << mediaSeconds(time);
        args << "-segment_times" << times.join(QLatin1Char(','));
    } else {
        args << "-segment_time" << mediaSeconds(*plan.segmentLength);
    }
    const QString muxer = audioTargetMuxer(target);
    args << "-reset_timestamps" << "1" << "-segment_format" << muxer;
    if (muxer == QLatin1String("ipod"))
        args << "-segment_format_options" << "movflags=+faststart";
    args << mediaOperand(pattern);
    return args;
}

// FLAC pieces, cut as WAV and each encoded alone: the segment muxer leaves every FLAC piece a
// STREAMINFO that is not its own (the whole file's length and checksum, or none at all),
// whether its frames were copied or encoded.
void splitIntoFlacPieces(const FileInfo& file, const MediaInfo& info, const SplitPlan& plan, const QString& folder,
                         double duration, const OperationContext& context, const MediaWork& work)
{
    const QUrl cuts = QUrl::fromLocalFile(folder + QStringLiteral("/cut%03d.wav"));
    runMediaStep(encodedSoundSegmentArgs(file.url, info, plan, cuts, AudioTarget::wav, context), duration, context,
                 work);
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral("cut*.wav")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        const QString cut = dir.filePath(name);
        const QString piece = dir.filePath(QStringLiteral("part") + name.mid(3).chopped(4) + QStringLiteral(".flac"));
        // The source's tags come back from the source itself: a WAV cut keeps none of them.
        runMediaStep(QStringList{"-i", ffmpegFileOperand(cut)} + mediaInput(file.url, info)
                         + QStringList{"-map", "0:a:0", "-map_metadata", "1", "-c:a", "flac", "-f", "flac",
                                       ffmpegFileOperand(piece)},
                     std::nullopt, context, work, false);
        if (!QFile::remove(cut))
            throw SystemError::fromErrno(EIO, QStringLiteral("Cannot remove the piece ") + name);
    }
}

} // namespace

QUrl splitMedia(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    MediaInfo info = probeMediaInput(file, context, work);
    // A sound whose header keeps no length (a FLAC streamed without its total) is counted.
    if ((!info.duration || *info.duration <= 0) && file.category == FileCategory::audio && info.audio)
        info.duration = decodedSoundSeconds(file.url, context, work, info.demuxer);
    if (!info.duration || *info.duration <= 0)
        throw EngineError(QStringLiteral("This file has no duration to split"));
    const double duration = *info.duration;
    const SplitPlan plan = splitPlan(context.options.split, duration);

    const bool audio = file.category == FileCategory::audio;
    QString extension;
    QString muxer;
    if (audio) {
        const Container container = soundContainer(file, info);
        extension = container.extension;
        muxer = container.muxer;
    } else {
        extension = file.format && file.format->id == QLatin1String("mov") ? QStringLiteral("mov") : file.ext;
        if (extension.isEmpty())
            extension = QStringLiteral("mp4");
        muxer = muxerForFile(file);
    }

    const QString folder = work.workFolder(QStringLiteral("parts")).toLocalFile();
    QUrl pattern = QUrl::fromLocalFile(folder + QStringLiteral("/part%03d.") + extension);
    // FLAC pieces are never copied, whatever held the FLAC (an MKA): see splitIntoFlacPieces.
    const bool flacPieces = audio && (audioTargetForFile(file) == AudioTarget::flac || muxer == QLatin1String("flac"));
    const auto encodeSound = [&] {
        if (flacPieces) {
            extension = QStringLiteral("flac");
            return splitIntoFlacPieces(file, info, plan, folder, duration, context, work);
        }
        const AudioTarget target = audioTargetForFile(file);
        extension = audioTargetFileExtension(target);
        pattern = QUrl::fromLocalFile(folder + QStringLiteral("/part%03d.") + extension);
        runMediaStep(encodedSoundSegmentArgs(file.url, info, plan, pattern, target, context), duration, context, work);
    };
    if (flacPieces) {
        encodeSound();
    } else {
        // Copied packets are never decoded: damage in them would pass into the pieces.
        if (audio)
            requireSoundDecodes(file.url, info, context, work);
        try {
            runMediaStep(segmentArgs(file.url, pattern, plan.segmentLength, plan.times, muxer, audio, info.demuxer),
                         duration, context, work);
        } catch (const FFmpegError& e) {
            if (!audio || e.localizedDescription() != QLatin1String("This combination of codec and format isn't supported"))
                throw;
            clearPieces(folder);
            encodeSound();
        }
    }

    QStringList pieces = pieceNames(folder);
    // A copy cuts only on key frames; where they are too few for the cuts asked, the picture is
    // encoded again with key frames at the cuts.
    if (!audio && info.video && pieces.size() < plan.pieces) {
        clearPieces(folder);
        const VideoContainer container = reencodedVideoContainer(file);
        extension = container.extension;
        pattern = QUrl::fromLocalFile(folder + QStringLiteral("/part%03d.") + extension);
        runMediaStep(encodedSegmentArgs(file.url, info, plan, pattern, container.muxer), duration, context, work);
        pieces = pieceNames(folder);
    }
    if (pieces.size() < 2)
        throw EngineError(QStringLiteral("The file was too short to split there"));
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QString name = work.baseName + QLatin1Char(' ') + QString::number(i + 1) + QLatin1Char('.') + extension;
        if (!QFile::rename(folder + QLatin1Char('/') + pieces[i], folder + QLatin1Char('/') + name))
            throw SystemError::fromErrno(EIO, QStringLiteral("Cannot name the piece ") + name);
    }
    return work.placeNamed(QUrl::fromLocalFile(folder), suffixedName(work.baseName,
                           context.settings.suffixForOperation(QStringLiteral("split"))), QString());
}

} // namespace qv
