#pragma once

#include "engines/media/operations/MediaConversion.h"

namespace qv {

// The frame at snapshotTime (the middle when unset) as "<name> (snapshot).png". Throws
// EngineError "No frame at that time" when the video has none there.
QUrl takeSnapshot(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
