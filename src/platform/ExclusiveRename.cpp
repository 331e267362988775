#include "platform/ExclusiveRename.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

// Claims the target with an item of our own, then replaces exactly that item. Replacing is
// only safe because nobody else could have put anything at the path we created.
int moveOntoReservation(const QByteArray& from, const QByteArray& to, bool isFolder)
{
    if (isFolder) {
        if (::mkdir(to.constData(), 0700) != 0)
            return errno;
    } else {
        const int fd = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return errno;
        ::close(fd);
    }
    if (::rename(from.constData(), to.constData()) == 0)
        return 0;
    const int error = errno;
    if (isFolder)
        ::rmdir(to.constData());
    else
        ::unlink(to.constData());
    return error;
}

} // namespace

int ExclusiveRename::move(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(),
                    RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error == EINVAL || error == ENOSYS)
        return moveWithoutNoReplace(from, to);
    return error;
}

int ExclusiveRename::moveWithoutNoReplace(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    struct stat status {};
    if (::lstat(source.constData(), &status) != 0)
        return errno;
    if (S_ISDIR(status.st_mode))
        return moveOntoReservation(source, target, true);

    // link() fails with EEXIST instead of replacing, which is the whole point.
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return 0;
    }
    const int error = errno;
    // Filesystems without hard links (FAT, some network mounts).
    if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS)
        return moveOntoReservation(source, target, false);
    return error;
}

} // namespace qv
