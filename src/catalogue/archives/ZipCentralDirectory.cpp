#include "catalogue/archives/ZipCentralDirectory.h"

#include <QFile>

#include <QHash>

#include <algorithm>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

quint32 le16(const uchar* p)
{
    return quint32(p[0]) | quint32(p[1]) << 8;
}

quint32 le32(const uchar* p)
{
    return le16(p) | le16(p + 2) << 16;
}

constexpr qint64 endRecordSize = 22;
constexpr qint64 entryRecordSize = 46;
constexpr qint64 localHeaderSize = 30;

// Shrink (1), Reduce (2 to 5), Implode (6) and Deflate64 (9).
bool isOlderMethod(quint32 method)
{
    return (method >= 1 && method <= 6) || method == 9;
}

// Reads ahead of the local headers, which lie in the file's order: one read for many small
// entries, where a seek and a read for each cost more than the walk itself.
class LocalHeaders {
public:
    explicit LocalHeaders(QFile& file)
        : m_fd(file.handle())
    {
    }

    // The bytes at offset, or nullptr where the file has fewer.
    const uchar* at(qint64 offset, qint64 length)
    {
        if (offset < m_start || offset + length > m_start + m_buffer.size()) {
            m_buffer.resize(std::max<qint64>(length, readAhead));
            qint64 got = 0;
            while (got < m_buffer.size()) {
                const ssize_t n = ::pread(m_fd, m_buffer.data() + got, std::size_t(m_buffer.size() - got), offset + got);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                got += n;
            }
            m_buffer.resize(got);
            m_start = offset;
            if (got < length)
                return nullptr;
        }
        return reinterpret_cast<const uchar*>(m_buffer.constData()) + (offset - m_start);
    }

private:
    static constexpr qint64 readAhead = 64 * 1024;
    int m_fd;
    qint64 m_start = 0;
    QByteArray m_buffer;
};

// The walks of the extraction under way on this thread, by path.
thread_local QHash<QString, ZipCentralDirectory::Walk>* reused = nullptr;

} // namespace

ZipCentralDirectory::Reuse::Reuse()
    : m_outer(reused)
{
    reused = new QHash<QString, Walk>();
}

ZipCentralDirectory::Reuse::~Reuse()
{
    delete reused;
    reused = m_outer;
}

ZipCentralDirectory::Walk ZipCentralDirectory::walk(const QString& path)
{
    if (!reused)
        return walkFile(path);
    const auto known = reused->constFind(path);
    if (known != reused->constEnd())
        return *known;
    const Walk result = walkFile(path);
    reused->insert(path, result);
    return result;
}

