#pragma once

#include "model/FileCategory.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

namespace qv {

// What a media file's streams make it: video when FFmpeg finds a picture stream that is no
// cover, audio when it finds sound alone. Nothing without FFmpeg, for a file it cannot read,
// or when it has not answered within `limit` (it is then stopped). Blocks: never call it on
// the main thread.
std::optional<FileCategory> mediaCategoryOfFile(const QString& path);
std::optional<FileCategory> mediaCategoryOfFile(const std::optional<QUrl>& ffmpeg, const QString& path,
                                                std::chrono::milliseconds limit);

} // namespace qv
