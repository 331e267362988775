#pragma once

#include "engines/media/probe/MediaInfo.h"

#include <QSet>
#include <QString>
#include <QUrl>

#include <optional>

namespace qv {

// The lower-case extensions the system's own media framework is asked about first.
const QSet<QString>& nativeProbeExtensions();

// The system media framework's description of a file, or nothing to let FFmpeg describe it.
// Never throws. This platform has no such framework, so the answer is always nothing.
std::optional<MediaInfo> probeNatively(const QUrl& file);

} // namespace qv
