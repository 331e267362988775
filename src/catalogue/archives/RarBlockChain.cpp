#include "catalogue/archives/RarBlockChain.h"

#include "model/errors/SystemError.h"

#include <QFile>

#include <zlib.h>

#include <cerrno>
#include <limits>

namespace qv {

namespace {

// libarchive looks this far into a self-extracting file for the signature.
constexpr qint64 signatureWindow = 1 << 20;
// RAR 5 headers are at most 2 MB.
constexpr quint64 largestHeader5 = 2 * 1024 * 1024;

quint8 byteAt(const QByteArray& bytes, qsizetype at)
{
    return quint8(bytes[at]);
}

quint16 le16(const QByteArray& bytes, qsizetype at)
{
    return quint16(byteAt(bytes, at) | byteAt(bytes, at + 1) << 8);
}

quint32 le32(const QByteArray& bytes, qsizetype at)
{
    return quint32(le16(bytes, at)) | quint32(le16(bytes, at + 2)) << 16;
}

quint32 crcOf(quint32 crc, const QByteArray& bytes, qsizetype from, qsizetype to)
{
    return quint32(crc32(crc, reinterpret_cast<const Bytef*>(bytes.constData() + from), uInt(to - from)));
}

// A RAR 5 variable-length number; false when the bytes end first or it overflows 64 bits.
bool readNumber(const QByteArray& bytes, qsizetype& at, quint64& value)
{
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (at >= bytes.size())
            return false;
        const quint8 byte = byteAt(bytes, at++);
        value |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

// What a RAR 5 file header, read up to its own fields at `field`, says its data must match:
// nothing for a folder, an unknown size, data split over volumes or encrypted (its checksums are
// keyed then), or a header that cannot be read, which the chain's checks have not refused.
std::optional<RarBlockChain::StoredData> fileChecksums5(const QByteArray& header, qsizetype field, quint64 flags,
                                                        quint64 extraSize, bool& encrypted)
{
    constexpr quint64 splitBefore = 0x08, splitAfter = 0x10;
    constexpr quint64 folder = 0x01, timeField = 0x02, crcField = 0x04, sizeUnknown = 0x08;
    constexpr quint64 encryptionRecord = 1, hashRecord = 2, blake2sp = 0;
    if (flags & (splitBefore | splitAfter))
        return std::nullopt;
    quint64 fileFlags = 0, unpacked = 0, attributes = 0;
    if (!readNumber(header, field, fileFlags) || !readNumber(header, field, unpacked)
        || !readNumber(header, field, attributes))
        return std::nullopt;
    if ((fileFlags & (folder | sizeUnknown)) || unpacked > quint64(std::numeric_limits<qint64>::max()))
        return std::nullopt;
    if (fileFlags & timeField)
        field += 4;
    RarBlockChain::StoredData data;
    data.size = qint64(unpacked);
    if (fileFlags & crcField) {
        if (field + 4 > header.size())
            return std::nullopt;
        data.crc = le32(header, field);
    }
    if (extraSize > quint64(header.size()))
        return std::nullopt;
    qsizetype at = header.size() - qsizetype(extraSize);
    while (at < header.size()) {
        quint64 recordSize = 0, recordType = 0;
        if (!readNumber(header, at, recordSize) || recordSize > quint64(header.size() - at))
            return std::nullopt;
        const qsizetype end = at + qsizetype(recordSize);
        if (!readNumber(header, at, recordType) || at > end)
            return std::nullopt;
        if (recordType == encryptionRecord) {
            encrypted = true;
            return std::nullopt;
        }
        quint64 hashType = 0;
        if (recordType == hashRecord && readNumber(header, at, hashType) && hashType == blake2sp && at + 32 <= end)
            data.blake2 = header.mid(at, 32);
        at = end;
    }
    if (!data.crc && data.blake2.isEmpty())
        return std::nullopt;
    return data;
}

const QString endsInsideHeader = QStringLiteral("The archive ends inside a block header");
const QString endsInsideData = QStringLiteral("The archive ends inside a block's data");
const QString damagedHeader = QStringLiteral("A block header is damaged");
const QString checksumMismatch = QStringLiteral("A block header does not match its checksum");

} // namespace

RarBlockChain RarBlockChain::walk(qint64 size, const ReadAt& readAt)
{
    RarBlockChain chain;
    const QByteArray start = readAt(0, std::min(size, signatureWindow));
    const qsizetype mark = start.indexOf(QByteArrayView("Rar!\x1a\x07", 6));
    if (mark < 0 || mark + 7 > start.size())
        return chain;
    if (byteAt(start, mark + 6) == 0x00)
        chain.walkVersion4(mark + 7, size, readAt);
    else if (byteAt(start, mark + 6) == 0x01 && mark + 8 <= start.size() && byteAt(start, mark + 7) == 0x00)
        chain.walkVersion5(mark + 8, size, readAt);
    return chain;
}

RarBlockChain RarBlockChain::walkFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const int code = errno;
        throw SystemError::fromErrno(code ? code : EIO, path);
    }
    bool failed = false;
    const auto readAt = [&](qint64 offset, qint64 length) {
        if (!file.seek(offset)) {
            failed = true;
            return QByteArray();
        }
        QByteArray bytes = file.read(length);
        failed = failed || file.error() != QFileDevice::NoError;
        return bytes;
    };
    RarBlockChain chain = walk(file.size(), readAt);
    if (failed)
        throw SystemError::fromErrno(EIO, path);
    return chain;
}

