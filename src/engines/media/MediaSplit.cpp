#include "engines/media/MediaSplit.h"

#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"
#include "engines/media/StreamCopyArguments.h"
#include "model/EngineError.h"
#include "model/SystemError.h"

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

QUrl splitMedia(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    if (!info.duration || *info.duration <= 0)
        throw EngineError(QStringLiteral("This file has no duration to split"));
    const double duration = *info.duration;

    std::optional<double> segmentLength;
    std::optional<QList<double>> splitTimes;
    const std::optional<SplitMode>& mode = context.options.split;
    if (const auto* at = mode ? mode->get<SplitMode::At>() : nullptr) {
        QList<double> times;
        for (double time : at->times)
            if (time > 0.1 && time < duration - 0.1)
                times.append(time);
        if (times.isEmpty())
            throw EngineError(QStringLiteral("Add at least one split point"));
        std::sort(times.begin(), times.end());
        splitTimes = times;
    } else if (const auto* parts = mode ? mode->get<SplitMode::Parts>() : nullptr) {
        segmentLength = duration / std::max(parts->count, 2);
    } else if (const auto* every = mode ? mode->get<SplitMode::Every>() : nullptr) {
        segmentLength = std::max(every->seconds, 1.0);
    } else {
        segmentLength = duration * 0.5;
    }

    const bool audio = file.category == FileCategory::audio;
    QString extension;
    QString muxer;
    if (audio) {
        const AudioTarget target = audioTargetForFile(file);
        extension = audioTargetFileExtension(target);
        muxer = audioTargetMuxer(target);
    } else {
        extension = file.format && file.format->id == QLatin1String("mov") ? QStringLiteral("mov") : file.ext;
        if (extension.isEmpty())
            extension = QStringLiteral("mp4");
        muxer = muxerForFile(file);
    }

    const QString folder = work.workFolder(QStringLiteral("parts")).toLocalFile();
    const QUrl pattern = QUrl::fromLocalFile(folder + QStringLiteral("/part%03d.") + extension);
    runMediaStep(segmentArgs(file.url, pattern, segmentLength, splitTimes, muxer, audio), duration, context, work);

    const QStringList pieces = orderedPieces(QDir(folder).entryList(QDir::Files));
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
