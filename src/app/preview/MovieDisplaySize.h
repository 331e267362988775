#pragma once

#include <QSizeF>
#include <QString>

#include <optional>
#include <stop_token>

namespace qv {

// The size a movie shows at: its first video stream's coded size (cover pictures aside), width
// and height exchanged for a quarter-turn rotation. Read as the media engine reads the file;
// blocks, so never on the main thread. Absent without FFmpeg, without a video stream or a size.
std::optional<QSizeF> movieDisplaySize(const QString& path, std::stop_token stop = {});

} // namespace qv
