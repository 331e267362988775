#pragma once

#include "engines/media/operations/MediaConversion.h"

namespace qv {

// Turns a video by `rotation` degrees clockwise (90 when unset) and mirrors it by the flip
// options. A pure turn of an MP4, MOV or M4V only rewrites its display rotation; flips and
// other containers are re-encoded upright.
QUrl rotateVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
