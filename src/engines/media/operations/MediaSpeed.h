#pragma once

#include "engines/media/operations/MediaConversion.h"

namespace qv {

// Plays a video or sound `speed` times as fast (0.25 to 4, 2 when unset) as "<name> (2×)";
// sound keeps its pitch and its format, video is re-encoded as H.264 with AAC.
QUrl changeSpeed(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
