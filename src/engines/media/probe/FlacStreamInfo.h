#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace qv {

// The STREAMINFO block at the head of a FLAC file: the shape of its samples, how many there
// are, and the MD5 of them all as they decode, which FFmpeg's decoder never checks. A parser
// that lost its place in damaged frames can give fewer samples, or others, without a word.
class FlacStreamInfo {
public:
    // Read from a FLAC file (after an ID3v2 tag, if one comes first); absent when it does not
    // begin as one.
    static std::optional<FlacStreamInfo> read(const QString& path);

    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;
    // 0 when the encoder did not know.
    qint64 totalSamples = 0;
    // 16 bytes, all zero when the encoder left it out.
    QByteArray md5;

    // Whether the MD5 was written.
    bool hasChecksum() const { return md5.size() == 16 && md5.count('\0') != 16; }
};

} // namespace qv
