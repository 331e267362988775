#include "engines/media/operations/OggTagStripper.h"

#include "engines/media/probe/OggPages.h"
#include "model/errors/SystemError.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

#include <array>
#include <cerrno>
#include <optional>

namespace qv {

namespace {

constexpr int headerSize = 27;
constexpr int maxSegments = 255;

struct Page {
    QByteArray bytes; // header, lacing values and body
    int segments = 0;

    quint8 flags() const { return quint8(bytes[5]); }
    quint32 serial() const { return qFromLittleEndian<quint32>(bytes.constData() + 14); }
    quint8 lacing(int i) const { return quint8(bytes[headerSize + i]); }
    const char* body() const { return bytes.constData() + headerSize + segments; }

    // Sets the sequence number and the checksum that covers it.
    void renumber(quint32 sequence)
    {
        qToLittleEndian<quint32>(sequence, bytes.data() + 18);
        qToLittleEndian<quint32>(0, bytes.data() + 22);
        qToLittleEndian<quint32>(OggPages::checksum(bytes), bytes.data() + 22);
    }
};

// The next page, whole and matching its checksum; nothing at the end or on damage.
std::optional<Page> readPage(QFile& file)
{
    Page page;
    page.bytes = file.read(headerSize);
    if (page.bytes.size() != headerSize || !page.bytes.startsWith("OggS") || page.bytes[4] != 0)
        return std::nullopt;
    page.segments = quint8(page.bytes[26]);
    const QByteArray lacing = file.read(page.segments);
    if (lacing.size() != page.segments)
        return std::nullopt;
    qint64 bodySize = 0;
    for (const char value : lacing)
        bodySize += quint8(value);
    const QByteArray body = file.read(bodySize);
    if (body.size() != bodySize)
        return std::nullopt;
    page.bytes += lacing + body;
    const quint32 stored = qFromLittleEndian<quint32>(page.bytes.constData() + 22);
    QByteArray zeroed = page.bytes;
    qToLittleEndian<quint32>(0, zeroed.data() + 22);
    if (OggPages::checksum(zeroed) != stored)
        return std::nullopt;
    return page;
}

// Header packets laid out in pages of granule 0, a packet that goes on flagged on its next page.
QList<Page> paginate(const QList<QByteArray>& packets, quint32 serial)
{
    QList<Page> pages;
    QByteArray lacing, body;
    bool continued = false;
    bool ended = false;
    const auto flush = [&](bool nextContinues) {
        QByteArray header(headerSize, '\0');
        header.replace(0, 4, "OggS");
        header[5] = char(continued ? 0x01 : 0x00);
        // No packet ends on a page that only carries one on: its granule is -1.
        qToLittleEndian<qint64>(ended ? 0 : -1, header.data() + 6);
        qToLittleEndian<quint32>(serial, header.data() + 14);
        header[26] = char(lacing.size());
        pages.append(Page{header + lacing + body, int(lacing.size())});
        lacing.clear();
        body.clear();
        continued = nextContinues;
        ended = false;
    };
    for (const QByteArray& packet : packets) {
        qsizetype at = 0;
        for (;;) {
            if (lacing.size() == maxSegments)
                flush(true);
            const qsizetype piece = std::min<qsizetype>(255, packet.size() - at);
            lacing.append(char(piece));
            body.append(packet.constData() + at, piece);
            at += piece;
            if (piece < 255)
                break;
        }
        ended = true;
        if (lacing.size() == maxSegments)
            flush(false);
    }
    if (!lacing.isEmpty())
        flush(false);
    return pages;
}

QByteArray withoutComments(const QByteArray& packet, const QByteArray& magic, bool framingBit)
{
    if (!packet.startsWith(magic) || packet.size() < magic.size() + 4)
        return {};
    const quint32 vendorLength = qFromLittleEndian<quint32>(packet.constData() + magic.size());
    if (vendorLength > quint32(packet.size() - magic.size() - 4))
        return {};
    QByteArray stripped = packet.left(magic.size() + 4 + vendorLength);
    stripped.append(4, '\0');
    if (framingBit)
        stripped.append('\x01');
    return stripped;
}

void writeAll(QFile& out, const QByteArray& bytes, const QString& target)
{
    if (out.write(bytes) != bytes.size())
        throw SystemError::fromErrno(errno ? errno : EIO, QStringLiteral("Cannot write ") + target);
}

} // namespace

bool OggTagStripper::write(const QString& source, const QString& target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    std::optional<Page> first = readPage(in);
    if (!first || first->flags() != 0x02 || first->segments != 1)
        return false;
    const QByteArray identification(first->body(), first->lacing(0));
    int headers = 0;
    QByteArray magic;
    bool framingBit = false;
    if (identification.startsWith("\x01vorbis")) {
        headers = 3;
        magic = QByteArrayLiteral("\x03vorbis");
        framingBit = true;
    } else if (identification.startsWith("OpusHead")) {
        headers = 2;
        magic = QByteArrayLiteral("OpusTags");
    } else {
        return false;
    }
    const quint32 serial = first->serial();

    // The rest of the headers, which must end where a page does.
    QList<QByteArray> packets;
    QByteArray partial;
    std::optional<Page> page;
    while (packets.size() < headers - 1) {
        page = readPage(in);
        if (!page || page->serial() != serial || (page->flags() & 0x06))
            return false;
        if (bool(page->flags() & 0x01) != !partial.isEmpty())
            return false;
        qsizetype offset = 0;
        for (int i = 0; i < page->segments; ++i) {
            if (packets.size() == headers - 1)
                return false; // sound on a header's page
            partial.append(page->body() + offset, page->lacing(i));
            offset += page->lacing(i);
            if (page->lacing(i) < 255) {
                packets.append(partial);
                partial.clear();
            }
        }
    }
    if (!partial.isEmpty())
        return false;
    packets[0] = withoutComments(packets[0], magic, framingBit);
    if (packets[0].isEmpty())
        return false;

    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw SystemError::fromErrno(errno ? errno : EIO, QStringLiteral("Cannot create ") + target);
    const auto fail = [&out] {
        out.close();
        out.remove();
    };
    try {
        quint32 sequence = 0;
        first->renumber(sequence++);
        writeAll(out, first->bytes, target);
        for (Page& header : paginate(packets, serial)) {
            header.renumber(sequence++);
            writeAll(out, header.bytes, target);
        }
        while (!in.atEnd()) {
            page = readPage(in);
            if (!page || page->serial() != serial) {
                fail();
                return false;
            }
            page->renumber(sequence++);
            writeAll(out, page->bytes, target);
        }
        if (!out.flush())
            throw SystemError::fromErrno(errno ? errno : EIO, QStringLiteral("Cannot write ") + target);
        out.close();
        if (out.error() != QFileDevice::NoError)
            throw SystemError::fromErrno(EIO, QStringLiteral("Cannot write ") + target);
    } catch (...) {
        fail();
        throw;
    }
    return true;
}

} // namespace qv
