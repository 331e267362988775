#pragma once

#include "engines/media/operations/MediaConversion.h"

namespace qv {

// Keeps trimStart..trimEnd of a sound or video as "<name> (trimmed)". Video is re-encoded to
// cut exactly, or copied with fastTrim; sound keeps its own format. Throws EngineError "The
// trimmed part is empty" before anything runs when the range holds nothing.
QUrl trimMedia(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
