#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace qv {

// A compound file (OLE, the container of Office 97-2003 documents and of encrypted OOXML) read
// sector by sector straight from the file: its directory and whole streams. Every sector
// number is checked against the file, so a file cut short reads as incomplete, never past its
// end.
class CompoundFile {
public:
    struct Entry {
        QString name;
        int type = 0; // 1 storage, 2 stream, 5 root
        quint32 start = 0;
        quint64 size = 0;
    };

    explicit CompoundFile(const QString& path);

    // Whether the file begins as a compound file at all.
    static bool looksLikeOne(const QString& path);

    // The header and the allocation table; false when they cannot be read whole.
    bool open();
    // The directory's entries; nothing when its chain leaves the file.
    std::optional<QList<Entry>> entries();
    // The named stream's bytes, up to limit; nothing when it is missing or its chain of sectors
    // is cut short, loops or leaves the file.
    std::optional<QByteArray> stream(const QString& name, qint64 limit);

private:
    QByteArray sector(quint32 number);
    // The bytes of a chain of the given table, of at least size bytes.
    std::optional<QByteArray> chain(const std::vector<quint32>& table, quint32 start, qint64 size, qint64 unit,
                                    const std::function<QByteArray(quint32)>& read);

    QFile m_file;
    QByteArray m_header;
    qint64 m_sectorSize = 512;
    qint64 m_sectorCount = 0;
    std::vector<quint32> m_table;
};

} // namespace qv
