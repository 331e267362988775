#include "engines/image/foreign/TiffPageChain.h"

#include "engines/image/foreign/CheckedVipsTarget.h"

#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"

#include <QtEndian>

#include <limits>

namespace qv {

namespace {

EngineError cannotJoin(const QString& why)
{
    return EngineError(QStringLiteral("Couldn't write the TIFF's pages as one file"), why);
}

// Reads and writes the integers of one TIFF's bytes in its byte order, every access bounded.
class TiffBytes {
public:
    TiffBytes(QByteArray& bytes, bool bigEndian) : m_bytes(bytes), m_big(bigEndian) {}

    quint64 get(quint64 at, int width) const
    {
        check(at, width);
        const auto* p = reinterpret_cast<const uchar*>(m_bytes.constData()) + at;
        switch (width) {
        case 2: return m_big ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
        case 4: return m_big ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
        default: return m_big ? qFromBigEndian<quint64>(p) : qFromLittleEndian<quint64>(p);
        }
    }

    void set(quint64 at, int width, quint64 value)
    {
        check(at, width);
        if (width < 8 && value >> (8 * width))
            throw cannotJoin(QStringLiteral("an offset outgrows its field"));
        auto* p = reinterpret_cast<uchar*>(m_bytes.data()) + at;
        switch (width) {
        case 2: m_big ? qToBigEndian<quint16>(quint16(value), p) : qToLittleEndian<quint16>(quint16(value), p); break;
        case 4: m_big ? qToBigEndian<quint32>(quint32(value), p) : qToLittleEndian<quint32>(quint32(value), p); break;
        default: m_big ? qToBigEndian<quint64>(value, p) : qToLittleEndian<quint64>(value, p); break;
        }
    }

    void check(quint64 at, quint64 width) const
    {
        if (at > quint64(m_bytes.size()) || width > quint64(m_bytes.size()) - at)
            throw cannotJoin(QStringLiteral("a directory points past the end"));
    }

private:
    QByteArray& m_bytes;
    bool m_big;
};

int typeSize(quint64 type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1; // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                 // SHORT, SSHORT
    case 4: case 9: case 11: case 13: return 4; // LONG, SLONG, FLOAT, IFD
    case 5: case 10: case 12: case 16: case 17: case 18: return 8; // RATIONALs, DOUBLE, LONG8s, IFD8
    default: return 0;
    }
}

bool pointsAtData(quint64 tag)
{
    return tag == 273 || tag == 324; // StripOffsets, TileOffsets
}

// Tags whose values lead to more directories or data this walk would not move.
bool pointsElsewhere(quint64 tag)
{
    return tag == 288 || tag == 330 || tag == 400 || tag == 513 || tag == 34665 || tag == 34853 || tag == 40965;
}

} // namespace

TiffPageChain::TiffPageChain(const QString& path)
    : m_file(std::make_unique<CheckedVipsTarget>(path)), m_path(path)
{
    if (!m_file->target())
        throw SystemError::fromErrno(m_file->error(), QStringLiteral("Cannot write ") + path);
}

TiffPageChain::~TiffPageChain() = default;

quint64 TiffPageChain::relocate(QByteArray& page, quint64 base, quint64* lastNextField)
{
    if (page.size() < 8 || (!page.startsWith("II") && !page.startsWith("MM")))
        throw cannotJoin(QStringLiteral("not a TIFF"));
    TiffBytes bytes(page, page.startsWith("MM"));
    const quint64 magic = bytes.get(2, 2);
    if (magic != 42 && magic != 43)
        throw cannotJoin(QStringLiteral("not a TIFF"));
    const bool big = magic == 43;
    const int word = big ? 8 : 4;           // an offset
    const int countWidth = big ? 8 : 2;     // a directory's entry count
    const int entrySize = big ? 20 : 12;
    const quint64 limit = big ? std::numeric_limits<quint64>::max() : 0xffffffffULL;
    if (quint64(page.size()) > limit - base)
        throw cannotJoin(QStringLiteral("a classic TIFF can't reach past 4 GB"));

    quint64 nextField = big ? 8 : 4;
    quint64 directory = bytes.get(nextField, word);
    const quint64 first = directory + base;
    int directories = 0;
    while (directory != 0) {
        // Offsets point forward or back, but a chain longer than a page's bytes loops.
        if (++directories > page.size() / entrySize)
            throw cannotJoin(QStringLiteral("the directories loop"));
        const quint64 entries = bytes.get(directory, countWidth);
        const quint64 start = directory + quint64(countWidth);
        bytes.check(start, entries * quint64(entrySize) + quint64(word));
        for (quint64 index = 0; index < entries; ++index) {
            const quint64 entry = start + index * quint64(entrySize);
            const quint64 tag = bytes.get(entry, 2);
            const quint64 type = bytes.get(entry + 2, 2);
            const quint64 count = bytes.get(entry + 4, big ? 8 : 4);
            const quint64 valueField = entry + (big ? 12 : 8);
            if (pointsElsewhere(tag))
                throw cannotJoin(QStringLiteral("tag %1 leads to data that is not moved").arg(tag));
            const int size = typeSize(type);
            if (size == 0 || count > quint64(page.size()))
                throw cannotJoin(QStringLiteral("an entry of unknown type or size"));
            const quint64 length = count * quint64(size);
            quint64 values = valueField;
            if (length > quint64(word)) {
                values = bytes.get(valueField, word);
                bytes.check(values, length);
                bytes.set(valueField, word, values + base);
            }
            if (pointsAtData(tag)) {
                if (type != 3 && type != 4 && type != 16)
                    throw cannotJoin(QStringLiteral("data offsets of an odd type"));
                for (quint64 item = 0; item < count; ++item)
                    bytes.set(values + item * quint64(size), size, bytes.get(values + item * quint64(size), size) + base);
            }
        }
        nextField = start + entries * quint64(entrySize);
        directory = bytes.get(nextField, word);
        if (directory != 0)
            bytes.set(nextField, word, directory + base);
    }
    if (first == base)
        throw cannotJoin(QStringLiteral("no page"));
    *lastNextField = nextField + base;
    return first;
}

void TiffPageChain::append(QByteArray page)
{
    if (page.size() < 8)
        throw cannotJoin(QStringLiteral("not a TIFF"));
    if (m_header.isEmpty()) {
        m_header = page.left(4);
        relocate(page, 0, &m_lastNextField);
        m_file->write(page.constData(), page.size());
        m_size = quint64(page.size());
    } else {
        if (!page.startsWith(m_header))
            throw cannotJoin(QStringLiteral("pages of another byte order or kind"));
        // Directories start on a word boundary; padding to 8 keeps every offset inside as aligned as it was.
        const quint64 padding = (8 - m_size % 8) % 8;
        const quint64 base = m_size + padding;
        quint64 lastNext = 0;
        const quint64 first = relocate(page, base, &lastNext);
        const bool big = m_header.at(2) == 43 || m_header.at(3) == 43;
        QByteArray pointer(big ? 8 : 4, '\0');
        TiffBytes(pointer, m_header.startsWith("MM")).set(0, pointer.size(), first);
        m_file->write(QByteArray(qsizetype(padding), '\0').constData(), qsizetype(padding));
        m_file->write(page.constData(), page.size());
        m_file->writeAt(qint64(m_lastNextField), pointer.constData(), pointer.size());
        m_size = base + quint64(page.size());
        m_lastNextField = lastNext;
    }
    if (m_file->error() != 0)
        throw SystemError::fromErrno(m_file->error(), QStringLiteral("Cannot write ") + m_path);
}

void TiffPageChain::finish()
{
    m_file->finish();
}

} // namespace qv
