#include "platform/files/PlainTree.h"

#include "platform/files/BeneathOpen.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

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

struct Identity {
    dev_t device;
    ino_t inode;
    bool operator==(const Identity&) const = default;
};

struct IdentityHash {
    std::size_t operator()(const Identity& id) const noexcept
    {
        return std::hash<quint64>()(quint64(id.inode) * 1000003u ^ quint64(id.device));
    }
};

// A file with more than one name: every name must turn up in the walk.
struct Linked {
    nlink_t names = 0;
    nlink_t seen = 0;
    QByteArray path; // the first, to set its mode once all are known to be inside
};

// Sets the mode where the disk keeps one. A disk that keeps none (FAT through FUSE) refuses
// its owner with EPERM, where no other process could have set one either: what it shows then
// passes unless it carries a set-ID bit.
bool setMode(int fd, mode_t mode)
{
    if (::fchmod(fd, mode) == 0)
        return true;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return false;
    struct stat status {};
    return ::fstat(fd, &status) == 0 && (status.st_mode & (S_ISUID | S_ISGID)) == 0;
}

// In a folder, what the other process gave each file and folder stays, as an extraction keeps an
// archive's modes, less the set-ID and sticky bits, writing by others and the umask; its owner
// may always read and write it, and walk a folder.
mode_t treeMode(mode_t given, bool folder)
{
    return ((given & 0777) | (folder ? S_IRWXU : (S_IRUSR | S_IWUSR))) & ~S_IWOTH & ~processUmask();
}

QString shown(const QByteArray& path)
{
    return QString::fromUtf8(path.left(300));
}

class Walk {
public:
    Walk(int root, uid_t owner, std::optional<qint64> mostEntries) : m_root(root), m_owner(owner), m_mostEntries(mostEntries) {}

