#include "platform/files/ExclusiveRename.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <map>
#include <mutex>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

bool sameItem(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the path holds the item described by `what`, not merely something with its name.
bool holds(const QByteArray& path, const struct stat& what)
{
    struct stat current {};
    return ::lstat(path.constData(), &current) == 0 && sameItem(current, what);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Whether a folder renamed on the disk that holds the given folder keeps what it holds. FAT
// through FUSE (fusefat) renames a folder and loses its entries; such a disk gives no
// RENAME_NOREPLACE either, so only those are asked, once per disk.
bool folderMovesWhole(const QByteArray& beside)
{
    struct stat disk {};
    if (::stat(beside.constData(), &disk) != 0)
        return true;
    static std::mutex lock;
    static std::map<dev_t, bool> known;
    {
        std::lock_guard locker(lock);
        if (const auto found = known.find(disk.st_dev); found != known.end())
            return found->second;
    }
    const QByteArray probe = beside + "/.quorvenda-probe-" + QByteArray::number(::getpid()) + '-'
        + QByteArray::number(quintptr(&disk), 16);
    const QByteArray moved = probe + "-moved";
    bool whole = true;
    if (::mkdir(probe.constData(), 0700) == 0) {
        const int file = ::open((probe + "/x").constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (file >= 0) {
            ::close(file);
            if (::rename(probe.constData(), moved.constData()) == 0) {
                // Listed, not looked up: the kernel's cache of names still finds the lost entry.
                whole = false;
                if (DIR* listing = ::opendir(moved.constData())) {
                    while (const dirent* entry = ::readdir(listing))
                        whole = whole || qstrcmp(entry->d_name, "x") == 0;
                    ::closedir(listing);
                }
                ::unlink((moved + "/x").constData());
                ::rmdir(moved.constData());
            }
        }
        ::unlink((probe + "/x").constData());
        ::rmdir(probe.constData());
    }
    std::lock_guard locker(lock);
    known[disk.st_dev] = whole;
    return whole;
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash > 0 ? path.left(slash) : QByteArray(slash == 0 ? "/" : ".");
}

// Moves a folder entry by entry into a new folder at target: its files are renamed, its folders
// made anew. A new folder takes nothing's place, so neither does anything moved into it.
int moveByEntries(const QByteArray& source, const QByteArray& target)
{
    struct stat folder {};
    if (::lstat(source.constData(), &folder) != 0)
        return errno;
    if (::mkdir(target.constData(), 0700) != 0)
        return errno;
    DIR* listing = ::opendir(source.constData());
    if (!listing)
        return errno;
    std::vector<QByteArray> names;
    errno = 0;
    while (const dirent* entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    const int listed = errno;
    ::closedir(listing);
    if (listed != 0)
        return listed;
    for (const QByteArray& name : names) {
        const QByteArray from = source + '/' + name;
        const QByteArray to = target + '/' + name;
        struct stat entry {};
        if (::lstat(from.constData(), &entry) != 0)
            return errno;
        const int error = S_ISDIR(entry.st_mode) ? moveByEntries(from, to)
                                                  : (::rename(from.constData(), to.constData()) == 0 ? 0 : errno);
        if (error != 0)
            return error;
    }
    ::chmod(target.constData(), folder.st_mode & 07777);
    const struct timespec times[2] = {folder.st_atim, folder.st_mtim};
    ::utimensat(AT_FDCWD, target.constData(), times, 0);
    ::rmdir(source.constData());
    return 0;
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
        return folderMovesWhole(parentOf(source)) ? moveOntoReservation(from, to) : moveByEntries(source, target);

    // link() fails with EEXIST instead of replacing, which is the whole point.
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return 0;
    }
    const int error = errno;
    // Filesystems without hard links (FAT, some network mounts).
    if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS)
        return moveOntoReservation(from, to);
    return error;
}

// rename() replaces whatever it finds, so this cannot be airtight. Where others may write to
// the folder, one window remains: between the check that the reservation is still ours and
// the rename, another program may remove it and put its own file there, which the rename then
// replaces (a folder can only replace an empty folder). The check keeps that window to the
// two system calls; nothing shorter exists without the kernel's help. The item and the
// reservation stay open until the end so that their inode numbers cannot be given to someone
// else's new item.
int ExclusiveRename::moveOntoReservation(const QString& from, const QString& to,
                                         const std::function<void(Step)>& onStep)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    const Descriptor moving(::open(source.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat item {};
    if (moving.get() < 0 || ::fstat(moving.get(), &item) != 0)
        return errno;
    const bool isFolder = S_ISDIR(item.st_mode);

    if (isFolder && ::mkdir(target.constData(), 0700) != 0)
        return errno;
    const Descriptor reserved(
        isFolder ? ::open(target.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                 : ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0600));
    if (reserved.get() < 0) {
        const int error = errno;
        if (isFolder)
            ::rmdir(target.constData()); // fails unless it is still an empty folder
        return error;
    }
    struct stat reservation {};
    if (::fstat(reserved.get(), &reservation) != 0)
        return errno; // unreachable in practice; the reservation is left rather than guessed at

    if (onStep)
        onStep(Step::reserved);
    // Someone replaced the reservation: the name is theirs now.
    if (!holds(target, reservation))
        return EEXIST;
    if (::rename(source.constData(), target.constData()) != 0) {
        const int error = errno;
        const bool ours = holds(target, reservation);
        if (ours) {
            if (isFolder)
                ::rmdir(target.constData());
            else
                ::unlink(target.constData());
        }
        // FAT through FUSE moves a folder only to a free name: once the reservation is gone,
        // a rename can still replace nothing but an empty folder, the window above.
        if (!(isFolder && ours && error == EPERM))
            return error;
        if (::rename(source.constData(), target.constData()) != 0)
            return errno;
    }

    if (onStep)
        onStep(Step::moved);
    // What the target holds now is not what we moved: never report someone else's item as ours.
    if (!holds(target, item))
        return ENOENT;
    return 0;
}

} // namespace qv
