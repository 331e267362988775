#include "engines/media/MediaRingtone.h"

#include "engines/media/MediaRun.h"
#include "model/EngineError.h"

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
    QStringList args{"-ss", mediaSeconds(start), "-to", mediaSeconds(end), "-i", mediaOperand(file.url),
                     "-map", "0:a:0", "-vn", "-c:a", "aac", "-b:a", "256k"};
    const int rate = context.options.sampleRate.value_or(context.settings.sampleRate);
    if (rate >= 1)
        args << "-ar" << QString::number(rate);
    args << "-f" << "ipod" << mediaOperand(output);
    runMediaStep(args, end - start, context, work);
    return work.placeNamed(output, work.baseName, QStringLiteral("m4r"));
}

} // namespace qv
