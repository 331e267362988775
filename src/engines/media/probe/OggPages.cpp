#include "engines/media/probe/OggPages.h"

#include <QByteArray>
#include <QFile>

#include <array>

namespace qv {

namespace {

constexpr qint64 headerSize = 27;

const std::array<quint32, 256>& crcTable()
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 r = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    return table;
}

} // namespace

quint32 OggPages::checksum(const QByteArray& bytes, quint32 crc)
{
    const auto& table = crcTable();
    for (const char c : bytes)
        crc = (crc << 8) ^ table[((crc >> 24) ^ quint8(c)) & 0xFF];
    return crc;
}

bool OggPages::allWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    qint64 at = 0;
    while (at < size) {
        QByteArray header = file.read(headerSize);
        if (header.size() != headerSize || !header.startsWith("OggS") || header[4] != 0)
            return false;
        const int segments = quint8(header[26]);
        const QByteArray table = file.read(segments);
        if (table.size() != segments)
            return false;
        qint64 bodySize = 0;
        for (const char lacing : table)
            bodySize += quint8(lacing);
        const QByteArray body = file.read(bodySize);
        if (body.size() != bodySize)
            return false;
        const quint32 stored = quint8(header[22]) | quint8(header[23]) << 8 | quint8(header[24]) << 16
            | quint32(quint8(header[25])) << 24;
        header[22] = header[23] = header[24] = header[25] = 0;
        if (checksum(body, checksum(table, checksum(header))) != stored)
            return false;
        at += headerSize + segments + bodySize;
    }
    return at > 0;
}

} // namespace qv
