#include "support/SmallDisk.h"

#include <QFile>

#include <sys/mount.h>
#include <sys/statvfs.h>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace qv::test {

namespace {

QByteArray sizeOption(qint64 bytes)
{
    return "size=" + QByteArray::number(bytes);
}

} // namespace

SmallDisk::SmallDisk(qint64 bytes)
    : m_size(bytes)
{
    if (!m_dir.isValid())
        return;
    m_mounted = ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0,
                        (sizeOption(bytes) + ",mode=0755").constData())
        == 0;
}

SmallDisk::~SmallDisk()
{
    // Detached, so a file a failed test left open cannot keep the mount alive.
    if (m_mounted)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
}

qint64 SmallDisk::freeBytes() const
{
    struct statvfs status {};
    if (::statvfs(QFile::encodeName(m_dir.path()).constData(), &status) != 0)
        return -1;
    return qint64(status.f_bavail) * qint64(status.f_frsize);
}

bool SmallDisk::fillLeaving(qint64 bytes)
{
    const QByteArray name = QFile::encodeName(m_dir.filePath(QStringLiteral("filler")));
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const QByteArray page(4096, 'f');
    qint64 free = freeBytes();
    while (free > bytes) {
        const qint64 chunk = std::min<qint64>(page.size(), free - bytes);
        if (::write(fd, page.constData(), size_t(chunk)) <= 0)
            break;
        free = freeBytes();
    }
    ::close(fd);
    return free >= 0 && free <= bytes;
}

bool SmallDisk::resize(qint64 bytes)
{
    m_size = bytes;
    return remount(sizeOption(bytes), false);
}

bool SmallDisk::setReadOnly(bool readOnly)
{
    return remount(sizeOption(m_size), readOnly);
}

bool SmallDisk::remount(const QByteArray& options, bool readOnly)
{
    if (!m_mounted)
        return false;
    unsigned long flags = MS_REMOUNT;
    if (readOnly)
        flags |= MS_RDONLY;
    return ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", flags,
                   options.constData())
        == 0;
}

} // namespace qv::test
