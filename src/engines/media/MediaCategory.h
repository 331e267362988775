#pragma once

#include "model/files/FileProbe.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace qv {

// What FFmpeg finds in a media file: a picture stream that is no cover, a sound stream its
// decoder reads whole (an MPEG-4 ALS sound of floating-point samples counts as none). Nothing without FFmpeg, for a file it cannot read, or when it has not answered within
// `limit` (it is then stopped). Blocks: never call it on the main thread.
//
// The first form remembers its answers for as long as the file stays as it was, so a file
// described again (the wheel, then the job, then a preview) is probed once. For an M4A, M4B or
// M4R it starts no FFmpeg: it answers neither stream for a sound its decoder cannot read whole,
// told from the file's own boxes, and nothing otherwise.
std::optional<MediaStreams> mediaStreamsOfFile(const QString& path);
std::optional<MediaStreams> mediaStreamsOfFile(const std::optional<QUrl>& ffmpeg, const QString& path,
                                               std::chrono::milliseconds limit);

// Who reads a file for the first form: by default the second form in this process; the
// application hands the file to a worker, which describes it without starting FFmpeg.
using MediaStreamsReader = std::function<std::optional<MediaStreams>(const QString& path, std::chrono::milliseconds limit)>;
void setMediaStreamsReader(MediaStreamsReader reader);

// What the first form found for the file as it is now, without probing: for the main thread.
std::optional<MediaStreams> rememberedMediaStreams(const QString& path);

} // namespace qv
