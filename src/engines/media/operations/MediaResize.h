#pragma once

#include "engines/media/operations/MediaConversion.h"

namespace qv {

// Scales a video down so its shorter side is at most maxResolution (720 when unset), never up,
// as "<name> (720p)"; the sound is copied.
QUrl resizeVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
