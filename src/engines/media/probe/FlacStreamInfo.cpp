#include "engines/media/probe/FlacStreamInfo.h"

#include <QFile>

namespace qv {

namespace {

quint64 bigEndian(const QByteArray& bytes, qsizetype at, int count)
{
    quint64 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | uchar(bytes[at + i]);
    return value;
}

// Where the stream begins: after an ID3v2 tag, whose size is kept in four bytes of seven bits.
qint64 streamStart(QFile& file)
{
    const QByteArray header = file.read(10);
    if (header.size() < 10 || !header.startsWith("ID3"))
        return 0;
    qint64 size = 0;
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (uchar(header[i]) & 0x7F);
    // A footer repeats the header's ten bytes at the end.
    return 10 + size + ((uchar(header[5]) & 0x10) ? 10 : 0);
}

} // namespace

std::optional<FlacStreamInfo> FlacStreamInfo::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 start = streamStart(file);
    // "fLaC", then the first metadata block, which must be STREAMINFO: a type of 0 and 34 bytes.
    if (!file.seek(start))
        return std::nullopt;
    const QByteArray head = file.read(4 + 4 + 34);
    if (head.size() < 42 || !head.startsWith("fLaC") || (uchar(head[4]) & 0x7F) != 0 || bigEndian(head, 5, 3) != 34)
        return std::nullopt;
    // Block sizes and frame sizes (10 bytes), then 20 bits of rate, 3 of channels less one, 5 of
    // bits per sample less one and 36 of the sample count; the MD5 last.
    const quint64 packed = bigEndian(head, 8 + 10, 8);
    FlacStreamInfo info;
    info.sampleRate = int(packed >> 44);
    info.channels = int((packed >> 41) & 0x7) + 1;
    info.bitsPerSample = int((packed >> 36) & 0x1F) + 1;
    info.totalSamples = qint64(packed & 0xFFFFFFFFFULL);
    info.md5 = head.mid(8 + 18, 16);
    return info;
}

} // namespace qv
