#pragma once

#include "model/FileInfo.h"

#include <QImage>

#include <functional>
#include <optional>
#include <stop_token>

namespace qv {

// The desktop theme's icon for the file's type (a promised file by its content type), side
// pixels square; nothing when the theme has none.
std::optional<QImage> fileIcon(const FileInfo& file, int side);

// Reads a picture of an image file scaled to fit the side, on a worker thread, and hands it to
// the callback there. Other files, folders and promised files get no answer.
void loadThumbnail(const FileInfo& file, int side, std::stop_token stop, std::function<void(QImage)> done);

} // namespace qv
