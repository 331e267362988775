#pragma once

#include "model/files/FileInfo.h"

namespace qv {

// The per-file tests the category lists combine into their accepts tests.
bool isNotEncrypted(const FileInfo& file);
bool isAnimated(const FileInfo& file);
bool isNotPromise(const FileInfo& file);
bool acceptsAlways(const FileInfo& file);
// Not known to be without sound: a video nobody has looked into may still hold some.
bool mayHoldSound(const FileInfo& file);

} // namespace qv
