#pragma once

#include "engines/media/probe/MediaInfo.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <stop_token>

namespace qv {

// The lower-case extensions the system's own media framework is asked about first.
const QSet<QString>& nativeProbeExtensions();

// Whether this process may read media files itself. Only a worker, behind its walls, may: off
// by default, so the application and the driver leave every file to the FFmpeg program.
void setNativeProbeAllowed(bool allowed);
bool nativeProbeAllowed();

// The description of a file FFmpeg prints for "-i file:PATH", made by libavformat in this
// process (loaded on first use) instead of an FFmpeg start: the same library reads the file the
// same way, so the text is the program's. `inputOptions` are those probeWithFFmpeg takes before
// "-i": "-f NAME" and "-loglevel debug" are understood; any other gives nothing. Nothing, too,
// where not allowed, without the library, when stopped, or when the file does not open (the
// program then tells why). Never throws.
std::optional<QString> describeNatively(const QUrl& file, std::stop_token stop, const QStringList& inputOptions = {});

// The file as that description tells it, or nothing to let FFmpeg describe it.
std::optional<MediaInfo> probeNatively(const QUrl& file, std::stop_token stop = {});

} // namespace qv
