#include "engines/media/operations/MediaSnapshot.h"

#include "engines/media/arguments/StreamCopyArguments.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"
#include "model/errors/EngineError.h"

#include <QFileInfo>

#include <algorithm>

namespace qv {

QUrl takeSnapshot(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    requireVideo(info);
    double time = context.options.snapshotTime ? *context.options.snapshotTime
                                               : (info.duration ? *info.duration / 2 : 0.0);
    time = std::max(time, 0.0);
    const QUrl output = work.workFile(QStringLiteral("png"));
    runMediaStep(frameGrabArgs(file.url, output, time, info.demuxer), std::nullopt, context, work);
    const QFileInfo written(output.toLocalFile());
    if (!written.isFile() || written.size() <= 0)
        throw EngineError(QStringLiteral("No frame at that time"));
    return placeWithSuffix(work, output, context.settings.suffixForOperation(QStringLiteral("snapshot")),
                           QStringLiteral("png"));
}

} // namespace qv
