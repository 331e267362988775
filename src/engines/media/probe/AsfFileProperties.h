#pragma once

#include <QString>

#include <optional>

namespace qv {

// The length an ASF file (WMA, WMV) states in its File Properties object. FFmpeg's muxer takes
// it from the last packet's time plus its duration, which a stream copy of some sounds (WMA
// Lossless) does not know: the header then states a length shorter than the sound.
class AsfFileProperties {
public:
    AsfFileProperties() = delete;

    // Seconds the file plays (play duration less preroll); absent when the header object or
    // its File Properties cannot be found, or the file says it is a broadcast (no length).
    static std::optional<double> playSeconds(const QString& path);

    // States seconds as the file's play length (play and send duration; preroll as it was).
    // Throws SystemError when the file cannot be written, EngineError when it has no header.
    static void setPlaySeconds(const QString& path, double seconds);
};

} // namespace qv
