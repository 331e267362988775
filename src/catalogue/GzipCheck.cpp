#include "catalogue/GzipCheck.h"

#include "catalogue/ArchiveReader.h"
#include "model/CancellationError.h"
#include "model/SystemError.h"

#include <QFile>

#include <zlib.h>

#include <cerrno>

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

} // namespace

void verifyGzipFile(const QString& path, std::stop_token stop, const FractionHandler& onFraction)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SystemError::fromErrno(EACCES, path);
    const qint64 total = file.size();
    Inflater inflater;
    z_stream& z = inflater.stream;
    QByteArray input;
    QByteArray output(blockSize, Qt::Uninitialized);
    qint64 consumed = 0;
    bool inMember = false; // a member has started and not yet ended
    for (;;) {
        throwIfCancelled(stop);
        if (z.avail_in == 0) {
            input = file.read(blockSize);
            if (input.isEmpty()) {
                if (file.error() != QFileDevice::NoError)
                    throw SystemError::fromErrno(EIO, path);
                break;
            }
            z.next_in = reinterpret_cast<Bytef*>(input.data());
            z.avail_in = uInt(input.size());
        }
        const uInt before = z.avail_in;
        z.next_out = reinterpret_cast<Bytef*>(output.data());
        z.avail_out = uInt(output.size());
        const int status = inflate(&z, Z_NO_FLUSH);
        consumed += before - z.avail_in;
        inMember = true;
        if (status == Z_STREAM_END) {
            inMember = false;
            inflateReset(&z);
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            throw ArchiveReadError(QString::fromUtf8(z.msg ? z.msg : "Damaged gzip data"));
        }
        if (onFraction && total > 0)
            onFraction(double(consumed) / double(total));
    }
    if (inMember || consumed == 0)
        throw ArchiveReadError(QStringLiteral("Unexpected end of gzip data"));
}

} // namespace qv
