#include "documents/OfficeEncryption.h"

#include <QFile>
#include <QSet>
#include <QtEndian>

#include <vector>

namespace qv {

const QString OfficeEncryption::passwordProtectedMessage = QStringLiteral("This document is password-protected");

namespace {

constexpr quint32 endOfChain = 0xFFFFFFFE;
constexpr quint32 lastRegularSector = 0xFFFFFFFA;
constexpr char compoundMagic[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

quint32 word32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

quint16 word16(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

// A compound file read sector by sector; every sector number is checked against the file.
class CompoundFile {
public:
    explicit CompoundFile(const QString& path) : m_file(path) {}

    bool open()
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
        return m_sectorCount > 0;
    }

    // The allocation table, from the header's list and the chain of further list sectors.
    bool readTable()
    {
        std::vector<quint32> tableSectors;
        for (int i = 0; i < 109; ++i) {
            const quint32 sector = word32(m_header, 0x4C + 4 * i);
            if (sector <= lastRegularSector)
                tableSectors.push_back(sector);
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
            const qsizetype entries = m_sectorSize / 4 - 1;
            for (qsizetype i = 0; i < entries; ++i) {
                const quint32 s = word32(list, 4 * i);
                if (s <= lastRegularSector)
                    tableSectors.push_back(s);
            }
            next = word32(list, 4 * entries);
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

    // The names of the directory's streams and storages.
    QSet<QString> entryNames()
    {
        QSet<QString> names;
        quint32 current = word32(m_header, 0x30);
        qint64 steps = 0;
        while (current <= lastRegularSector && steps++ <= m_sectorCount) {
            const QByteArray bytes = sector(current);
            if (bytes.isEmpty())
                break;
            for (qsizetype at = 0; at + 128 <= bytes.size(); at += 128) {
                const quint16 length = word16(bytes, at + 64);
                if (length < 2 || length > 64 || bytes[at + 66] == 0)
                    continue;
                names.insert(QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + at),
                                                length / 2 - 1));
            }
            if (current >= m_table.size())
                break;
            current = m_table[current];
            if (current == endOfChain)
                break;
        }
        return names;
    }

private:
    QByteArray sector(quint32 number)
    {
        if (qint64(number) >= m_sectorCount || !m_file.seek(m_sectorSize * (qint64(number) + 1)))
            return {};
        const QByteArray bytes = m_file.read(m_sectorSize);
        return bytes.size() == m_sectorSize ? bytes : QByteArray();
    }

    QFile m_file;
    QByteArray m_header;
    qint64 m_sectorSize = 512;
    qint64 m_sectorCount = 0;
    std::vector<quint32> m_table;
};

} // namespace

bool OfficeEncryption::isEncryptedPackage(const QString& path)
{
    CompoundFile file(path);
    if (!file.open() || !file.readTable())
        return false;
    const QSet<QString> names = file.entryNames();
    // A PowerPoint 97-2003 file locked with a password keeps its properties encrypted in a
    // stream of their own.
    return (names.contains(QStringLiteral("EncryptionInfo")) && names.contains(QStringLiteral("EncryptedPackage")))
        || (names.contains(QStringLiteral("PowerPoint Document")) && names.contains(QStringLiteral("EncryptedSummary")));
}

} // namespace qv
