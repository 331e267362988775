#include "platform/files/PlainTree.h"

#include "platform/files/BeneathOpen.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

mode_t processUmask()
{
    // Read, not set: umask() changes the mask for every thread while it asks.
    static const mode_t mask = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("Umask:")) {
                    bool ok = false;
                    const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                    if (ok)
                        return mode_t(value & 0777);
                }
            }
        }
        return mode_t(022);
    }();
    return mask;
}

struct Walk {
    int root = -1;
    uid_t owner = ::geteuid();
    int entries = 0;
    std::optional<QString> problem;
};

bool plainItem(int fd, const struct stat& status, const QByteArray& path, int depth, Walk& walk);

bool plainFolder(int fd, const QByteArray& path, int depth, Walk& walk)
{
    if (depth > PlainTree::maximumDepth) {
        walk.problem = QStringLiteral("It holds folders more than %1 deep").arg(PlainTree::maximumDepth);
        return false;
    }
    const int listed = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!folder) {
        if (listed >= 0)
            ::close(listed);
        walk.problem = QStringLiteral("Its folder could not be read");
        return false;
    }
    bool plain = true;
    while (plain) {
        errno = 0;
        const dirent* entry = ::readdir(folder);
        if (!entry) {
            if (errno != 0) {
                walk.problem = QStringLiteral("Its folder could not be read");
                plain = false;
            }
            break;
        }
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        if (++walk.entries > PlainTree::maximumEntries) {
            walk.problem = QStringLiteral("It holds more than %1 files and folders").arg(PlainTree::maximumEntries);
            plain = false;
            break;
        }
        const QByteArray inside = path.isEmpty() ? name : path + '/' + name;
        // Looked at before it is opened: opening a pipe or a device is already acting on it.
        // The folder's own word on a folder will do (what is opened is looked at again below,
        // and a worker makes no devices); anything else is asked of the inode.
        struct stat seen {};
        if (entry->d_type == DT_DIR) {
            seen.st_mode = S_IFDIR;
        } else if (::fstatat(fd, name.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
            walk.problem = QStringLiteral("Its folder changed while it was looked at");
            plain = false;
            break;
        }
        // A link among what an archive held stays when it leads to something of the folder
        // itself; it is never followed here.
        if (S_ISLNK(seen.st_mode)) {
            if (!BeneathOpen::leadsBeneath(walk.root, inside)) {
                walk.problem = QStringLiteral("It holds a link that leads out of it: ") + QString::fromUtf8(inside);
                plain = false;
                break;
            }
            continue;
        }
        if (!(S_ISREG(seen.st_mode) || S_ISDIR(seen.st_mode))) {
            walk.problem = QStringLiteral("It holds something that is neither a file nor a folder: ") + QString::fromUtf8(inside);
            plain = false;
            break;
        }
        // A file that is already what it must be is left alone: nothing is done to it, so it
        // need not be opened (most of an extraction's files).
        if (S_ISREG(seen.st_mode) && seen.st_uid == walk.owner && seen.st_nlink == 1
            && (seen.st_mode & 07777) == PlainTree::fileMode())
            continue;
        const int inner = ::openat(fd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat status {};
        if (inner < 0 || ::fstat(inner, &status) != 0 || (status.st_mode & S_IFMT) != (seen.st_mode & S_IFMT)
            || (seen.st_ino != 0 && (status.st_ino != seen.st_ino || status.st_dev != seen.st_dev))) {
            walk.problem = QStringLiteral("It holds an entry that cannot be opened: ") + QString::fromUtf8(inside);
            plain = false;
        } else {
            plain = plainItem(inner, status, inside, depth + 1, walk);
        }
        if (inner >= 0)
            ::close(inner);
    }
    ::closedir(folder);
    return plain;
}

bool plainItem(int fd, const struct stat& status, const QByteArray& path, int depth, Walk& walk)
{
    if (status.st_uid != walk.owner) {
        walk.problem = QStringLiteral("It holds an item of another user");
        return false;
    }
    if (S_ISREG(status.st_mode)) {
        if (status.st_nlink != 1) {
            walk.problem = QStringLiteral("It holds a file with another name elsewhere");
            return false;
        }
        if (::fchmod(fd, PlainTree::fileMode()) != 0) {
            walk.problem = QStringLiteral("Its mode could not be set");
            return false;
        }
        return true;
    }
    if (S_ISDIR(status.st_mode)) {
        // Readable while it is walked, whatever the worker left; its own mode comes last.
        if (::fchmod(fd, 0700) != 0 || !plainFolder(fd, path, depth, walk))
            return false;
        if (::fchmod(fd, PlainTree::folderMode()) != 0) {
            walk.problem = QStringLiteral("Its mode could not be set");
            return false;
        }
        return true;
    }
    walk.problem = QStringLiteral("It holds something that is neither a file nor a folder");
    return false;
}

} // namespace

std::optional<QString> PlainTree::makePlain(int fd)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return QStringLiteral("It could not be looked at");
    Walk walk;
    walk.root = fd;
    if (!plainItem(fd, status, QByteArray(), 0, walk))
        return walk.problem.value_or(QStringLiteral("It is not a plain file or folder"));
    return std::nullopt;
}

mode_t PlainTree::fileMode()
{
    return 0666 & ~processUmask();
}

mode_t PlainTree::folderMode()
{
    return 0777 & ~processUmask();
}

} // namespace qv
