#include "platform/files/FileItems.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

namespace qv {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes now, for the error a deferred write-back reports there.
    int close()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

// The names in a folder, "." and ".." left out; false when it cannot be read.
bool folderNames(int folder, QByteArrayList& names)
{
    const int own = ::dup(folder);
    if (own < 0)
        return false;
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        ::close(own);
        return false;
    }
    ::rewinddir(dir);
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return error == 0;
}

// --- Copy ------------------------------------------------------------------------------

// The copies made so far of files with several names, so the other names become links again.
using CopiedLinks = std::map<std::pair<dev_t, ino_t>, QByteArray>;

timespec accessTime(const struct stat& status)
{
    return status.st_atim;
}

timespec modificationTime(const struct stat& status)
{
    return status.st_mtim;
}

// What the target does not take (a filesystem without extended attributes, security labels
// of another system) is left behind, as mv does.
void copyExtendedAttributes(int from, int to)
{
    const ssize_t listSize = ::flistxattr(from, nullptr, 0);
    if (listSize <= 0)
        return;
    QByteArray list(listSize, Qt::Uninitialized);
    const ssize_t listed = ::flistxattr(from, list.data(), size_t(list.size()));
    if (listed <= 0)
        return;
    list.truncate(listed);
    for (const QByteArray& name : list.split('\0')) {
        if (name.isEmpty())
            continue;
        const ssize_t size = ::fgetxattr(from, name.constData(), nullptr, 0);
        if (size < 0)
            continue;
        QByteArray value(size, Qt::Uninitialized);
        const ssize_t got = ::fgetxattr(from, name.constData(), value.data(), size_t(value.size()));
        if (got < 0)
            continue;
        ::fsetxattr(to, name.constData(), value.constData(), size_t(got), 0);
    }
}

// Owner, then mode (a change of owner clears set-id bits), then times, which nothing may touch
// afterwards.
void copyOwnerModeAndTimes(int to, const struct stat& status)
{
    mode_t mode = status.st_mode & 07777;
    if (::fchown(to, status.st_uid, status.st_gid) != 0)
        mode &= ~mode_t(S_ISUID | S_ISGID);
    ::fchmod(to, mode);
    const timespec times[2] = {accessTime(status), modificationTime(status)};
    ::futimens(to, times);
}

int copyFileData(int in, int out)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        ssize_t written = 0;
        while (written < got) {
            const ssize_t n = ::write(out, buffer + written, size_t(got - written));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            written += n;
        }
    }
}

int copyFile(const QByteArray& from, const QByteArray& to, const struct stat& status)
{
    FileDescriptor in(::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in.isValid())
        return errno;
    // Private until it is whole; the mode comes last.
    FileDescriptor out(::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!out.isValid())
        return errno;
    if (const int error = copyFileData(in.get(), out.get()))
        return error;
    copyExtendedAttributes(in.get(), out.get());
    copyOwnerModeAndTimes(out.get(), status);
    // A full disk may only show when the data is flushed.
    return out.close();
}

int copyLink(const QByteArray& from, const QByteArray& to, const struct stat& status)
{
    QByteArray target(status.st_size > 0 ? status.st_size + 1 : 256, Qt::Uninitialized);
    for (;;) {
        const ssize_t length = ::readlink(from.constData(), target.data(), size_t(target.size()));
        if (length < 0)
            return errno;
        if (length < target.size()) {
            target.truncate(length);
            break;
        }
        target.resize(target.size() * 2);
    }
    if (::symlink(target.constData(), to.constData()) != 0)
        return errno;
    ::fchownat(AT_FDCWD, to.constData(), status.st_uid, status.st_gid, AT_SYMLINK_NOFOLLOW);
    const timespec times[2] = {accessTime(status), modificationTime(status)};
    ::utimensat(AT_FDCWD, to.constData(), times, AT_SYMLINK_NOFOLLOW);
    return 0;
}

// Pipes and sockets; devices only where this process may make them.
int copySpecial(const QByteArray& to, const struct stat& status)
{
    if (::mknod(to.constData(), (status.st_mode & S_IFMT) | 0600, status.st_rdev) != 0)
        return errno;
    mode_t mode = status.st_mode & 07777;
    if (::lchown(to.constData(), status.st_uid, status.st_gid) != 0)
        mode &= ~mode_t(S_ISUID | S_ISGID);
    ::chmod(to.constData(), mode);
    const timespec times[2] = {accessTime(status), modificationTime(status)};
    ::utimensat(AT_FDCWD, to.constData(), times, AT_SYMLINK_NOFOLLOW);
    return 0;
}

