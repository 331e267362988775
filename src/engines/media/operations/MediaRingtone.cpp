#include "engines/media/operations/MediaRingtone.h"

#include "engines/media/MediaRun.h"
#include "model/errors/EngineError.h"

#include <algorithm>

namespace qv {

QUrl makeRingtone(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    const double start = std::max(context.options.trimStart.value_or(0.0), 0.0);
    double end = std::min(context.options.trimEnd.value_or(start + 40.0), start + 40.0);
    if (info.duration)
        end = std::min(end, *info.duration);
    end = std::max(end, 0.0);
    if (!(end > start))
        throw EngineError(QStringLiteral("The trimmed part is empty"));

    const QUrl output = work.workFile(QStringLiteral("m4r"));
    // An output length, so that chapters are cut to the kept part with the sound.
    QStringList args{"-ss", mediaSeconds(start)};
    args << mediaInput(file.url, info) << "-t" << mediaSeconds(end - start) << "-map" << "0:a:0" << "-vn" << "-c:a"
         << "aac" << "-b:a" << "256k";
    args << sampleRateArgs(AudioTarget::m4r, context, info.audio);
    args << "-f" << "ipod" << mediaOperand(output);
    runMediaStep(args, end - start, context, work);
    return work.placeNamed(output, work.baseName, QStringLiteral("m4r"));
}

} // namespace qv
