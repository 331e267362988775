#include "documents/sheets/CompoundFile.h"

#include <QSet>
#include <QtEndian>

namespace qv {

namespace {

constexpr quint32 endOfChain = 0xFFFFFFFE;
constexpr quint32 lastRegularSector = 0xFFFFFFFA;
constexpr char compoundMagic[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
constexpr qint64 miniSectorSize = 64;

quint32 word32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

quint16 word16(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

} // namespace

CompoundFile::CompoundFile(const QString& path) : m_file(path) {}

bool CompoundFile::looksLikeOne(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(8) == QByteArray(compoundMagic, 8);
}

bool CompoundFile::open()
{
    if (!m_file.open(QIODevice::ReadOnly))
        return false;
    m_header = m_file.read(512);
    if (m_header.size() < 512 || !m_header.startsWith(QByteArray(compoundMagic, 8)))
        return false;
    const quint16 shift = word16(m_header, 0x1E);
    if (shift != 9 && shift != 12)
        return false;
    m_sectorSize = qint64(1) << shift;
    m_sectorCount = (m_file.size() - m_sectorSize + m_sectorSize - 1) / m_sectorSize;
    if (m_sectorCount <= 0)
        return false;
    // The allocation table, from the header's list and the chain of further list sectors.
    std::vector<quint32> tableSectors;
    for (int i = 0; i < 109; ++i) {
        const quint32 s = word32(m_header, 0x4C + 4 * i);
        if (s <= lastRegularSector)
            tableSectors.push_back(s);
    }
    quint32 next = word32(m_header, 0x44);
    QSet<quint32> seen;
    while (next <= lastRegularSector) {
        if (seen.contains(next) || seen.size() > m_sectorCount)
            return false;
        seen.insert(next);
        const QByteArray list = sector(next);
        if (list.isEmpty())
            return false;
        const qsizetype count = m_sectorSize / 4 - 1;
        for (qsizetype i = 0; i < count; ++i) {
            const quint32 s = word32(list, 4 * i);
            if (s <= lastRegularSector)
                tableSectors.push_back(s);
        }
        next = word32(list, 4 * count);
    }
    for (const quint32 s : tableSectors) {
        const QByteArray bytes = sector(s);
        if (bytes.isEmpty())
            return false;
        for (qsizetype i = 0; i + 4 <= bytes.size(); i += 4)
            m_table.push_back(word32(bytes, i));
    }
    return !m_table.empty();
}

std::optional<QList<CompoundFile::Entry>> CompoundFile::entries()
{
    QList<Entry> found;
    quint32 current = word32(m_header, 0x30);
    qint64 steps = 0;
    while (current != endOfChain) {
        if (current > lastRegularSector || steps++ > m_sectorCount)
            return std::nullopt;
        const QByteArray bytes = sector(current);
        if (bytes.isEmpty())
            return std::nullopt;
        for (qsizetype at = 0; at + 128 <= bytes.size(); at += 128) {
            const quint16 length = word16(bytes, at + 64);
            if (length < 2 || length > 64 || bytes[at + 66] == 0)
                continue;
            Entry entry;
            entry.name = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + at), length / 2 - 1);
            entry.type = bytes[at + 66];
            entry.start = word32(bytes, at + 116);
            entry.size = word32(bytes, at + 120);
            // Version 3 files keep only the low half of the size.
            if (m_sectorSize != 512)
                entry.size |= quint64(word32(bytes, at + 124)) << 32;
            found.append(entry);
        }
        if (current >= m_table.size())
            return std::nullopt;
        current = m_table[current];
    }
    return found;
}

std::optional<QByteArray> CompoundFile::stream(const QString& name, qint64 limit)
{
    const std::optional<QList<Entry>> all = entries();
    if (!all || all->isEmpty())
        return std::nullopt;
    const Entry* wanted = nullptr;
    for (const Entry& entry : *all) {
        if (entry.type == 2 && entry.name.compare(name, Qt::CaseInsensitive) == 0) {
            wanted = &entry;
            break;
        }
    }
    if (!wanted)
        return std::nullopt;
    const qint64 size = qint64(std::min<quint64>(wanted->size, quint64(limit)));
    const auto regular = [this](quint32 number) { return sector(number); };
    if (wanted->size >= word32(m_header, 0x38))
        return chain(m_table, wanted->start, size, m_sectorSize, regular);
    // Small streams live in the root's stream, 64 bytes a sector, with a table of their own.
    const Entry& root = all->first();
    const std::optional<QByteArray> miniTableBytes =
        chain(m_table, word32(m_header, 0x3C), qint64(word32(m_header, 0x40)) * m_sectorSize, m_sectorSize, regular);
    const std::optional<QByteArray> miniStream =
        chain(m_table, root.start, qint64(std::min<quint64>(root.size, quint64(m_sectorCount * m_sectorSize))),
              m_sectorSize, regular);
    if (!miniTableBytes || !miniStream)
        return std::nullopt;
    std::vector<quint32> miniTable;
    for (qsizetype i = 0; i + 4 <= miniTableBytes->size(); i += 4)
        miniTable.push_back(word32(*miniTableBytes, i));
    const QByteArray& mini = *miniStream;
    return chain(miniTable, wanted->start, size, miniSectorSize, [&mini](quint32 number) {
        const qint64 at = qint64(number) * miniSectorSize;
        return at + miniSectorSize <= mini.size() ? mini.mid(at, miniSectorSize) : QByteArray();
    });
}

std::optional<QByteArray> CompoundFile::chain(const std::vector<quint32>& table, quint32 start, qint64 size,
                                              qint64 unit, const std::function<QByteArray(quint32)>& read)
{
    QByteArray bytes;
    quint32 current = start;
    const qint64 most = qint64(table.size());
    qint64 steps = 0;
    while (bytes.size() < size) {
        if (current > lastRegularSector || current >= table.size() || steps++ > most)
            return std::nullopt;
        const QByteArray piece = read(current);
        if (piece.size() != unit)
            return std::nullopt;
        bytes += piece;
        current = table[current];
    }
    bytes.truncate(size);
    return bytes;
}

QByteArray CompoundFile::sector(quint32 number)
{
    if (qint64(number) >= m_sectorCount || !m_file.seek(m_sectorSize * (qint64(number) + 1)))
        return {};
    const QByteArray bytes = m_file.read(m_sectorSize);
    return bytes.size() == m_sectorSize ? bytes : QByteArray();
}

} // namespace qv
