#pragma once

#include <QByteArray>

namespace qv::test {

// A mono FLAC of `frames` frames of 1,024 samples of a tone, at `bits` bits a sample (8, 12, 16,
// 20 or 24) and 8 kHz, stored verbatim: the depths FFmpeg's encoder cannot write. Its
// STREAMINFO keeps the samples' MD5.
QByteArray verbatimFlac(int bits, int frames = 2);

// Where a FLAC's STREAMINFO keeps that MD5.
constexpr int flacMd5Offset = 4 + 4 + 18;

} // namespace qv::test
