#include "engines/media/probe/MpegAudioFrames.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace qv {

std::optional<int> MpegAudioFrames::frameLength(const uchar* p)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int version = (p[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = (p[1] >> 1) & 3;   // 1: III, 2: II, 3: I
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    const int padding = (p[2] >> 1) & 1;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;
    static const int bitrates[2][3][15] = {
        // MPEG 1: layers I, II, III
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        // MPEG 2 and 2.5
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int rates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int layerIndex = 3 - layer; // 0: I, 1: II, 2: III
    const int bitrate = bitrates[mpeg1 ? 0 : 1][layerIndex][bitrateIndex] * 1000;
    const int rate = rates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    if (layerIndex == 0)
        return (12 * bitrate / rate + padding) * 4;
    const int samples = layerIndex == 2 && !mpeg1 ? 576 : 1152;
    return samples / 8 * bitrate / rate + padding;
}

std::optional<qint64> MpegAudioFrames::chainStart(const QByteArray& bytes, int frames)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qint64 size = bytes.size();
    for (qint64 start = 0; start + 4 <= size; ++start) {
        if (data[start] != 0xFF)
            continue;
        qint64 at = start;
        int found = 0;
        // Frames of one stream share their version, layer and sample rate.
        const uchar kind = start + 4 <= size ? uchar(data[start + 1] & 0xFE) : 0;
        const uchar rate = start + 4 <= size ? uchar(data[start + 2] & 0x0C) : 0;
        while (found < frames && at + 4 <= size) {
            const std::optional<int> length = frameLength(data + at);
            if (!length || *length < 4 || uchar(data[at + 1] & 0xFE) != kind || uchar(data[at + 2] & 0x0C) != rate)
                break;
            at += *length;
            ++found;
        }
        if (found >= frames)
            return start;
    }
    return std::nullopt;
}

std::optional<qint64> MpegAudioFrames::chainStart(const QString& path, int frames, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return chainStart(file.read(limit), frames);
}

bool MpegAudioFrames::runToTheEnd(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 4)
        return false;
    const qint64 size = file.size();
    const uchar* data = file.map(0, size);
    if (!data)
        return false;
    const std::optional<qint64> start =
        chainStart(QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(std::min<qint64>(size, 4 << 20))));
    if (!start)
        return false;
    const uchar kind = uchar(data[*start + 1] & 0xFE);
    const uchar rate = uchar(data[*start + 2] & 0x0C);
    qint64 at = *start;
    while (at + 4 <= size) {
        const std::optional<int> length = frameLength(data + at);
        if (!length || *length < 4 || uchar(data[at + 1] & 0xFE) != kind || uchar(data[at + 2] & 0x0C) != rate)
            break;
        if (at + *length > size)
            return false; // the last frame is cut short
        at += *length;
    }
    if (at == size)
        return true;
    const auto tagAt = [&](qint64 where, const char* tag) {
        const qint64 length = qint64(qstrlen(tag));
        return where + length <= size && std::memcmp(data + where, tag, size_t(length)) == 0;
    };
    return (size - at == 128 && tagAt(at, "TAG")) || tagAt(at, "APETAGEX") || tagAt(at, "LYRICSBEGIN")
        || tagAt(at, "ID3");
}

std::optional<qint64> MpegAudioFrames::trailerStart(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 4)
        return std::nullopt;
    const qint64 size = file.size();
    const uchar* data = file.map(0, size);
    if (!data)
        return std::nullopt;
    const auto bytesFrom = [&](qint64 at) {
        return QByteArray::fromRawData(reinterpret_cast<const char*>(data + at), qsizetype(size - at));
    };
    std::optional<qint64> start = chainStart(bytesFrom(0));
    if (!start)
        return std::nullopt;
    const uchar kind = uchar(data[*start + 1] & 0xFE);
    const uchar rate = uchar(data[*start + 2] & 0x0C);
    qint64 at = *start;
    for (;;) {
        while (at + 4 <= size) {
            const std::optional<int> length = frameLength(data + at);
            if (!length || *length < 4 || uchar(data[at + 1] & 0xFE) != kind || uchar(data[at + 2] & 0x0C) != rate)
                break;
            if (at + *length > size)
                return std::nullopt; // the last frame is cut short: what decodes of it stays
            at += *length;
        }
        if (at >= size)
            return std::nullopt;
        // A damaged frame in the middle: the frames go on after it.
        const std::optional<qint64> next = chainStart(bytesFrom(at), 3);
        if (!next)
            return at;
        at += *next;
    }
}

qint64 MpegAudioFrames::endTagsStart(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    qint64 end = file.size();
    const auto readAt = [&file](qint64 at, qint64 length) {
        return at >= 0 && file.seek(at) ? file.read(length) : QByteArray();
    };
    for (;;) {
        if (end >= 128 && readAt(end - 128, 3) == "TAG") {
            end -= 128;
            // The extended block of 227 bytes before it.
            if (end >= 227 && readAt(end - 227, 4) == "TAG+")
                end -= 227;
            continue;
        }
        if (end >= 32) {
            const QByteArray footer = readAt(end - 32, 32);
            if (footer.startsWith("APETAGEX")) {
                const auto le32 = [&footer](int at) {
                    return quint32(uchar(footer[at])) | quint32(uchar(footer[at + 1])) << 8
                        | quint32(uchar(footer[at + 2])) << 16 | quint32(uchar(footer[at + 3])) << 24;
                };
                // The size counts the items and the footer; a header of 32 more bytes when flagged.
                const qint64 size = qint64(le32(12)) + ((le32(20) & 0x80000000u) ? 32 : 0);
                if (size >= 32 && size <= end) {
                    end -= size;
                    continue;
                }
            }
        }
        if (end >= 15 && readAt(end - 9, 9) == "LYRICS200") {
            bool ok = false;
            const qint64 size = readAt(end - 15, 6).toLongLong(&ok);
            if (ok && size + 15 <= end && readAt(end - 15 - size, 11) == "LYRICSBEGIN") {
                end -= size + 15;
                continue;
            }
        }
        return end;
    }
}

} // namespace qv
