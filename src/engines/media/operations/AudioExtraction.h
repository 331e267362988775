#pragma once

#include "engines/media/operations/MediaConversion.h"

namespace qv {

// The first sound of a video under the video's own name: copied into a container that holds
// its codec, else AAC in M4A at the AAC bitrate setting.
QUrl extractAudio(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
