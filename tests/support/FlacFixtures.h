#pragma once

#include <QByteArray>

namespace qv::test {

// A FLAC of `frames` frames of `blockSize` samples of a tone in every channel, at `bits` bits a
// sample (8, 12, 16, 20 or 24) and 8 kHz, stored verbatim: the depths and frame sizes FFmpeg's
// encoder cannot write. Its STREAMINFO keeps the samples' MD5.
QByteArray verbatimFlac(int bits, int frames = 2, int blockSize = 1024, int channels = 1);

// Where a FLAC's STREAMINFO keeps that MD5.
constexpr int flacMd5Offset = 4 + 4 + 18;

} // namespace qv::test
