#include "engines/image/foreign/HeifSequence.h"

#include <QFile>

namespace qv {

bool HeifSequence::holdsPrimaryImage(const QByteArray& nativePath)
{
    QFile file(QFile::decodeName(nativePath));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(64);
    if (head.size() < 16 || head.mid(4, 4) != "ftyp")
        return false;
    const QByteArray major = head.mid(8, 4);
    if (major != "avis" && major != "msf1" && major != "hevs")
        return false;
    const qsizetype boxSize = (qsizetype(uchar(head[0])) << 24) | (qsizetype(uchar(head[1])) << 16)
        | (qsizetype(uchar(head[2])) << 8) | qsizetype(uchar(head[3]));
    // The compatible brands follow the major brand and its version: a still image's "mif1" says
    // a primary item is there.
    for (qsizetype at = 16; at + 4 <= std::min(boxSize, head.size()); at += 4) {
        const QByteArray brand = head.mid(at, 4);
        if (brand == "mif1" || brand == "avif" || brand == "heic")
            return true;
    }
    return false;
}

} // namespace qv
