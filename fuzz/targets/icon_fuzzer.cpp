// The ICO and ICNS containers around whatever PNG bytes the encoder hands over: the directory
// of each must point at every image exactly, and the lengths add up.
#include "FuzzSupport.h"

#include "engines/image/foreign/IconFileWriter.h"

#include <QtEndian>

namespace {

quint32 le32(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }
quint16 le16(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint16>(b.constData() + at); }
quint32 be32(const QByteArray& b, qsizetype at) { return qFromBigEndian<quint32>(b.constData() + at); }

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool icns = data[0] & 1;
    const QList<int>& sizes = qv::IconFileWriter::iconSizes(icns ? qv::ImageOutput::icns : qv::ImageOutput::ico);
    // The rest, cut into one piece per size at the bytes 0xFF 0x00 (the last piece takes what
    // is left; missing pieces are empty).
    QList<QByteArray> pngs;
    QByteArray rest = qvfuzz::bytesOf(data + 1, size - 1);
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        const qsizetype cut = i + 1 < sizes.size() ? rest.indexOf(QByteArray("\xFF\x00", 2)) : -1;
        pngs << (cut < 0 ? rest : rest.left(cut));
        rest = cut < 0 ? QByteArray() : rest.mid(cut + 2);
    }
    if (icns) {
        const QByteArray out = qv::IconFileWriter::icnsContainer(sizes, pngs);
        require(out.startsWith("icns") && be32(out, 4) == quint32(out.size()));
        qsizetype at = 8;
        for (qsizetype i = 0; i < sizes.size(); ++i) {
            const quint32 length = be32(out, at + 4);
            require(length >= 8 && out.mid(at + 8, length - 8) == pngs[i]);
            at += length;
        }
        require(at == out.size());
    } else {
        const QByteArray out = qv::IconFileWriter::icoContainer(sizes, pngs);
        require(le16(out, 0) == 0 && le16(out, 2) == 1 && le16(out, 4) == sizes.size());
        qsizetype end = 6 + 16 * sizes.size();
        for (qsizetype i = 0; i < sizes.size(); ++i) {
            const qsizetype entry = 6 + 16 * i;
            require(uchar(out[entry]) == (sizes[i] >= 256 ? 0 : sizes[i]));
            const quint32 length = le32(out, entry + 8);
            const quint32 offset = le32(out, entry + 12);
            require(offset == quint32(end) && out.mid(offset, length) == pngs[i]);
            end += length;
        }
        require(end == out.size());
    }
    return 0;
}
