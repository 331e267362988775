#include "engines/media/MediaStreamRemoval.h"

#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"
#include "engines/media/StreamCopyArguments.h"

namespace qv {

QUrl muteVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    requireVideo(info);
    const QUrl output = work.workFile(file.ext);
    runMediaStep(muteArgs(file.url, output, muxerForFile(file), info.demuxer), info.duration, context, work);
    return placeWithSuffix(work, output, context.settings.suffixForOperation(QStringLiteral("mute")), file.ext);
}

QUrl removeMediaMetadata(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    const QUrl output = work.workFile(file.ext);
    runMediaStep(stripMetadataArgs(file.url, output, muxerForFile(file), file.category == FileCategory::audio,
                                   info.demuxer),
                 info.duration, context, work);
    return placeWithSuffix(work, output, context.settings.suffixForOperation(QStringLiteral("removeMetadata")),
                           file.ext);
}

} // namespace qv