bool RarBlockChain::isSolidVersion4(const QString& path)
{
    constexpr quint8 mainHeader = 0x73;
    constexpr quint16 solid = 0x0008;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The signature, then the main header's CRC, type and flags.
    const QByteArray start = file.read(12);
    return start.size() == 12 && start.startsWith(QByteArrayView("Rar!\x1a\x07\x00", 7))
        && byteAt(start, 9) == mainHeader && (le16(start, 10) & solid);
}

bool RarBlockChain::isLaterVolumeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The signature and the main header, which comes first; what follows is not read.
    const QByteArray start = file.read(256);
    return walk(start.size(), [&start](qint64 offset, qint64 length) { return start.mid(offset, length); })
        .isLaterVolume();
}

void RarBlockChain::walkVersion4(qint64 at, qint64 size, const ReadAt& readAt)
{
    constexpr quint8 mainHeader = 0x73, fileHeader = 0x74, serviceHeader = 0x7a, endHeader = 0x7b;
    for (;;) {
        // Archives from before RAR 3 have no end block.
        if (at == size)
            return;
        const QByteArray head = readAt(at, 7);
        if (head.size() < 7) {
            m_problem = endsInsideHeader;
            return;
        }
        const quint8 type = byteAt(head, 2);
        const quint16 flags = le16(head, 3);
        const quint16 headSize = le16(head, 5);
        if (headSize < 7) {
            m_problem = damagedHeader;
            return;
        }
        const QByteArray header = readAt(at, headSize);
        if (header.size() < headSize) {
            m_problem = endsInsideHeader;
            return;
        }
        // Encrypted headers follow: nothing more can be read without the password.
        if (type == mainHeader && (flags & 0x0080))
            return;
        if (type != mainHeader && quint16(crcOf(0, header, 2, headSize)) != le16(header, 0)) {
            m_problem = checksumMismatch;
            return;
        }
        const bool carriesData = type == fileHeader || type == serviceHeader;
        const bool large = carriesData && (flags & 0x0100);
        if ((carriesData && headSize < (large ? 40 : 32)) || (flags & 0x8000 && headSize < 11)) {
            m_problem = damagedHeader;
            return;
        }
        qint64 dataSize = carriesData || (flags & 0x8000) ? qint64(le32(header, 7)) : 0;
        if (large)
            dataSize |= qint64(le32(header, 32)) << 32;
        if (type == fileHeader) {
            const bool folder = (flags & 0x00e0) == 0x00e0;
            // Split before or after, or encrypted.
            const bool whole = !(flags & 0x0007);
            m_encrypted = m_encrypted || (flags & 0x0004);
            const bool stored = byteAt(header, 25) == 0x30;
            qint64 unpacked = qint64(le32(header, 11));
            if (large)
                unpacked |= qint64(le32(header, 36)) << 32;
            if (stored && whole && !folder)
                m_stored.append(StoredData{unpacked, le32(header, 16), {}});
            else
                m_stored.append(std::nullopt);
        }
        if (type == endHeader) {
            m_continues = flags & 0x0001;
            return;
        }
        if (dataSize < 0 || dataSize > size - at - headSize) {
            m_problem = endsInsideData;
            return;
        }
        at += headSize + dataSize;
    }
}

void RarBlockChain::walkVersion5(qint64 at, qint64 size, const ReadAt& readAt)
{
    constexpr quint64 mainHeader = 1, fileHeader = 2, encryptionHeader = 4, endHeader = 5;
    for (;;) {
        if (at >= size) {
            m_problem = QStringLiteral("The archive ends before its end block");
            return;
        }
        // The CRC, then the header's size in at most 3 bytes.
        const QByteArray head = readAt(at, 7);
        qsizetype pos = 4;
        quint64 headSize = 0;
        if (head.size() < 5 || !readNumber(head, pos, headSize)) {
            m_problem = endsInsideHeader;
            return;
        }
        // The smallest, an end block with no flags of its own, is its type and its flags.
        if (pos > 7 || headSize < 2 || headSize > largestHeader5) {
            m_problem = damagedHeader;
            return;
        }
        const qint64 headerStart = at + pos;
        const QByteArray header = readAt(headerStart, qint64(headSize));
        if (header.size() < qsizetype(headSize)) {
            m_problem = endsInsideHeader;
            return;
        }
        if (crcOf(crcOf(0, head, 4, pos), header, 0, header.size()) != le32(head, 0)) {
            m_problem = checksumMismatch;
            return;
        }
        qsizetype field = 0;
        quint64 type = 0, flags = 0, extraSize = 0, dataSize = 0;
        if (!readNumber(header, field, type) || !readNumber(header, field, flags)
            || ((flags & 0x01) && !readNumber(header, field, extraSize))
            || ((flags & 0x02) && !readNumber(header, field, dataSize))) {
            m_problem = damagedHeader;
            return;
        }
        // Past an encryption header every header is encrypted.
        if (type == encryptionHeader)
            return;
        if (type == endHeader) {
            quint64 endFlags = 0;
            m_continues = readNumber(header, field, endFlags) && (endFlags & 0x01);
            return;
        }
        if (type == fileHeader)
            m_stored.append(fileChecksums5(header, field, flags, extraSize, m_encrypted));
        // A volume number is written only in the volumes after the first.
        constexpr quint64 numbered = 0x02;
        quint64 archiveFlags = 0, volume = 0;
        if (type == mainHeader && readNumber(header, field, archiveFlags) && (archiveFlags & numbered)
            && readNumber(header, field, volume) && volume > 0)
            m_laterVolume = true;
        const qint64 next = headerStart + qint64(headSize);
        if (dataSize > quint64(size - next)) {
            m_problem = endsInsideData;
            return;
        }
        at = next + qint64(dataSize);
    }
}

} // namespace qv
