#pragma once

#include "engines/media/operations/MediaConversion.h"

namespace qv {

// trimStart..trimEnd of a sound, at most 40 s, as AAC in "<name>.m4r".
QUrl makeRingtone(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