int copyEntry(const QByteArray& from, const QByteArray& to, CopiedLinks& links);

int copyFolder(const QByteArray& from, const QByteArray& to, const struct stat& status,
               CopiedLinks& links)
{
    FileDescriptor source(::open(from.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!source.isValid())
        return errno;
    QByteArrayList names;
    if (!folderNames(source.get(), names))
        return errno ? errno : EIO;
    if (::mkdir(to.constData(), 0700) != 0)
        return errno;
    for (const QByteArray& name : names) {
        if (const int error = copyEntry(from + '/' + name, to + '/' + name, links))
            return error;
    }
    FileDescriptor copy(::open(to.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!copy.isValid())
        return errno;
    copyExtendedAttributes(source.get(), copy.get());
    // Last, as every entry made inside changed the folder's time.
    copyOwnerModeAndTimes(copy.get(), status);
    return 0;
}

int copyEntry(const QByteArray& from, const QByteArray& to, CopiedLinks& links)
{
    struct stat status {};
    if (::lstat(from.constData(), &status) != 0)
        return errno;
    if (S_ISDIR(status.st_mode))
        return copyFolder(from, to, status, links);

    const std::pair<dev_t, ino_t> key{status.st_dev, status.st_ino};
    if (status.st_nlink > 1) {
        const auto copied = links.find(key);
        if (copied != links.end() && ::link(copied->second.constData(), to.constData()) == 0)
            return 0;
    }
    int error = 0;
    if (S_ISLNK(status.st_mode))
        error = copyLink(from, to, status);
    else if (S_ISREG(status.st_mode))
        error = copyFile(from, to, status);
    else
        error = copySpecial(to, status);
    if (error == 0 && status.st_nlink > 1)
        links.emplace(key, to);
    return error;
}

// --- Remove ----------------------------------------------------------------------------

bool removeAt(int folder, const QByteArray& name)
{
    struct stat status {};
    if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISDIR(status.st_mode))
        return ::unlinkat(folder, name.constData(), 0) == 0;

    const bool own = status.st_uid == ::geteuid();
    FileDescriptor inside(::openat(folder, name.constData(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!inside.isValid() && errno == EACCES && own
        && ::fchmodat(folder, name.constData(), (status.st_mode & 07777) | 0700, 0) == 0)
        inside.reset(::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!inside.isValid())
        return false;
    // A folder of ours made read-only (a copy of a read-only folder) still goes.
    if (own && ::faccessat(inside.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        ::fchmod(inside.get(), (status.st_mode & 07777) | 0700);
    QByteArrayList names;
    bool removed = folderNames(inside.get(), names);
    for (const QByteArray& child : names)
        removed = removeAt(inside.get(), child) && removed;
    return ::unlinkat(folder, name.constData(), AT_REMOVEDIR) == 0 && removed;
}

int checkRemovableAt(int folder, const QByteArray& name, dev_t device)
{
    struct stat status {};
    if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (!S_ISDIR(status.st_mode))
        return 0;
    // A disk mounted inside cannot be removed with the folder.
    if (status.st_dev != device)
        return EBUSY;
    FileDescriptor inside(::openat(folder, name.constData(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!inside.isValid())
        return errno;
    QByteArrayList names;
    if (!folderNames(inside.get(), names))
        return errno ? errno : EIO;
    if (!names.isEmpty() && ::faccessat(inside.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return errno;
    for (const QByteArray& child : names) {
        if (const int error = checkRemovableAt(inside.get(), child, device))
            return error;
    }
    return 0;
}

} // namespace

int FileItems::copy(const QString& from, const QString& to)
{
    return copyNative(QFile::encodeName(from), QFile::encodeName(to));
}

int FileItems::copyNative(const QByteArray& from, const QByteArray& to)
{
    CopiedLinks links;
    return copyEntry(from, to, links);
}

bool FileItems::remove(const QString& path)
{
    return removeAt(AT_FDCWD, QFile::encodeName(path));
}

int FileItems::checkRemovable(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(encoded.constData(), &status) != 0)
        return errno;
    return checkRemovableAt(AT_FDCWD, encoded, status.st_dev);
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
