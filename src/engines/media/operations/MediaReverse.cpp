#include "engines/media/operations/MediaReverse.h"

#include "engines/media/arguments/ConcatListLink.h"
#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/Progress.h"
#include "platform/files/FileContents.h"

#include <cmath>

namespace qv {

QUrl reverseVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    const VideoStreamInfo video = requireVideo(info);
    if (!info.duration || *info.duration <= 0)
        throw EngineError(QStringLiteral("This video has no duration"));

    const double length = qint64(video.width) * video.height > 2'500'000 ? 1.5 : 3.0;
    const int count = std::max(1, int(std::ceil(*info.duration / length)));
    const QString folder = work.workFolder(QStringLiteral("reverse")).toLocalFile();
    const QStringList encoder = h264EncoderArgs(videoBitrate(info, QualityPreset::high, std::nullopt));

    QStringList pieces;
    for (int i = 0; i < count; ++i) {
        throwIfCancelled(context.stopToken);
        const QString name = QStringLiteral("piece%1.mp4").arg(i, 5, 10, QLatin1Char('0'));
        // Chapters would come out neither reversed nor in place: none are kept.
        QStringList args{"-ss", mediaSeconds(i * length), "-t", mediaSeconds(length)};
        args << mediaInput(file.url, info) << "-map" << "0:V:0" << "-map" << "0:a:0?" << "-map_chapters" << "-1"
             << "-vf" << QStringLiteral("reverse,") + scaleFilter(std::nullopt);
        args << encoder;
        if (info.audio)
            args << "-af" << "areverse" << "-c:a" << "aac" << "-b:a" << "192k";
        else
            args << "-an";
        args << "-f" << "mp4" << mediaOperand(QUrl::fromLocalFile(folder + QLatin1Char('/') + name));
        runMediaStep(args, std::nullopt, context, work, false);
        pieces.prepend(name);
        if (work.progress)
            reportProgress(double(i + 1) / count * 0.9, *work.progress);
    }

    // Bare names, read beside the list: no path reaches the demuxer's parser.
    QString list;
    for (const QString& piece : pieces)
        list += QStringLiteral("file '") + piece + QStringLiteral("'\n");
    const QString listPath = folder + QStringLiteral("/list.txt");
    if (const auto error = FileContents::replace(listPath, list.toUtf8()))
        throw *error;

    const QUrl output = work.workFile(QStringLiteral("mp4"));
    const ConcatListLink listLink(listPath);
    runMediaStep({"-f", "concat", "-i", mediaOperand(QUrl::fromLocalFile(listLink.path())), "-c", "copy", "-movflags",
                  "+faststart", "-f", "mp4", mediaOperand(output)},
                 std::nullopt, context, work);
    return placeWithSuffix(work, output, context.settings.suffixForOperation(QStringLiteral("reverse")),
                           QStringLiteral("mp4"));
}

} // namespace qv
