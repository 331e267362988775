#pragma once

#include "engines/media/operations/MediaConversion.h"
#include "engines/media/probe/MediaInfo.h"

#include <QList>

namespace qv {

// Joins the files in their order into "<first> (merged)": by copying when every file has the
// first one's layout and extension, otherwise through one filter graph that brings every
// picture to the first one's size at 30 fps (H.264, AAC 48 kHz stereo) or every sound to
// 48 kHz stereo in the first one's format.
QUrl mergeMedia(const QList<FileInfo>& files, const OperationContext& context, const MediaWork& work);

// Whether `info` has the first probe's streams: video codec, size and rotation, audio codec,
// rate and channels.
bool streamsMatchFirst(const MediaInfo& info, const QList<MediaInfo>& probes);

} // namespace qv
