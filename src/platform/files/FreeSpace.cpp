#include "platform/files/FreeSpace.h"

#include "model/errors/SystemError.h"

#include <QFile>

#include <cerrno>
#include <sys/statvfs.h>

namespace qv {

FreeSpace FreeSpace::of(const QString& path)
{
    struct statvfs info {};
    int result = 0;
    do {
        result = ::statvfs(QFile::encodeName(path).constData(), &info);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        throw SystemError::fromErrno(errno, path);
    const qint64 unit = qint64(info.f_frsize ? info.f_frsize : info.f_bsize);
    return {qint64(info.f_bavail) * unit, qint64(info.f_blocks) * unit,
            qint64(info.f_bsize ? info.f_bsize : unit)};
}

} // namespace qv
