#pragma once

#include "engines/media/operations/MediaConversion.h"

#include <QSize>
#include <QStringList>

namespace qv {

// An animated image (or a still one, shown for 0.1 s) as a video of the target. FFmpeg reads a
// GIF itself; other images go to it as numbered PNGs with a concat list carrying each frame's
// time. The GIF target is written by the image engine without FFmpeg. Throws the image engine's
// EngineError for an unreadable image, FFmpegError, CancellationError; nothing is placed on
// failure.
QUrl imagesToVideo(const FileInfo& file, VideoTarget target, const OperationContext& context,
                   const MediaWork& work);

// What follows the input for the target, before the output; empty for gif, which FFmpeg does
// not write here.
QStringList imagesToVideoTargetArgs(VideoTarget target, QSize pixelSize);

} // namespace qv
