#pragma once

#include <QString>

namespace qv {

// An Ogg Vorbis or Opus file without its tags, made page by page: the comment header is
// replaced by one that names only the encoder, and every sound page is copied as it is, renumbered.
// For what FFmpeg's copy gets wrong: its muxer turns the last packet of a sound trimmed at its
// end into hours of time.
class OggTagStripper {
public:
    // Writes the copy to `target`; false, writing nothing, for what it does not take apart (more
    // than one logical stream, another codec, headers that share a page with sound, damaged
    // pages). Throws SystemError when the copy cannot be written whole.
    static bool write(const QString& source, const QString& target);
};

} // namespace qv
