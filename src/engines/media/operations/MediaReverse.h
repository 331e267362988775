#pragma once

#include "engines/media/operations/MediaConversion.h"

#include <QList>
#include <QUrl>

namespace qv {

// Plays a video backwards as "<name> (reversed).mp4". FFmpeg reverses one short piece at a
// time (3 s, 1.5 s above 2.5 million pixels), so memory stays flat whatever the length; the
// pieces are then joined last first by copying. Throws EngineError "This video has no
// duration" before anything runs.
QUrl reverseVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
