#include "platform/sandbox/WorkerSandbox.h"

#include <QCoreApplication>
#include <QHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QScopeGuard>

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <csignal>
#include <dirent.h>
#include <linux/capability.h>
#include <linux/landlock.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qv {

namespace {

bool s_keepsOutOfTmp = false;
// What kept the last view from being built, for the item's details.
QString s_viewFailure;

bool failed(const QString& what, const QString& path)
{
    s_viewFailure = what + QStringLiteral(" ") + path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

// Newer than the system's headers: the ruleset's network rights (ABI 4) and scopes (ABI 6).
struct RulesetAttributes {
    __u64 handledAccessFs = 0;
    __u64 handledAccessNet = 0;
    __u64 scoped = 0;
};
constexpr __u64 netBindTcp = 1ULL << 0;
constexpr __u64 netConnectTcp = 1ULL << 1;
constexpr __u64 scopeAbstractUnixSocket = 1ULL << 0;
constexpr __u64 scopeSignal = 1ULL << 1;

int landlockCreateRuleset(const void* attr, std::size_t size, __u32 flags)
{
    return int(::syscall(SYS_landlock_create_ruleset, attr, size, flags));
}

int landlockAddRule(int ruleset, landlock_rule_type type, const void* attr)
{
    return int(::syscall(SYS_landlock_add_rule, ruleset, type, attr, 0));
}

int landlockRestrictSelf(int ruleset)
{
    return int(::syscall(SYS_landlock_restrict_self, ruleset, 0));
}

// What every worker reads, in its view (read-only) or through Landlock: the system's folders
// (fonts and their caches in /var/cache and /var/lib among them), the folders merged /usr left
// as links, and the devices a decoder opens. LibreOffice's shared extensions lie in /var/spool,
// linked from /usr: hidden, it takes its cache for missing; refused, it cannot start.
const char* const systemFolders[] = {"/usr", "/etc", "/opt", "/var/lib", "/var/cache", "/var/spool/libreoffice", "/sys"};
const char* const mergedFolders[] = {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"};
const char* const deviceNodes[] = {"/dev/null", "/dev/zero", "/dev/full", "/dev/random", "/dev/urandom"};

bool setLimit(int resource, rlim_t soft, rlim_t hard)
{
    const rlimit limit{soft, hard};
    return ::setrlimit(resource, &limit) == 0;
}

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

bool makeMountPoint(const QString& target, bool folder)
{
    if (folder)
        return QDir().mkpath(target);
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return false;
    const int fd = ::open(encoded(target).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0 || errno == EEXIST || QFileInfo::exists(target);
}

// The flags a bind mount cannot lose in a user namespace.
unsigned long lockedFlags(const QString& path)
{
    struct statvfs status {};
    if (::statvfs(encoded(path).constData(), &status) != 0)
        return 0;
    unsigned long flags = 0;
    if (status.f_flag & ST_NOSUID)
        flags |= MS_NOSUID;
    if (status.f_flag & ST_NODEV)
        flags |= MS_NODEV;
    if (status.f_flag & ST_NOEXEC)
        flags |= MS_NOEXEC;
    if (status.f_flag & ST_NOATIME)
        flags |= MS_NOATIME;
    if (status.f_flag & ST_NODIRATIME)
        flags |= MS_NODIRATIME;
    if (status.f_flag & ST_RELATIME)
        flags |= MS_RELATIME;
    return flags;
}

// Read-only at every mount below the target too: a bind's remount reaches only its top.
bool readOnlyBelow(const QString& target)
{
#ifdef SYS_mount_setattr
    struct {
        __u64 set;
        __u64 clear;
        __u64 propagation;
        __u64 userns;
    } attributes{0x00000001 /* MOUNT_ATTR_RDONLY */, 0, 0, 0};
    if (::syscall(SYS_mount_setattr, AT_FDCWD, encoded(target).constData(), 0x8000 /* AT_RECURSIVE */, &attributes,
                  sizeof attributes)
        == 0)
        return true;
    if (errno != ENOSYS)
        return false;
#endif
    // An older kernel: each mount below, one by one, as this namespace lists them.
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray prefix = encoded(target) + '/';
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        // Spaces and the like are written as octal escapes.
        QByteArray point = fields[4];
        for (qsizetype at = point.indexOf('\\'); at >= 0 && at + 3 < point.size(); at = point.indexOf('\\', at + 1))
            point.replace(at, 4, QByteArray(1, char(point.mid(at + 1, 3).toInt(nullptr, 8))));
        if (!point.startsWith(prefix))
            continue;
        const QString mounted = QFile::decodeName(point);
        if (::mount(nullptr, point.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY | lockedFlags(mounted), nullptr) != 0)
            return false;
    }
    return true;
}

bool bind(const QString& source, const QString& target, bool readOnly, bool recursive)
{
    struct stat status {};
    if (::stat(encoded(source).constData(), &status) != 0)
        return true; // nothing there to show
    if (!makeMountPoint(target, S_ISDIR(status.st_mode)))
        return failed(QStringLiteral("making"), target);
    if (::mount(encoded(source).constData(), encoded(target).constData(), nullptr,
                MS_BIND | (recursive ? MS_REC : 0), nullptr) != 0)
        return failed(QStringLiteral("showing"), source);
    if (!readOnly)
        return true;
    if (::mount(nullptr, encoded(target).constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY | lockedFlags(target),
                nullptr)
        != 0)
        return failed(QStringLiteral("making read-only"), source);
    return !recursive || readOnlyBelow(target) || failed(QStringLiteral("making read-only below"), source);
}

bool mountTmpfs(const QString& target, const char* options)
{
    return QDir().mkpath(target)
        && ::mount("tmpfs", encoded(target).constData(), "tmpfs", MS_NOSUID | MS_NODEV, options) == 0;
}

QByteArray descriptorPath(int fd)
{
    return "/proc/self/fd/" + QByteArray::number(fd);
}

bool isFolder(int fd)
{
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
}

// The file a descriptor holds, shown read-only at target over whatever the folder shown there
// has under that name (another file, a link), never through it: the mount is made on the very
// entry found, not where a link there leads. The descriptor was opened in the application's
// namespace, whose mounts cannot be bound here, so the file is found again by its path and shown
// only when it is still the one held; else nothing is bound, and the look before the item
// (replacedInput) finds the path leading elsewhere. Nothing there (the file moved away) shows
// nothing, unless the view makes the name itself (makeHere: the view's own folders).
bool bindHeld(int fd, const QString& file, const QString& target, bool makeHere)
{
    struct stat held {};
    struct stat found {};
    const int source = ::open(encoded(file).constData(), O_PATH | O_CLOEXEC);
    const auto closeSource = qScopeGuard([source] {
        if (source >= 0)
            ::close(source);
    });
    if (source < 0 || ::fstat(fd, &held) != 0 || ::fstat(source, &found) != 0 || held.st_dev != found.st_dev
        || held.st_ino != found.st_ino)
        return true;
    const QByteArray name = encoded(target);
    int entry = ::open(name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (entry < 0 && errno == ENOENT && makeHere && QDir().mkpath(QFileInfo(target).absolutePath())) {
        const int made = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (made >= 0)
            ::close(made);
        entry = ::open(name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    }
    if (entry < 0)
        return errno == ENOENT || errno == EROFS || failed(QStringLiteral("finding"), target);
    const bool shown = ::mount(descriptorPath(source).constData(), descriptorPath(entry).constData(), nullptr, MS_BIND, nullptr) == 0;
    ::close(entry);
    if (!shown)
        return failed(QStringLiteral("showing"), file);
    const int placed = ::open(name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (placed < 0)
        return failed(QStringLiteral("finding"), target);
    const bool readOnly = ::mount(nullptr, descriptorPath(placed).constData(), nullptr,
                                  MS_BIND | MS_REMOUNT | MS_RDONLY | lockedFlags(target), nullptr)
        == 0;
    ::close(placed);
    return readOnly || failed(QStringLiteral("making read-only"), target);
}

// What a worker may see of a folder, looked at entry by entry down to every depth: its files
// and folders, and what is to be kept out of sight. Sockets, pipes and devices are no input
// (an agent's socket in /tmp); hidden entries are kept out too unless the folder itself is an
// input. The folder and the folders in it are always looked into: a document's pictures lie
// beside it or a folder down, however many files it has beside it. Deeper, beyond a budget of
// entries, breadth first, the folders not yet looked into are kept out whole: a home folder is
// not walked to its end, and what was not looked at is not shown.
// A folder that is itself an input is read whole by the item anyway: it is walked to its end,
// and only what is covered is kept.
// Paths stay bytes, as the disk has them: a name that is no UTF-8 is covered under its own name.
// The kind of an entry comes from its listing, so a folder of thousands of photos costs a
// worker its listing, not a look at each file.
struct FolderWalk {
    QByteArrayList files;
    // Folders of plain files only, no folder and nothing hidden in them: what they hold is all
    // in sight, so a rule for each folder stands for one for each of its files.
    QByteArrayList plainFolders;
    QByteArrayList coveredFiles;
    QByteArrayList coveredFolders;
};

constexpr int walkBudget = 20000;

FolderWalk walkFolder(const QByteArray& root, bool hiddenShown, const QByteArray& passedBy = {})
{
    FolderWalk walk;
    QByteArrayList queue{root};
    // Where the folders two levels down start in the queue, once the first level is known.
    qsizetype secondLevel = -1;
    int budget = walkBudget;
    const bool whole = hiddenShown;
    for (qsizetype next = 0; next < queue.size(); ++next) {
        const QByteArray folder = queue.at(next);
        if (next == 1)
            secondLevel = queue.size();
        if (budget <= 0 && !whole && secondLevel >= 0 && next >= secondLevel) {
            walk.coveredFolders.append(folder);
            continue;
        }
        const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        DIR* listing = ::fdopendir(fd);
        if (!listing) {
            ::close(fd);
            continue;
        }
        const auto closeListing = qScopeGuard([listing] { ::closedir(listing); });
        const QByteArray prefix = folder.endsWith('/') ? folder : folder + '/';
        QByteArrayList plainFiles;
        bool plain = true;
        while (const dirent* entry = ::readdir(listing)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            --budget;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat status {};
                if (::fstatat(::dirfd(listing), name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                    continue; // gone since it was listed
                type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISREG(status.st_mode) ? DT_REG
                    : S_ISLNK(status.st_mode)  ? DT_LNK
                                               : DT_SOCK;
            }
            // A link shows nothing: its target is either in sight or not.
            if (type == DT_LNK)
                continue;
            const bool hidden = name[0] == '.';
            const bool file = type == DT_REG;
            plain = plain && file && !hidden;
            if (file && !hidden && whole)
                continue;
            const QByteArray path = prefix + name;
            if (path == passedBy)
                continue;
            if (type == DT_DIR) {
                if (hidden && !hiddenShown)
                    walk.coveredFolders.append(path);
                else
                    queue.append(path);
            } else if (!file || (hidden && !hiddenShown)) {
                walk.coveredFiles.append(path);
            } else if (!whole) {
                plainFiles.append(path);
            }
        }
        if (plain && !whole)
            walk.plainFolders.append(folder);
        else
            walk.files.append(plainFiles);
    }
    return walk;
}

// What covers are bound from: an empty file and an empty folder, each a read-only mount, so a
// bind of one is read-only from the start.
struct Covers {
    QByteArray file;
    QByteArray folder;
};

// An entry gone since it was looked at needs no cover.
bool coverFile(const QByteArray& covered, const Covers& covers)
{
    return ::mount(covers.file.constData(), covered.constData(), nullptr, MS_BIND, nullptr) == 0 || errno == ENOENT;
}

// A cover that a writable folder lies below (an item's work folder in the hidden work folder
// beside an input on another disk) takes the folders on the way to it, so it stays writable:
// it is the worker's alone, in memory, and 4k at most.
bool coverFolder(const QByteArray& covered, const Covers& covers, bool roomBelow = false)
{
    if (!roomBelow)
        return ::mount(covers.folder.constData(), covered.constData(), nullptr, MS_BIND, nullptr) == 0 || errno == ENOENT;
    return ::mount("tmpfs", covered.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=4k,mode=0755") == 0
        || errno == ENOENT;
}

// A folder shown read-only, with what is mounted below it (a removable disk, a network share),
// and with what walkFolder keeps out covered at every depth: a file beside the input in the
// home folder is readable, the keys and settings there are not.
// A folder given as an input and held (heldFd) is shown only when its path still leads to the
// folder held, as bindHeld does for a file, and is bound and looked into through the folder found
// then, whatever its path names later; else nothing is shown, and the look before the item finds
// the path leading elsewhere.
bool bindWithoutHidden(const QString& path, const QString& target, const Covers& covers, bool hiddenShown,
                       const QStringList& writable, int heldFd = -1)
{
    QByteArray source = encoded(path);
    const QByteArray named = source;
    // The view being built may lie in the folder: it is not looked into.
    QByteArray passedBy = covers.file.left(covers.file.lastIndexOf('/'));
    int found = -1;
    const auto closeFound = qScopeGuard([&found] {
        if (found >= 0)
            ::close(found);
    });
    if (heldFd >= 0) {
        struct stat held {};
        struct stat there {};
        found = ::open(source.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (found < 0 || ::fstat(heldFd, &held) != 0 || ::fstat(found, &there) != 0 || held.st_dev != there.st_dev
            || held.st_ino != there.st_ino)
            return true;
        source = descriptorPath(found);
        if (passedBy.startsWith(named + '/'))
            passedBy = source + passedBy.mid(named.size());
    }
    if (!bind(QFile::decodeName(source), target, true, true))
        return false;
    const FolderWalk walk = walkFolder(source, hiddenShown, passedBy);
    const QByteArray shownAt = encoded(target);
    const auto inside = [&](const QByteArray& entry) { return shownAt + entry.mid(source.size()); };
    QByteArrayList writableNames;
    for (const QString& below : writable)
        writableNames.append(encoded(below));
    for (const QByteArray& folder : walk.coveredFolders) {
        const QByteArray under = named + folder.mid(source.size()) + '/';
        const bool roomBelow = std::any_of(writableNames.begin(), writableNames.end(),
                                           [&under](const QByteArray& below) { return below.startsWith(under); });
        if (!coverFolder(inside(folder), covers, roomBelow))
            return failed(QStringLiteral("covering"), QFile::decodeName(folder));
    }
    for (const QByteArray& file : walk.coveredFiles) {
        if (!coverFile(inside(file), covers))
            return failed(QStringLiteral("covering"), QFile::decodeName(file));
    }
    return true;
}

// A folder the worker writes in, its own: only its hidden folders are left out (our journal
// beside other workers' folders is a hidden file), and what is not a file or folder.
bool bindWritable(const QString& source, const QString& target, const Covers& covers)
{
    if (!bind(source, target, false, false))
        return false;
    const QFileInfoList entries = QDir(source).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        const QString covered = target + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() && entry.fileName().startsWith(QLatin1Char('.'))) {
            if (::mount("tmpfs", encoded(covered).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") != 0)
                return false;
        } else if (!entry.isDir() && !entry.isFile() && !coverFile(encoded(covered), covers)) {
            return false;
        }
    }
    return true;
}

void dropCapabilities()
{
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    for (int cap = 0; cap <= 63; ++cap)
        ::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    ::syscall(SYS_capset, &header, data);
}

// The folders of the programs this process may run: its own, and those the environment names.
QStringList programFolders()
{
    // The player walls itself in before it makes its application object.
    const QString programs = QCoreApplication::instance()
        ? QCoreApplication::applicationDirPath()
        : QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
    QStringList folders{programs};
    // Data beside the programs, and where its links lead: a build's share folder links to the
    // checkout's downloaded models.
    for (const QString& share : {programs + QStringLiteral("/share/quorvenda"), programs + QStringLiteral("/../share/quorvenda")}) {
        const QFileInfo shareInfo(share);
        if (!shareInfo.isDir())
            continue;
        folders.append(shareInfo.canonicalFilePath());
        for (const QFileInfo& entry : QDir(share).entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
            if (entry.isSymLink() && entry.exists())
                folders.append(QFileInfo(entry.canonicalFilePath()).absolutePath());
        }
    }
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys()) {
        const QString value = environment.value(name);
        if (name.startsWith(QLatin1String("QUORVENDA_")) && QDir::isAbsolutePath(value) && QFileInfo(value).isFile())
            folders.append(QFileInfo(value).absolutePath());
    }
    return folders;
}

// Processes below this one (their parent, or their parent's parent, and so on, is us).
QList<pid_t> descendants()
{
    QHash<pid_t, pid_t> parents;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[0] != "Z")
            parents.insert(pid, pid_t(fields[1].toInt()));
    }
    const pid_t self = ::getpid();
    QList<pid_t> below;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        pid_t up = it.value();
        for (int depth = 0; depth < 64 && up > 1; ++depth) {
            if (up == self) {
                below.append(it.key());
                break;
            }
            up = parents.value(up, 0);
        }
    }
    return below;
}

} // namespace

bool WorkerSandbox::detach()
{
    // It stays in the application's session (a session would be a processor share of its
    // own); what it starts stays below it.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

QString WorkerSandbox::viewFailure()
{
    return s_viewFailure;
}

bool WorkerSandbox::isolated()
{
    return qEnvironmentVariable("QUORVENDA_SANDBOX") == QLatin1String("namespaces");
}

bool WorkerSandbox::enterView(const QStringList& readable, const QStringList& files, const QStringList& writable,
                              const QHash<QString, int>& held)
{
    return buildView(readable, files, writable, {}, held);
}

bool WorkerSandbox::enterPlayerView(const QString& file)
{
    // The sound server's sockets, where the client library looks for them (PipeWire's own, and
    // PulseAudio's or PipeWire's stand-in for it); no cookie: the server knows its user by the
    // socket's credentials.
    QList<Shown> shown;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString pipewire = qEnvironmentVariable("PIPEWIRE_RUNTIME_DIR", runtime);
    const QString remote = qEnvironmentVariable("PIPEWIRE_REMOTE", QStringLiteral("pipewire-0"));
    if (!pipewire.isEmpty())
        shown.append({QDir::isAbsolutePath(remote) ? remote : pipewire + QLatin1Char('/') + remote, true});
    QString pulse = qEnvironmentVariable("PULSE_SERVER");
    if (pulse.startsWith(QLatin1String("unix:")))
        pulse = pulse.mid(5);
    if (QDir::isAbsolutePath(pulse))
        shown.append({pulse, true});
    else if (!runtime.isEmpty())
        shown.append({runtime + QStringLiteral("/pulse/native"), true});
    // The sound card, where no sound server stands before it, and the graphics card's render
    // nodes, for decoding in hardware where the media framework chooses to.
    shown.append({QStringLiteral("/dev/snd"), false});
    shown.append({QStringLiteral("/dev/dri"), false});
    return buildView({}, {file}, {}, shown);
}

bool WorkerSandbox::buildView(const QStringList& readable, const QStringList& files, const QStringList& writable,
                              const QList<Shown>& shown, const QHash<QString, int>& held)
{
    const auto giveUp = [] {
        dropCapabilities();
        return false;
    };
    const QString own = qEnvironmentVariable("TMPDIR");
    if (!isolated() || own.isEmpty() || !QDir::isAbsolutePath(own))
        return giveUp();
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return giveUp();
    const QString base = own + QStringLiteral("/.view");
    if (!mountTmpfs(base, "mode=0755,size=1m"))
        return giveUp();
    const auto inside = [&base](const QString& path) { return base + path; };
    bool ok = true;
    for (const char* folder : systemFolders)
        ok = ok && bind(QString::fromLatin1(folder), inside(QString::fromLatin1(folder)), true, true);
    // Merged /usr leaves links where the old folders were.
    for (const char* folder : mergedFolders) {
        const QFileInfo info{QString::fromLatin1(folder)};
        if (info.isSymLink())
            ok = ok && ::symlink(encoded(info.symLinkTarget()).constData(), encoded(inside(info.filePath())).constData()) == 0;
        else if (info.isDir())
            ok = ok && bind(info.filePath(), inside(info.filePath()), true, true);
    }
    ok = ok && mountTmpfs(inside(QStringLiteral("/dev")), "mode=0755,size=64k");
    for (const char* node : deviceNodes)
        ok = ok && bind(QString::fromLatin1(node), inside(QString::fromLatin1(node)), false, false);
    const std::pair<const char*, const char*> links[] = {{"/proc/self/fd", "/dev/fd"}, {"/proc/self/fd/0", "/dev/stdin"},
                                                         {"/proc/self/fd/1", "/dev/stdout"}, {"/proc/self/fd/2", "/dev/stderr"}};
    for (const auto& [target, link] : links)
        ok = ok && ::symlink(target, encoded(inside(QString::fromLatin1(link))).constData()) == 0;
    ok = ok && mountTmpfs(inside(QStringLiteral("/dev/shm")), "mode=1777,size=256m");
    ok = ok && QDir().mkpath(inside(QStringLiteral("/proc")))
        && ::mount("proc", encoded(inside(QStringLiteral("/proc"))).constData(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0;
    // The office suite's pipe lives in this /tmp, which is the worker's alone.
    for (const char* folder : {"/tmp", "/var/tmp", "/run"})
        ok = ok && mountTmpfs(inside(QString::fromLatin1(folder)), "mode=1777,size=64m");
    for (const QString& folder : programFolders())
        ok = ok && bind(folder, inside(folder), true, QFileInfo(folder).isDir()); // with what is mounted below
    // What covers a hidden file or folder: empty, and read-only.
    const QString emptyFile = base + QStringLiteral("/.covered");
    const QString emptyFolder = base + QStringLiteral("/.coveredFolder");
    ok = ok && makeMountPoint(emptyFile, false) && bind(emptyFile, emptyFile, true, false)
        && makeMountPoint(emptyFolder, true) && bind(emptyFolder, emptyFolder, true, false);
    const Covers covers{encoded(emptyFile), encoded(emptyFolder)};
    // A folder given as an input is shown whole (an archive of it keeps its hidden files); the
    // folders of the files given, without what is hidden in them.
    for (const QString& folder : readable) {
        const int heldFolder = held.contains(folder) && isFolder(held.value(folder)) ? held.value(folder) : -1;
        ok = ok
            && (folder.isEmpty()
                || bindWithoutHidden(folder, inside(folder), covers, files.contains(folder), writable, heldFolder));
    }
    // A file given is shown when the folder shown does not show it (hidden, or no folder at
    // all), and a file given is pinned where the folder shows it: one put in its place later
    // (a link to a key) is not what the worker reads.
    for (const QString& file : files) {
        const QFileInfo info(file);
        const bool shownHere = info.fileName().startsWith(QLatin1Char('.')) || (!info.isDir() && !readable.contains(info.absolutePath()));
        const auto it = held.constFind(file);
        if (it != held.constEnd() && isFolder(*it))
            continue; // shown with the folders above, or not at all
        if (it != held.constEnd())
            ok = ok && bindHeld(*it, file, inside(file), shownHere);
        else if (shownHere || info.isFile())
            ok = ok && bind(file, inside(file), true, info.isDir());
    }
    for (const Shown& extra : shown)
        ok = ok && bind(extra.path, inside(extra.path), extra.readOnly, QFileInfo(extra.path).isDir());
    for (const QString& folder : writable)
        ok = ok && (folder.isEmpty() || bindWritable(folder, inside(folder), covers));
    // Its own folder, hidden in the temporary root among other workers' folders.
    ok = ok && bind(own, inside(own), false, false);
    if (!ok)
        return giveUp(); // the view is half made, but nobody is in it yet
    if (::chdir(encoded(base).constData()) != 0 || ::syscall(SYS_pivot_root, ".", ".") != 0
        || ::umount2(".", MNT_DETACH) != 0 || ::chdir("/") != 0) {
        failed(QStringLiteral("entering"), base);
        return giveUp();
    }
    ::mount(nullptr, "/", nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr);
    dropCapabilities();
    return true;
}

void WorkerSandbox::keepView()
{
    dropCapabilities();
}

bool WorkerSandbox::wallPlayer(const QString& file)
{
    const bool viewed = !file.isEmpty() && enterPlayerView(file);
    if (!viewed)
        keepView();
    filterSystemCalls(true);
    // The sound server is reached through its socket, which Landlock counts as no file access.
    const QString own = qEnvironmentVariable("TMPDIR");
    if (own.isEmpty())
        return viewed;
    if (viewed || file.isEmpty()) {
        restrictWritesTo({own});
        return viewed;
    }
    // The sound and graphics cards are opened for writing too.
    return restrictTo({own, QStringLiteral("/dev/snd"), QStringLiteral("/dev/dri")}, {}, {file}) > 0;
}

bool WorkerSandbox::limitProcesses(int count)
{
    if (count <= 0)
        return false;
    if (isolated())
        return setLimit(RLIMIT_NPROC, rlim_t(count), rlim_t(count));
    // Outside a user namespace the kernel counts every process and thread of the user: the
    // most it can hold to is what the user runs now and the count on top. What the user starts
    // later leaves the worker less.
    const QByteArray uid = QByteArray::number(::getuid());
    rlim_t running = 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(QStringLiteral("/proc/") + entry + QStringLiteral("/status"));
        if (!entry.at(0).isDigit() || !status.open(QIODevice::ReadOnly))
            continue;
        bool mine = false;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Uid:"))
                mine = line.mid(4).simplified().split(' ').value(0) == uid;
            else if (mine && line.startsWith("Threads:"))
                running += rlim_t(line.mid(8).trimmed().toLong());
        }
    }
    return running > 0 && setLimit(RLIMIT_NPROC, running + rlim_t(count), running + rlim_t(count));
}

void WorkerSandbox::endStrays()
{
    if (isolated()) {
        // Everything in the namespace but its init and this process; a killed process lives on
        // until the scheduler runs it, so the item is not over before they are gone (the
        // namespace's own /proc lists only its processes).
        ::kill(-1, SIGKILL);
        const pid_t self = ::getpid();
        // Before its view is made, the /proc it sees is the system's, which lists everyone.
        const bool ownProc = QFile::symLinkTarget(QStringLiteral("/proc/self")).endsWith(QLatin1Char('/') + QString::number(self))
            || QFileInfo(QStringLiteral("/proc/self")).canonicalFilePath() == QStringLiteral("/proc/%1").arg(self);
        for (int round = 0; ownProc && round < 500; ++round) {
            while (::waitpid(-1, nullptr, WNOHANG) > 0) {
            }
            bool living = false;
            for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                bool number = false;
                const pid_t pid = pid_t(entry.toInt(&number));
                if (!number || pid == 1 || pid == self)
                    continue;
                QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
                if (!stat.open(QIODevice::ReadOnly))
                    continue;
                const QByteArray line = stat.readAll();
                const qsizetype close = line.lastIndexOf(')');
                if (close >= 0 && line.size() > close + 2 && line.at(close + 2) != 'Z' && line.at(close + 2) != 'X') {
                    living = true;
                    break;
                }
            }
            if (!living)
                break;
            ::usleep(10'000);
        }
    } else {
        for (int round = 0; round < 10; ++round) {
            const QList<pid_t> below = descendants();
            if (below.isEmpty())
                break;
            for (pid_t pid : below)
                ::kill(pid, SIGKILL);
        }
    }
    // Our children among them leave no zombies; those of the programs we ran were reaped.
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

bool WorkerSandbox::limitMemory(qint64 bytes)
{
    if (bytes <= 0)
        return true;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers reserve terabytes of shadow memory up front.
    return false;
#else
    rlimit current{};
    ::getrlimit(RLIMIT_AS, &current);
    rlim_t wanted = rlim_t(bytes);
    if (current.rlim_max != RLIM_INFINITY && wanted > current.rlim_max)
        wanted = current.rlim_max;
    return setLimit(RLIMIT_AS, wanted, wanted);
#endif
}

bool WorkerSandbox::limitCpuTime(qint64 seconds)
{
    if (seconds <= 0)
        return true;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const rlim_t used = rlim_t(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec);
    rlimit current{};
    ::getrlimit(RLIMIT_CPU, &current);
    // Only the soft limit: SIGXCPU ends the process there, and the next item may get a budget
    // of its own.
    return setLimit(RLIMIT_CPU, used + rlim_t(seconds), current.rlim_max);
}

bool WorkerSandbox::filterSystemCalls(bool mayConnect)
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return false;
    // Every thread, also those the libraries started before the walls went up.
    bool ok = seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
    const auto refuse = [&](int call) {
        if (call >= 0 && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0) != 0)
            ok = false;
    };
    for (const char* name : {"ptrace", "process_vm_readv", "process_vm_writev", "mount", "umount2",
                             "pivot_root", "chroot", "move_mount", "open_tree", "fsopen", "fsmount",
                             "fspick", "init_module", "finit_module", "delete_module", "kexec_load",
                             "kexec_file_load", "reboot", "swapon", "swapoff", "bpf", "perf_event_open",
                             "keyctl", "add_key", "request_key", "userfaultfd", "setns", "unshare",
                             "open_by_handle_at", "name_to_handle_at", "acct", "quotactl",
                             "settimeofday", "clock_settime", "clock_adjtime", "adjtimex", "syslog",
                             "iopl", "ioperm", "lookup_dcookie", "vhangup", "uselib",
                             // Rings open sockets and files past the rules below.
                             "io_uring_setup", "io_uring_enter", "io_uring_register",
                             // Reaching into other processes.
                             "pidfd_getfd", "kcmp", "process_madvise"}) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR)
            refuse(call);
    }
    // No namespaces of its own either through clone: a new user namespace is a kernel's worth
    // of new code within reach. clone3 hides its flags in memory the filter cannot read; as
    // "not here", libc falls back to clone.
    const int cloneCall = seccomp_syscall_resolve_name("clone");
    for (const unsigned long flag : {CLONE_NEWUSER, CLONE_NEWNS, CLONE_NEWPID, CLONE_NEWNET, CLONE_NEWIPC,
                                     CLONE_NEWUTS, CLONE_NEWCGROUP}) {
        if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), cloneCall, 1, SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)) != 0)
            ok = false;
    }
    const int clone3Call = seccomp_syscall_resolve_name("clone3");
    if (clone3Call != __NR_SCMP_ERROR && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), clone3Call, 0) != 0)
        ok = false;
    // A decoder talks to nobody: local sockets only (the office suite uses them between its
    // own processes).
    const int socketCall = seccomp_syscall_resolve_name("socket");
    if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EAFNOSUPPORT), socketCall, 1,
                         SCMP_A0(SCMP_CMP_NE, AF_UNIX)) != 0)
        ok = false;
    const int socketPairCall = seccomp_syscall_resolve_name("socketpair");
    if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EAFNOSUPPORT), socketPairCall, 1,
                         SCMP_A0(SCMP_CMP_NE, AF_UNIX)) != 0)
        ok = false;
    // A socket whose name it guesses (the X server's, the session bus, an agent's) is reached
    // by connecting to it, which no file rule sees, or by sending a datagram to it. Its own
    // programs talk through socket pairs, and the office suite listens on its pipe itself.
    if (!mayConnect) {
        if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(ECONNREFUSED), seccomp_syscall_resolve_name("connect"), 0) != 0)
            ok = false;
        if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EAFNOSUPPORT), socketCall, 2, SCMP_A0(SCMP_CMP_EQ, AF_UNIX),
                             SCMP_A1(SCMP_CMP_MASKED_EQ, 0xF, SOCK_DGRAM))
            != 0)
            ok = false;
    }
    // Outside a PID namespace of its own, a signal to -1 reaches every process of the user: the
    // application and the whole desktop session. Nothing it runs sends one (a signal to one
    // process cannot be told from one to its own child here: the filter sees no process tree).
    if (!isolated()) {
        const int killCall = seccomp_syscall_resolve_name("kill");
        if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), killCall, 1,
                             SCMP_A0(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, 0xFFFFFFFFu)) != 0)
            ok = false;
        // Nor to its keeper, which ends whatever it leaves, nor to the application: their pids
        // are known now. A signal by thread id alone, or through a process descriptor (which
        // /proc hands out too), names nobody the filter can check.
        const pid_t keeper = ::getppid();
        QList<pid_t> guarded{keeper};
        QFile stat(QStringLiteral("/proc/%1/stat").arg(keeper));
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray line = stat.readAll();
            const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields[1].toInt() > 1)
                guarded.append(pid_t(fields[1].toInt()));
        }
        for (const pid_t pid : guarded) {
            if (pid <= 1)
                continue;
            for (const char* name : {"kill", "tgkill", "rt_sigqueueinfo", "rt_tgsigqueueinfo", "pidfd_open"}) {
                for (const pid_t named : {pid, pid_t(-pid)}) {
                    if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), seccomp_syscall_resolve_name(name), 1,
                                         SCMP_A0(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, scmp_datum_t(std::uint32_t(named))))
                        != 0)
                        ok = false;
                }
            }
        }
        for (const char* name : {"tkill", "pidfd_send_signal"})
            refuse(seccomp_syscall_resolve_name(name));
        // Limits are set on itself only (a keeper's CPU limit would end it).
        if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), seccomp_syscall_resolve_name("prlimit64"), 1,
                             SCMP_A0(SCMP_CMP_NE, 0))
            != 0)
            ok = false;
        // Shared memory that outlives every process of the sandbox, where no namespace of its
        // own ends it.
        for (const char* name : {"shmget", "shmat"})
            refuse(seccomp_syscall_resolve_name(name));
    }
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

