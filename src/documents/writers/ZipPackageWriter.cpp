#include "documents/writers/ZipPackageWriter.h"

#include "model/errors/CancellationError.h"
#include "model/errors/SystemError.h"

#include <QDateTime>
#include <QFile>

#include <zlib.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace qv {

namespace {

constexpr qsizetype bufferBytes = 1 << 18;
constexpr quint16 descriptorFlag = 1 << 3;
constexpr quint16 utf8NameFlag = 1 << 11;

void put16(QByteArray& out, quint32 value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

void put32(QByteArray& out, quint32 value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

} // namespace

// Raw deflate of one entry, fed in pieces.
struct ZipPackageWriter::Deflater {
    z_stream z{};
    bool open = false;

    Deflater()
    {
        open = deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater()
    {
        if (open)
            deflateEnd(&z);
    }

    // Deflates the bytes (all of what is pending when finishing) and hands the output on.
    template <typename Sink>
    bool run(const char* bytes, qint64 length, bool finishing, Sink&& sink)
    {
        char out[1 << 16];
        qint64 offset = 0;
        for (;;) {
            const uInt piece = uInt(std::min<qint64>(length - offset, 1 << 30));
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes + offset));
            z.avail_in = piece;
            const bool last = finishing && offset + piece == length;
            int status = Z_OK;
            do {
                z.next_out = reinterpret_cast<Bytef*>(out);
                z.avail_out = sizeof out;
                status = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
                if (status == Z_STREAM_ERROR)
                    return false;
                sink(out, qint64(sizeof out - z.avail_out));
            } while (z.avail_out == 0 || (last && status != Z_STREAM_END));
            offset += piece;
            if (offset >= length && (!finishing || last))
                return true;
        }
    }
};

ZipPackageWriter::ZipPackageWriter(const QString& path, std::stop_token stop)
    : m_path(path), m_stop(std::move(stop))
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0)
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot create ") + path);
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    m_date = quint16(((std::clamp(date.year(), 1980, 2107) - 1980) << 9) | (date.month() << 5) | date.day());
    m_time = quint16((time.hour() << 11) | (time.minute() << 5) | (time.second() / 2));
    m_buffer.reserve(bufferBytes);
}

ZipPackageWriter::~ZipPackageWriter()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_finished)
        ::unlink(QFile::encodeName(m_path).constData());
}

void ZipPackageWriter::fail(int error)
{
    throw SystemError::fromErrno(error, QStringLiteral("Cannot write ") + m_path);
}

