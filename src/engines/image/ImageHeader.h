#pragma once

#include <QString>

#include <optional>

namespace qv {

// The number of images (frames or pages) in an image file, from its header alone;
// absent when the file does not open as an image.
std::optional<int> imageFrameCount(const QString& path);

} // namespace qv
