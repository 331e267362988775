#pragma once

#include "engines/media/operations/MediaConversion.h"

namespace qv {

// "<name> (muted)": every picture and subtitle copied, no sound. Throws EngineError "This file
// has no video" before anything runs.
QUrl muteVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work);

// "<name> (no metadata)": the streams copied without metadata and chapters; a sound file keeps
// only its sound.
QUrl removeMediaMetadata(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