ZipCentralDirectory::Walk ZipCentralDirectory::walkFile(const QString& path)
{
    Walk result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const qint64 size = file.size();
    if (size < endRecordSize)
        return result;
    // The end record, then at most a 64 KB comment.
    const qint64 tailSize = std::min(size, endRecordSize + 0xFFFF);
    if (!file.seek(size - tailSize))
        return result;
    const QByteArray tail = file.read(tailSize);
    if (tail.size() != tailSize)
        return result;
    const auto* t = reinterpret_cast<const uchar*>(tail.constData());
    // libarchive takes the last end record it finds, whatever follows it.
    for (qint64 at = tailSize - endRecordSize; at >= 0; --at) {
        if (t[at] == 'P' && t[at + 1] == 'K' && t[at + 2] == 5 && t[at + 3] == 6) {
            const qint64 directoryEnd = qint64(le32(t + at + 16)) + le32(t + at + 12);
            QByteArray head;
            if (directoryEnd < size - tailSize + at && file.seek(0))
                head = file.read(4);
            result.endsAnotherZip = head == QByteArrayView("PK\x03\x04", 4);
            break;
        }
    }
    qint64 end = -1;
    for (qint64 at = tailSize - endRecordSize; at >= 0; --at) {
        if (t[at] == 'P' && t[at + 1] == 'K' && t[at + 2] == 5 && t[at + 3] == 6
            && at + endRecordSize + le16(t + at + 20) == tailSize) {
            end = at;
            break;
        }
    }
    // An end record at the very end whose signature alone is off (libarchive's own test of
    // padded extra fields has one) is taken when everything it says agrees with the directory.
    if (end < 0 && le16(t + tailSize - 2) == 0)
        end = tailSize - endRecordSize;
    const uchar* e = t + end;
    const quint32 disk = le16(e + 4);
    const quint32 directoryDisk = le16(e + 6);
    const quint32 onDisk = le16(e + 8);
    const quint32 total = le16(e + 10);
    const quint32 directorySize = le32(e + 12);
    const quint32 directoryOffset = le32(e + 16);
    // Spanned archives and zip64 are left to libarchive's own verdict.
    if (disk != 0 || directoryDisk != 0 || onDisk != total || total == 0xFFFF || directorySize == 0xFFFFFFFF
        || directoryOffset == 0xFFFFFFFF)
        return result;
    const qint64 endAt = size - tailSize + end;
    if (qint64(directoryOffset) + directorySize != endAt)
        return result;
    if (!file.seek(directoryOffset))
        return result;
    const QByteArray directory = file.read(directorySize);
    if (directory.size() != qint64(directorySize))
        return result;
    const auto* d = reinterpret_cast<const uchar*>(directory.constData());
    LocalHeaders headers(file);
    qint64 at = 0;
    quint32 count = 0;
    while (at < directory.size()) {
        if (at + entryRecordSize > directory.size() || le32(d + at) != 0x02014b50)
            return result;
        const uchar* r = d + at;
        const qint64 recordSize = entryRecordSize + le16(r + 28) + le16(r + 30) + le16(r + 32);
        if (at + recordSize > directory.size())
            return result;
        const quint32 localOffset = le32(r + 42);
        if (localOffset == 0xFFFFFFFF || qint64(localOffset) + 30 > directoryOffset)
            return result;
        const quint32 nameLength = le16(r + 28);
        uchar local[localHeaderSize];
        const uchar* header = headers.at(localOffset, localHeaderSize);
        if (!header || le32(header) != 0x04034b50)
            return result;
        std::copy(header, header + localHeaderSize, local);
        // Much as 7-Zip compares them: the name, the method, whether it is encrypted, and
        // without a data descriptor the CRC and sizes (unless one is left to a zip64 field).
        // Names beyond ASCII may differ, as some writers give the local header UTF-8 and the
        // directory a code page, but a name is there.
        const bool descriptor = (le16(r + 8) & 0x08) || (le16(local + 6) & 0x08);
        const auto sameSize = [](quint32 a, quint32 b) { return a == b || a == 0xFFFFFFFF || b == 0xFFFFFFFF; };
        const qint64 localNameLength = le16(local + 26);
        const uchar* localNameAt = headers.at(localOffset + localHeaderSize, localNameLength);
        const QByteArray localName = localNameAt
            ? QByteArray(reinterpret_cast<const char*>(localNameAt), qsizetype(localNameLength))
            : QByteArray();
        const QByteArray centralName(reinterpret_cast<const char*>(r + entryRecordSize), qsizetype(nameLength));
        const auto ascii = [](const QByteArray& name) {
            return std::all_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x80; });
        };
        const bool namesAgree = localName == centralName
            || (!localName.isEmpty() && !centralName.isEmpty() && !(ascii(localName) && ascii(centralName)));
        if (!namesAgree || le16(local + 8) != le16(r + 10)
            || (le16(local + 6) & 0x01) != (le16(r + 8) & 0x01)
            || (!descriptor && (le32(local + 14) != le32(r + 16) || !sameSize(le32(local + 18), le32(r + 20))
                                || !sameSize(le32(local + 22), le32(r + 24)))))
            result.localHeadersAgree = false;
        const quint32 madeBy = le16(r + 4) >> 8;
        const quint32 mode = le32(r + 38) >> 16;
        if (madeBy == 3 && (mode & S_IFMT) == S_IFLNK)
            result.holdsLinks = true;
        if (isOlderMethod(le16(r + 10)))
            result.holdsOlderMethods = true;
        ++count;
        at += recordSize;
    }
    if (count != total)
        return result;
    result.entries = int(count);
    result.sound = true;
    return result;
}

} // namespace qv