void ZipPackageWriter::flushBuffer()
{
    const char* bytes = m_buffer.constData();
    qsizetype done = 0;
    while (done < m_buffer.size()) {
        const ssize_t n = ::write(m_fd, bytes + done, size_t(m_buffer.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(n < 0 ? errno : ENOSPC);
        done += n;
    }
    m_buffer.clear();
}

void ZipPackageWriter::output(const char* bytes, qint64 length)
{
    if (m_written + length > maximumSize)
        fail(EFBIG);
    m_written += length;
    if (m_buffer.size() + length > bufferBytes) {
        flushBuffer();
        if (length > bufferBytes) {
            m_buffer = QByteArray(bytes, length);
            flushBuffer();
            return;
        }
    }
    m_buffer.append(bytes, length);
}

void ZipPackageWriter::output(const QByteArray& bytes)
{
    output(bytes.constData(), bytes.size());
}

void ZipPackageWriter::localHeader(const Record& record)
{
    QByteArray header;
    put32(header, 0x04034b50);
    put16(header, record.method == 0 ? 10 : 20);
    put16(header, record.flags);
    put16(header, record.method);
    put16(header, m_time);
    put16(header, m_date);
    const bool streamed = record.flags & descriptorFlag;
    put32(header, streamed ? 0 : record.crc);
    put32(header, streamed ? 0 : quint32(record.compressedSize));
    put32(header, streamed ? 0 : quint32(record.size));
    put16(header, quint32(record.name.size()));
    put16(header, 0);
    header += record.name;
    output(header);
}

void ZipPackageWriter::startRecord(const QString& name, Method method, bool streamed)
{
    throwIfCancelled(m_stop);
    if (m_stream)
        endStream();
    if (m_records.size() >= maximumEntries)
        fail(EFBIG);
    Record record;
    record.name = name.toUtf8();
    record.name.truncate(0xFFFF);
    bool ascii = true;
    for (const char c : record.name)
        ascii = ascii && uchar(c) < 0x80;
    record.flags = quint16((ascii ? 0 : utf8NameFlag) | (streamed ? descriptorFlag : 0));
    record.method = method == Method::stored ? 0 : Z_DEFLATED;
    record.offset = m_written;
    m_records.append(record);
}

void ZipPackageWriter::add(const QString& name, const QByteArray& bytes, Method method)
{
    startRecord(name, method, false);
    Record& record = m_records.last();
    record.size = bytes.size();
    record.crc = quint32(crc32_z(crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.constData()),
                                 size_t(bytes.size())));
    if (method == Method::stored) {
        record.compressedSize = bytes.size();
        localHeader(record);
        output(bytes);
        return;
    }
    Deflater deflater;
    if (!deflater.open)
        throw std::bad_alloc();
    QByteArray packed;
    if (!deflater.run(bytes.constData(), bytes.size(), true,
                      [&](const char* out, qint64 n) { packed.append(out, n); }))
        fail(EIO);
    record.compressedSize = packed.size();
    localHeader(record);
    output(packed);
}

void ZipPackageWriter::begin(const QString& name)
{
    startRecord(name, Method::deflated, true);
    localHeader(m_records.last());
    m_stream = std::make_unique<Deflater>();
    if (!m_stream->open)
        throw std::bad_alloc();
}

void ZipPackageWriter::write(const QByteArray& bytes)
{
    throwIfCancelled(m_stop);
    if (!m_stream || bytes.isEmpty())
        return;
    Record& record = m_records.last();
    record.crc = quint32(crc32_z(record.crc, reinterpret_cast<const Bytef*>(bytes.constData()), size_t(bytes.size())));
    record.size += bytes.size();
    if (!m_stream->run(bytes.constData(), bytes.size(), false, [&](const char* out, qint64 n) {
            record.compressedSize += n;
            output(out, n);
        }))
        fail(EIO);
}

void ZipPackageWriter::endStream()
{
    Record& record = m_records.last();
    if (!m_stream->run(nullptr, 0, true, [&](const char* out, qint64 n) {
            record.compressedSize += n;
            output(out, n);
        }))
        fail(EIO);
    m_stream.reset();
    if (record.size > maximumSize)
        fail(EFBIG);
    QByteArray descriptor;
    put32(descriptor, 0x08074b50);
    put32(descriptor, record.crc);
    put32(descriptor, quint32(record.compressedSize));
    put32(descriptor, quint32(record.size));
    output(descriptor);
}

void ZipPackageWriter::finish()
{
    throwIfCancelled(m_stop);
    if (m_stream)
        endStream();
    const qint64 directoryStart = m_written;
    for (const Record& record : m_records) {
        QByteArray entry;
        put32(entry, 0x02014b50);
        put16(entry, (3 << 8) | 20); // made on Unix, zip 2.0
        put16(entry, record.method == 0 ? 10 : 20);
        put16(entry, record.flags);
        put16(entry, record.method);
        put16(entry, m_time);
        put16(entry, m_date);
        put32(entry, record.crc);
        put32(entry, quint32(record.compressedSize));
        put32(entry, quint32(record.size));
        put16(entry, quint32(record.name.size()));
        put16(entry, 0); // extra
        put16(entry, 0); // comment
        put16(entry, 0); // disk
        put16(entry, 0); // internal attributes
        put32(entry, quint32(0100644) << 16);
        put32(entry, quint32(record.offset));
        entry += record.name;
        output(entry);
    }
    QByteArray end;
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, quint32(m_records.size()));
    put16(end, quint32(m_records.size()));
    put32(end, quint32(m_written - directoryStart));
    put32(end, quint32(directoryStart));
    put16(end, 0);
    output(end);
    flushBuffer();
    if (::fsync(m_fd) != 0)
        fail(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        fail(errno);
    m_finished = true;
}

} // namespace qv
