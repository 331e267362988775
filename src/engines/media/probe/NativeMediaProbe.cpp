#include "engines/media/probe/NativeMediaProbe.h"

namespace qv {

const QSet<QString>& nativeProbeExtensions()
{
    static const QSet<QString> extensions{"mov", "mp4", "m4v", "m4a", "m4b", "m4r", "mp3", "wav",
                                          "aif", "aiff", "aifc", "caf", "aac", "3gp", "3g2"};
    return extensions;
}

std::optional<MediaInfo> probeNatively(const QUrl&)
{
    return std::nullopt;
}

} // namespace qv
