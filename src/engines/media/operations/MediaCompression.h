#pragma once

#include "engines/media/operations/MediaConversion.h"

namespace qv {

// Re-encodes a video at a bitrate from its size, rate and preset, never above a share of its
// own; places "<name> (compressed)" with a note of the saving only when the result is smaller,
// else throws EngineError "Already as small as it gets" and places nothing.
QUrl compressVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