int WorkerSandbox::landlockAbi()
{
    const int abi = landlockCreateRuleset(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi < 0 ? 0 : abi;
}

int WorkerSandbox::restrictWritesTo(const QStringList& folders)
{
    return applyLandlock(folders, nullptr);
}

int WorkerSandbox::restrictTo(const QStringList& writable, const QStringList& readable, const QStringList& files,
                              const QHash<QString, int>& held)
{
    const Reads reads{readable, files, held};
    return applyLandlock(writable, &reads);
}

bool WorkerSandbox::mayRead(const QString& path)
{
    struct stat status {};
    const QByteArray name = QFile::encodeName(path);
    // Only files and folders are tried: opening a device or a pipe may do something.
    if (::stat(name.constData(), &status) != 0 || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)))
        return true;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno != EACCES;
}

int WorkerSandbox::applyLandlock(const QStringList& folders, const Reads* reads)
{
    const int abi = landlockAbi();
    if (abi <= 0)
        return 0;
    __u64 writes = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR
        | LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR
        | LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO
        | LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
#ifdef LANDLOCK_ACCESS_FS_REFER
    if (abi >= 2)
        writes |= LANDLOCK_ACCESS_FS_REFER;
#endif
#ifdef LANDLOCK_ACCESS_FS_TRUNCATE
    if (abi >= 3)
        writes |= LANDLOCK_ACCESS_FS_TRUNCATE;
#endif
    const __u64 readFile = reads ? __u64(LANDLOCK_ACCESS_FS_READ_FILE) : 0;
    const __u64 readFolder = reads ? __u64(LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR) : 0;
    RulesetAttributes attr;
    attr.handledAccessFs = writes | readFolder;
    std::size_t size = sizeof attr.handledAccessFs;
    if (abi >= 4) {
        // No TCP at all, whatever the socket was made with.
        attr.handledAccessNet = netBindTcp | netConnectTcp;
        size += sizeof attr.handledAccessNet;
    }
    if (abi >= 6) {
        // Signals and abstract sockets reach only this process and what it starts: not the
        // application, not the user's other programs, not the X server's abstract socket.
        attr.scoped = scopeAbstractUnixSocket | scopeSignal;
        size += sizeof attr.scoped;
    }
    const int ruleset = landlockCreateRuleset(&attr, size, 0);
    if (ruleset < 0)
        return 0;
    const auto allowBytes = [&](const QByteArray& path, __u64 access, bool followLink = true) {
        const int fd = ::open(path.constData(), O_PATH | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
        if (fd < 0)
            return;
        struct stat status {};
        // A file takes only the rights of a file.
        if (::fstat(fd, &status) == 0 && !S_ISDIR(status.st_mode))
            access &= LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE
#ifdef LANDLOCK_ACCESS_FS_TRUNCATE
                | LANDLOCK_ACCESS_FS_TRUNCATE
#endif
                ;
        landlock_path_beneath_attr beneath{};
        beneath.allowed_access = access;
        beneath.parent_fd = fd;
        if (access)
            landlockAddRule(ruleset, LANDLOCK_RULE_PATH_BENEATH, &beneath);
        ::close(fd);
    };
    const auto allow = [&](const QString& path, __u64 access, bool followLink = true) {
        allowBytes(QFile::encodeName(path), access, followLink);
    };
    const __u64 fileWrites = writes
        & (LANDLOCK_ACCESS_FS_WRITE_FILE
#ifdef LANDLOCK_ACCESS_FS_TRUNCATE
           | LANDLOCK_ACCESS_FS_TRUNCATE
#endif
        );
    const __u64 folderWrites = writes & ~(__u64(LANDLOCK_ACCESS_FS_MAKE_CHAR) | LANDLOCK_ACCESS_FS_MAKE_BLOCK);
    for (const QString& folder : folders) {
        if (!folder.isEmpty() && QDir(folder).exists())
            allow(folder, folderWrites | readFolder);
    }
    allow(QStringLiteral("/dev/null"), fileWrites);
    // LibreOffice's launcher makes and removes its pipe in /tmp whatever TMPDIR says: in its own
    // namespaces a worker's /tmp is its own; without, LibreOffice is started so that the pipe
    // goes into the worker's folder (OfficeConverter), and /tmp stays closed.
    if (!reads)
        allow(QStringLiteral("/tmp"), writes & (LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_REMOVE_FILE));
    if (reads) {
        // What the view would show: the system, the programs, the inputs, nothing else of the
        // home folder or /tmp.
        for (const char* folder : systemFolders)
            allow(QString::fromLatin1(folder), readFolder);
        for (const char* folder : mergedFolders)
            allow(QString::fromLatin1(folder), readFolder);
        for (const char* node : deviceNodes)
            allow(QString::fromLatin1(node), readFile);
        // Other processes' entries are walled off by Landlock's own rule on reaching into them.
        allow(QStringLiteral("/proc"), readFolder);
        for (const QString& folder : programFolders())
            allow(folder, readFolder);
        for (const QString& folder : reads->folders) {
            if (folder.isEmpty() || reads->files.contains(folder))
                continue; // an input itself, read whole below
            // The folder lists at every depth (its hidden entries' names too), but only the files
            // the view would show are read: each by its own rule, or by its folder's where that
            // holds plain files only; a link leads where it leads.
            allow(folder, LANDLOCK_ACCESS_FS_READ_DIR);
            const FolderWalk walk = walkFolder(encoded(folder), false);
            for (const QByteArray& file : walk.files)
                allowBytes(file, readFile, false);
            for (const QByteArray& plain : walk.plainFolders)
                allowBytes(plain, readFile, false);
        }
        for (const QString& file : reads->files) {
            // A file or folder held: the rule names the inode held, so a link or another one put
            // in its place opens nothing through it.
            if (const auto it = reads->held.constFind(file); it != reads->held.constEnd())
                allow(QString::fromLatin1(descriptorPath(*it)), readFolder);
            else
                allow(file, readFolder);
        }
    }
    const bool restricted = landlockRestrictSelf(ruleset) == 0;
    ::close(ruleset);
    if (restricted && reads)
        s_keepsOutOfTmp = true;
    return restricted ? abi : 0;
}

bool WorkerSandbox::keepsOutOfTmp()
{
    return s_keepsOutOfTmp;
}

QByteArray WorkerSandbox::writeChecksRefused()
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return {};
    bool ok = true;
    // The mode is the second argument of access, the third of faccessat and faccessat2.
    for (const auto& [name, argument] : {std::pair{"access", 1u}, std::pair{"faccessat", 2u}, std::pair{"faccessat2", 2u}}) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call == __NR_SCMP_ERROR)
            continue; // not on this architecture
        const scmp_arg_cmp writable{argument, SCMP_CMP_MASKED_EQ, W_OK, W_OK};
        if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EACCES), call, 1, writable) != 0)
            ok = false;
    }
    QByteArray program;
    const int memory = ::memfd_create("filter", MFD_CLOEXEC);
    if (ok && memory >= 0 && seccomp_export_bpf(filter, memory) == 0 && ::lseek(memory, 0, SEEK_SET) == 0) {
        char chunk[4096];
        ssize_t got;
        while ((got = ::read(memory, chunk, sizeof chunk)) > 0)
            program.append(chunk, got);
        if (got < 0)
            program.clear();
    }
    if (memory >= 0)
        ::close(memory);
    seccomp_release(filter);
    return program;
}

} // namespace qv
