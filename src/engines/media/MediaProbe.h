#pragma once

#include "engines/media/MediaInfo.h"

#include <QUrl>

#include <optional>
#include <stop_token>

namespace qv {

// Describes one media file: the system's media framework first for the types it knows, FFmpeg
// otherwise. Blocks on FFmpeg, so never call it on the main thread. Throws EngineError for a
// file with neither video nor audio ("This file is damaged or not in a supported format", FFmpeg's
// text as the log) and without FFmpeg; CancellationError when stopped; SystemError when FFmpeg
// cannot start.
MediaInfo probeMediaInfo(const QUrl& file, std::stop_token stop);
MediaInfo probeMediaInfo(const std::optional<QUrl>& ffmpeg, const QUrl& file, std::stop_token stop);

} // namespace qv
