#include "engines/media/operations/AudioExtraction.h"

#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"

namespace qv {

QUrl extractAudio(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    const AudioStreamInfo audio = requireAudio(info);
    QStringList args = mediaInput(file.url, info);
    args << "-map" << "0:a:0" << "-vn";
    QString extension;
    QUrl output;
    if (const std::optional<AudioCopyContainer> copy = audioCopyContainer(audio.codec)) {
        extension = copy->fileExtension;
        output = work.workFile(extension);
        args << "-c:a" << "copy" << "-f" << copy->muxer << mediaOperand(output);
    } else {
        extension = QStringLiteral("m4a");
        output = work.workFile(extension);
        args << "-c:a" << "aac" << "-b:a" << QString::number(context.settings.aacBitrate) + QLatin1Char('k')
             << "-f" << "ipod" << mediaOperand(output);
    }
    runMediaStep(args, info.duration, context, work);
    return work.placeNamed(output, work.baseName, extension);
}

} // namespace qv
