#pragma once

#include <QByteArray>
#include <QString>

namespace qv {

// The pages of an Ogg file, each held to its own checksum.
class OggPages {
public:
    // Whether the file is Ogg pages from its first byte to its last, every one whole and
    // matching its checksum: a file FFmpeg finds nothing in is then no damaged one, but one that
    // holds no sound (a Speex or Vorbis file of headers alone).
    static bool allWhole(const QString& path);

    // Ogg's checksum of bytes, carried on from crc: polynomial 0x04C11DB7, not reflected,
    // starting at 0.
    static quint32 checksum(const QByteArray& bytes, quint32 crc = 0);
};

} // namespace qv
