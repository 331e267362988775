#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace qv {

// The blocks of a RAR archive (versions 4 and 5), walked header to header without unpacking.
// libarchive takes a header that runs past the end of the file for the end of the archive, so a
// cut or damaged RAR would read as a shorter, whole one; and it does not check the CRC of
// stored data in RAR 4, nor the CRC-32 or BLAKE2sp of stored data in RAR 5. This tells both.
class RarBlockChain {
public:
    // What a file header declares of its data: its size, and the checksums it keeps.
    struct StoredData {
        qint64 size = 0;
        std::optional<quint32> crc;
        QByteArray blake2; // a BLAKE2sp digest, empty when there is none
    };

    // Up to length bytes from offset; fewer at the end of the data.
    using ReadAt = std::function<QByteArray(qint64 offset, qint64 length)>;

    static RarBlockChain walk(qint64 size, const ReadAt& readAt);
    // Throws SystemError when the file cannot be read.
    static RarBlockChain walkFile(const QString& path);

    // Whether a RAR 4 archive, or the first volume of a set, says in its main header that it is
    // solid: libarchive 3.6 unpacks no file after the first of one. Reads the first bytes only;
    // false when they cannot be read or say otherwise.
    static bool isSolidVersion4(const QString& path);
    // Whether the file is a RAR 5 volume after the first of its set, by its first bytes only.
    static bool isLaterVolumeFile(const QString& path);

    // Why the chain is not whole (a header cut off, damaged or out of bounds, no end block in
    // RAR 5); empty when it is whole or cannot be followed (encrypted headers, no signature).
    const QString& problem() const { return m_problem; }

    // One element per file header, in order: what its data must match, or nothing for a folder,
    // encrypted data, data split over volumes, or (RAR 4) packed data, whose CRC libarchive checks.
    const QList<std::optional<StoredData>>& storedData() const { return m_stored; }

    // Whether a file header says its data is encrypted: a password stands in the way, whatever
    // libarchive says of it.
    bool holdsEncryptedData() const { return m_encrypted; }

    // Whether a RAR 5 main header numbers this file as a later volume of a set: alone, it holds
    // only the ends and starts of files its other parts complete.
    bool isLaterVolume() const { return m_laterVolume; }

    // Whether the end block says that a further volume of the set follows this one.
    bool continuesInNextVolume() const { return m_continues; }

private:
    void walkVersion4(qint64 at, qint64 size, const ReadAt& readAt);
    void walkVersion5(qint64 at, qint64 size, const ReadAt& readAt);

    QString m_problem;
    QList<std::optional<StoredData>> m_stored;
    bool m_encrypted = false;
    bool m_laterVolume = false;
    bool m_continues = false;
};

} // namespace qv
