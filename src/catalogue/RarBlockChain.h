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
// stored data in RAR 4. This tells both.
class RarBlockChain {
public:
    // What a RAR 4 file header declares of data that is stored as it is.
    struct StoredData {
        qint64 size = 0;
        quint32 crc = 0;
    };

    // Up to length bytes from offset; fewer at the end of the data.
    using ReadAt = std::function<QByteArray(qint64 offset, qint64 length)>;

    static RarBlockChain walk(qint64 size, const ReadAt& readAt);
    // Throws SystemError when the file cannot be read.
    static RarBlockChain walkFile(const QString& path);

    // Why the chain is not whole (a header cut off, damaged or out of bounds, no end block in
    // RAR 5); empty when it is whole or cannot be followed (encrypted headers, no signature).
    const QString& problem() const { return m_problem; }

    // One element per RAR 4 file header, in order: what its stored data must match, or nothing
    // for a folder, packed or encrypted data, or data split over volumes.
    const QList<std::optional<StoredData>>& storedData() const { return m_stored; }

private:
    void walkVersion4(qint64 at, qint64 size, const ReadAt& readAt);
    void walkVersion5(qint64 at, qint64 size, const ReadAt& readAt);

    QString m_problem;
    QList<std::optional<StoredData>> m_stored;
};

} // namespace qv
