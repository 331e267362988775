#pragma once

#include <QByteArray>

#include <optional>

namespace qv {

// What an MPEG-4 ALS stream's configuration says of its samples, which FFmpeg's probe does not
// tell: a floating-point ALS file looks to it like a 16-bit one, yet its decoder gives up after
// the first frame, and it refuses RLS-LMS prediction outright.
class AlsStreamConfig {
public:
    // Read from an MPEG-4 audio configuration (the decoder information of an MP4's esds box); absent when it is
    // not one of ALS or is cut short.
    static std::optional<AlsStreamConfig> read(const QByteArray& audioConfig);

    bool floating = false;
    bool rlsLms = false;

    // Whether FFmpeg's decoder makes the whole sound of such a stream.
    bool ffmpegDecodes() const { return !floating && !rlsLms; }
};

} // namespace qv
