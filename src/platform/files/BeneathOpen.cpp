#include "platform/files/BeneathOpen.h"

#include <QByteArrayList>

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qv {

namespace {

bool isPlainComponent(const QByteArray& name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0');
}

} // namespace

int BeneathOpen::open(int folder, const QByteArray& relative, int flags)
{
    if (relative.startsWith('/')) {
        errno = EXDEV;
        return -1;
    }
    open_how how{};
    how.flags = quint64(flags | O_CLOEXEC | O_NOFOLLOW);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV;
    int fd;
    do {
        fd = int(::syscall(SYS_openat2, folder, relative.constData(), &how, sizeof how));
    } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
    if (fd >= 0 || errno != ENOSYS)
        return fd;
    return openByWalk(folder, relative, flags);
}

bool BeneathOpen::leadsBeneath(int folder, const QByteArray& relative)
{
    open_how how{};
    how.flags = quint64(O_PATH | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV;
    int fd;
    do {
        fd = int(::syscall(SYS_openat2, folder, relative.constData(), &how, sizeof how));
    } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno == ENOENT || errno == ENOTDIR;
}

int BeneathOpen::openByWalk(int folder, const QByteArray& relative, int flags)
{
    const QByteArrayList parts = relative.split('/');
    for (const QByteArray& part : parts) {
        if (!isPlainComponent(part)) {
            errno = part == ".." || relative.startsWith('/') ? EXDEV : EINVAL;
            return -1;
        }
    }
    int current = folder;
    const auto closeCurrent = [&current, folder] {
        if (current != folder)
            ::close(current);
    };
    struct stat top {};
    if (::fstat(folder, &top) != 0)
        return -1;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const int next = ::openat(current, parts[i].constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        closeCurrent();
        if (next < 0) {
            errno = error;
            return -1;
        }
        current = next;
        struct stat status {};
        // A mount on the way is another filesystem's business, as openat2 treats it.
        if (::fstat(current, &status) != 0 || status.st_dev != top.st_dev) {
            closeCurrent();
            errno = EXDEV;
            return -1;
        }
    }
    const int fd = ::openat(current, parts.last().constData(), flags | O_NOFOLLOW | O_CLOEXEC);
    const int error = errno;
    closeCurrent();
    errno = error;
    return fd;
}

} // namespace qv
