#pragma once

#include "engines/media/operations/MediaConversion.h"

namespace qv {

// Cuts cropRect out of every frame as "<name> (cropped)", re-encoded like its source. Throws
// EngineError "The crop area is empty" for no rectangle or one under 2 x 2 pixels; a rectangle
// outside the picture fails in FFmpeg.
QUrl cropVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
