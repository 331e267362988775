#include "catalogue/archives/GzipCheck.h"

#include "catalogue/archives/ArchiveReader.h"
#include "model/errors/CancellationError.h"
#include "model/errors/SystemError.h"

#include <QByteArray>
#include <QFile>

#include <zlib.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

constexpr qint64 blockSize = 64 * 1024;

struct Inflater {
    z_stream stream{};
    Inflater()
    {
        // 16 + window bits: gzip framing, with its trailer checked.
        if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
            throw SystemError::fromErrno(ENOMEM);
    }
    ~Inflater() { inflateEnd(&stream); }
};

struct Descriptor {
    int fd;
    ~Descriptor() { ::close(fd); }
};

// The next block of the file; empty at its end.
QByteArray readBlock(int fd, const QString& path)
{
    QByteArray block(blockSize, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(fd, block.data(), std::size_t(block.size()));
        if (got >= 0) {
            block.truncate(got);
            return block;
        }
        if (errno != EINTR)
            throw SystemError::fromErrno(errno, path);
    }
}

} // namespace

void inflateGzipFile(const QString& path, std::stop_token stop, const GzipSink& sink,
                     const FractionHandler& onFraction)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw SystemError::fromErrno(errno, path);
    const Descriptor descriptor{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw SystemError::fromErrno(errno, path);
    const qint64 total = st.st_size;

    Inflater inflater;
    z_stream& z = inflater.stream;
    QByteArray input;
    QByteArray output(blockSize, Qt::Uninitialized);
    qint64 consumed = 0;
    bool inMember = false; // a member has started and not yet ended
    for (;;) {
        throwIfCancelled(stop);
        if (z.avail_in == 0) {
            input = readBlock(fd, path);
            if (input.isEmpty())
                break;
            z.next_in = reinterpret_cast<Bytef*>(input.data());
            z.avail_in = uInt(input.size());
        }
        // Zeros after a whole member are padding to a block's size, as tape writers leave.
        if (!inMember && consumed > 0) {
            while (z.avail_in > 0 && *z.next_in == 0) {
                ++z.next_in;
                --z.avail_in;
                ++consumed;
            }
            if (z.avail_in == 0)
                continue;
        }
        const uInt before = z.avail_in;
        z.next_out = reinterpret_cast<Bytef*>(output.data());
        z.avail_out = uInt(output.size());
        const int status = inflate(&z, Z_NO_FLUSH);
        consumed += before - z.avail_in;
        inMember = true;
        if (status != Z_OK && status != Z_BUF_ERROR && status != Z_STREAM_END)
            throw ArchiveReadError(QString::fromUtf8(z.msg ? z.msg : "Damaged gzip data"));
        const std::size_t produced = std::size_t(output.size()) - z.avail_out;
        if (sink && produced > 0)
            sink(output.constData(), produced);
        if (status == Z_STREAM_END) {
            inMember = false;
            inflateReset(&z);
        }
        if (onFraction && total > 0)
            onFraction(double(consumed) / double(total));
    }
    if (inMember || consumed == 0)
        throw ArchiveReadError(QStringLiteral("Unexpected end of gzip data"));
}

void verifyGzipFile(const QString& path, std::stop_token stop, const FractionHandler& onFraction)
{
    inflateGzipFile(path, stop, {}, onFraction);
}

bool startsAsGzip(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(3) == QByteArrayView("\x1f\x8b\x08", 3);
}

} // namespace qv
