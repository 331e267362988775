#pragma once

#include "engines/media/arguments/MediaTargets.h"
#include "engines/media/probe/MediaInfo.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationContext.h"

#include <QString>
#include <QStringList>
#include <QUrl>

namespace qv {

// Throw EngineError "This file has no video" / "This file has no audio".
VideoStreamInfo requireVideo(const MediaInfo& info);
AudioStreamInfo requireAudio(const MediaInfo& info);

// After a compression: notes how much smaller the output came out, or throws EngineError
// "Already as small as it gets" when it did not shrink.
void checkCompressed(const QUrl& output, const FileInfo& input, const OperationContext& context);

// Re-encodes a video like its source: HEVC stays HEVC, anything else becomes H.264, sound AAC.
QStringList encoderArgs(const MediaInfo& info);

// The audio target that keeps the input's own format.
AudioTarget audioTargetForFile(const FileInfo& input);

// The muxer that keeps the input's own container; Matroska when it is not known.
QString muxerForFile(const FileInfo& input);

// Whether a sound file's own format can be written again by FFmpeg, its streams copied.
bool soundContainerIsWritable(const FileInfo& input);

} // namespace qv
