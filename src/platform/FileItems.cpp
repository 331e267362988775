#include "platform/FileItems.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

int copyFileData(const QByteArray& from, const QByteArray& to, mode_t mode)
{
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return errno;
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        if (got == 0)
            break;
        ssize_t written = 0;
        while (written < got) {
            const ssize_t n = ::write(out, buffer + written, size_t(got - written));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                error = errno;
                break;
            }
            written += n;
        }
        if (error)
            break;
    }
    ::close(in);
    // A full disk may only show when the data is flushed.
    if (::close(out) != 0 && error == 0)
        error = errno;
    return error;
}

int copyEntry(const QByteArray& from, const QByteArray& to)
{
    struct stat status {};
    if (::lstat(from.constData(), &status) != 0)
        return errno;

    if (S_ISLNK(status.st_mode)) {
        QByteArray target(status.st_size > 0 ? status.st_size + 1 : 4096, '\0');
        const ssize_t length = ::readlink(from.constData(), target.data(), size_t(target.size()));
        if (length < 0)
            return errno;
        target.truncate(length);
        return ::symlink(target.constData(), to.constData()) == 0 ? 0 : errno;
    }
    if (S_ISREG(status.st_mode))
        return copyFileData(from, to, status.st_mode);
    if (!S_ISDIR(status.st_mode))
        return ENOTSUP; // devices, sockets and pipes are no results

    if (::mkdir(to.constData(), 0700) != 0)
        return errno;
    DIR* dir = ::opendir(from.constData());
    if (!dir)
        return errno;
    int error = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        error = copyEntry(from + '/' + name, to + '/' + name);
        if (error)
            break;
    }
    ::closedir(dir);
    if (error == 0)
        ::chmod(to.constData(), status.st_mode & 07777);
    return error;
}

} // namespace

int FileItems::copy(const QString& from, const QString& to)
{
    return copyEntry(QFile::encodeName(from), QFile::encodeName(to));
}

bool FileItems::remove(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

int FileItems::makePath(const QString& path, unsigned mode)
{
    const QString clean = QDir::cleanPath(path);
    struct stat status {};
    const QByteArray encoded = QFile::encodeName(clean);
    if (::stat(encoded.constData(), &status) == 0)
        return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash > 0) {
        if (const int error = makePath(clean.left(slash), mode))
            return error;
    }
    if (::mkdir(encoded.constData(), mode) == 0)
        return 0;
    const int error = errno;
    if (error == EEXIST && ::stat(encoded.constData(), &status) == 0)
        return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
    return error;
}

} // namespace qv