    std::optional<QString> tree(const struct stat& rootStatus)
    {
        int current = ::openat(m_root, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (current < 0)
            return QStringLiteral("Its folder could not be read");
        std::vector<Frame> stack;
        bool plain = enter(current, rootStatus, QByteArray(), stack);
        while (plain && !stack.empty()) {
            Frame& top = stack.back();
            if (top.next < top.folders.size()) {
                const QByteArray name = std::move(top.folders[top.next++]);
                const QByteArray inside = top.path.isEmpty() ? name : top.path + '/' + name;
                // A path no call could name is not an honest extraction's: it made its tree by paths.
                if (inside.size() >= PATH_MAX) {
                    m_problem = QStringLiteral("It holds a path longer than the system allows: ") + shown(inside);
                    plain = false;
                    break;
                }
                const int child = ::openat(current, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                struct stat status {};
                if (child < 0 || ::fstat(child, &status) != 0 || !S_ISDIR(status.st_mode)) {
                    if (child >= 0)
                        ::close(child);
                    m_problem = QStringLiteral("It holds an entry that cannot be opened: ") + shown(inside);
                    plain = false;
                    break;
                }
                ::close(current);
                current = child;
                plain = enter(current, status, inside, stack);
                continue;
            }
            if (!setMode(current, top.mode)) {
                m_problem = QStringLiteral("Its mode could not be set: ") + shown(top.path);
                plain = false;
                break;
            }
            stack.pop_back();
            if (stack.empty())
                break;
            // Back up through "..", which must be the very folder left: one descriptor at a time,
            // however deep the tree.
            const int parent = ::openat(current, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            struct stat status {};
            if (parent < 0 || ::fstat(parent, &status) != 0 || Identity{status.st_dev, status.st_ino} != stack.back().id) {
                if (parent >= 0)
                    ::close(parent);
                m_problem = QStringLiteral("Its folder changed while it was looked at");
                plain = false;
                break;
            }
            ::close(current);
            current = parent;
        }
        ::close(current);
        if (plain)
            plain = linkedInside();
        if (!plain)
            return m_problem.value_or(QStringLiteral("It is not a plain file or folder"));
        return std::nullopt;
    }

    // The mode a lone file takes.
    std::optional<QString> file(int fd, const struct stat& status)
    {
        if (status.st_uid != m_owner)
            return QStringLiteral("It is an item of another user");
        if (status.st_nlink != 1)
            return QStringLiteral("It is a file with another name elsewhere");
        if (!setMode(fd, PlainTree::fileMode()))
            return QStringLiteral("Its mode could not be set");
        return std::nullopt;
    }

private:
    struct Frame {
        Identity id;
        mode_t mode; // its own, set once it has been walked
        QByteArray path;
        std::vector<QByteArray> folders; // to visit, in the order listed
        std::size_t next = 0;
    };

    bool enter(int fd, const struct stat& status, const QByteArray& path, std::vector<Frame>& stack)
    {
        if (status.st_uid != m_owner) {
            m_problem = QStringLiteral("It holds an item of another user: ") + shown(path);
            return false;
        }
        // Readable while it is walked, whatever the other process left; its own mode comes last.
        if (!setMode(fd, 0700)) {
            m_problem = QStringLiteral("Its mode could not be set: ") + shown(path);
            return false;
        }
        Frame frame{{status.st_dev, status.st_ino}, treeMode(status.st_mode, true), path, {}, 0};
        if (!list(fd, path, frame.folders))
            return false;
        stack.push_back(std::move(frame));
        return true;
    }

    // Looks at every entry of the folder but its folders, which are collected to be visited.
    bool list(int fd, const QByteArray& path, std::vector<QByteArray>& folders)
    {
        const int listed = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* folder = listed >= 0 ? ::fdopendir(listed) : nullptr;
        if (!folder) {
            if (listed >= 0)
                ::close(listed);
            m_problem = QStringLiteral("Its folder could not be read: ") + shown(path);
            return false;
        }
        bool plain = true;
        while (plain) {
            errno = 0;
            const dirent* entry = ::readdir(folder);
            if (!entry) {
                if (errno != 0) {
                    m_problem = QStringLiteral("Its folder could not be read: ") + shown(path);
                    plain = false;
                }
                break;
            }
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            if (m_mostEntries && ++m_entries > *m_mostEntries) {
                m_problem = QStringLiteral("It holds more than the %1 entries it listed").arg(*m_mostEntries);
                plain = false;
                break;
            }
            if (entry->d_type == DT_DIR) {
                folders.push_back(name);
                continue;
            }
            plain = look(fd, name, path.isEmpty() ? name : path + '/' + name, folders);
        }
        ::closedir(folder);
        return plain;
    }

    bool look(int fd, const QByteArray& name, const QByteArray& inside, std::vector<QByteArray>& folders)
    {
        // Looked at before it is opened: opening a pipe or a device is already acting on it.
        struct stat seen {};
        if (::fstatat(fd, name.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
            m_problem = QStringLiteral("Its folder changed while it was looked at");
            return false;
        }
        if (S_ISDIR(seen.st_mode)) {
            folders.push_back(name);
            return true;
        }
        // A link among what an archive held stays when it leads to something of the folder
        // itself; it is never followed here.
        if (S_ISLNK(seen.st_mode)) {
            if (!BeneathOpen::leadsBeneath(m_root, inside)) {
                m_problem = QStringLiteral("It holds a link that leads out of it: ") + shown(inside);
                return false;
            }
            return true;
        }
        if (!S_ISREG(seen.st_mode)) {
            m_problem = QStringLiteral("It holds something that is neither a file nor a folder: ") + shown(inside);
            return false;
        }
        if (seen.st_uid != m_owner) {
            m_problem = QStringLiteral("It holds an item of another user: ") + shown(inside);
            return false;
        }
        if (seen.st_nlink > 1) {
            // Its mode is set once every name is known to be here.
            Linked& linked = m_linked[Identity{seen.st_dev, seen.st_ino}];
            if (linked.seen++ == 0) {
                linked.names = seen.st_nlink;
                linked.path = inside;
            }
            return true;
        }
        // A file that is already what it must be is left alone (most of an extraction's files).
        if ((seen.st_mode & 07777) == treeMode(seen.st_mode, false))
            return true;
        const int inner = ::openat(fd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat status {};
        const bool same = inner >= 0 && ::fstat(inner, &status) == 0 && S_ISREG(status.st_mode)
            && status.st_ino == seen.st_ino && status.st_dev == seen.st_dev && status.st_nlink == 1;
        const bool set = same && setMode(inner, treeMode(seen.st_mode, false));
        if (inner >= 0)
            ::close(inner);
        if (!same) {
            m_problem = QStringLiteral("It holds an entry that cannot be opened: ") + shown(inside);
            return false;
        }
        if (!set) {
            m_problem = QStringLiteral("Its mode could not be set: ") + shown(inside);
            return false;
        }
        return true;
    }

    // Every file with several names has all of them in the tree: what it points at is a file of
    // the tree, not one of the user's reached through a second name.
    bool linkedInside()
    {
        for (const auto& [id, linked] : m_linked) {
            if (linked.seen != linked.names) {
                m_problem = QStringLiteral("It holds a file with another name elsewhere: ") + shown(linked.path);
                return false;
            }
        }
        for (const auto& [id, linked] : m_linked) {
            const int fd = BeneathOpen::open(m_root, linked.path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
            struct stat status {};
            const bool same = fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)
                && Identity{status.st_dev, status.st_ino} == id && status.st_nlink == linked.names;
            const mode_t mode = treeMode(status.st_mode, false);
            const bool set = same && ((status.st_mode & 07777) == mode || setMode(fd, mode));
            if (fd >= 0)
                ::close(fd);
            if (!same) {
                m_problem = QStringLiteral("Its folder changed while it was looked at");
                return false;
            }
            if (!set) {
                m_problem = QStringLiteral("Its mode could not be set: ") + shown(linked.path);
                return false;
            }
        }
        return true;
    }

    int m_root;
    uid_t m_owner;
    std::optional<qint64> m_mostEntries;
    qint64 m_entries = 0;
    std::unordered_map<Identity, Linked, IdentityHash> m_linked;
    std::optional<QString> m_problem;
};

} // namespace

std::optional<QString> PlainTree::makePlain(int fd, std::optional<uid_t> owner, std::optional<qint64> mostEntries)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return QStringLiteral("It could not be looked at");
    Walk walk(fd, owner.value_or(::geteuid()), mostEntries);
    if (S_ISREG(status.st_mode))
        return walk.file(fd, status);
    if (S_ISDIR(status.st_mode))
        return walk.tree(status);
    return QStringLiteral("It holds something that is neither a file nor a folder");
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
