#include "platform/files/WorkFolder.h"

#include "model/errors/SystemError.h"
#include "model/Log.h"
#include "platform/files/FileItems.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolderJournal.h"
#include "platform/files/WorkFolderRegistry.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Whether a file renames from one folder into the other: the same filesystem and, where the
// kernel tells, the same mount (a worker's sandbox binds each folder it may write on its own,
// and a rename between two binds of one filesystem fails as across filesystems).
bool sameFilesystem(const QString& a, const QString& b)
{
    struct statx first {};
    struct statx second {};
    const unsigned mask = STATX_INO | STATX_MNT_ID;
    if (::statx(AT_FDCWD, QFile::encodeName(a).constData(), 0, mask, &first) != 0
        || ::statx(AT_FDCWD, QFile::encodeName(b).constData(), 0, mask, &second) != 0)
        return false;
    if (first.stx_dev_major != second.stx_dev_major || first.stx_dev_minor != second.stx_dev_minor)
        return false;
    if ((first.stx_mask & STATX_MNT_ID) && (second.stx_mask & STATX_MNT_ID))
        return first.stx_mnt_id == second.stx_mnt_id;
    return true;
}

bool isGone(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) != 0 && errno == ENOENT;
}

struct LiveFolders {
    std::mutex mutex;
    std::set<WorkFolder*> folders;
};

LiveFolders& liveFolders()
{
    // Never destroyed: a late worker may still drop its folder during static destruction.
    static auto* live = new LiveFolders;
    return *live;
}

} // namespace

std::shared_ptr<WorkFolder> WorkFolder::create(const QString& destinationFolder)
{
    // Without a usable root, a folder beside the results still lets the item run.
    std::optional<SystemError> rootError;
    QString root;
    try {
        root = TemporaryRoot::secure();
    } catch (const SystemError& error) {
        rootError = error;
    }

    struct stat status {};
    const bool destinationExists =
        ::stat(QFile::encodeName(destinationFolder).constData(), &status) == 0
        && S_ISDIR(status.st_mode);
    if (destinationExists && (rootError || !sameFilesystem(root, destinationFolder))) {
        // Canonical, so that a later purge can tell when a link has taken a folder's place.
        QString base = QFileInfo(destinationFolder).canonicalFilePath();
        if (base.isEmpty())
            base = destinationFolder;
        if (base.endsWith(QLatin1Char('/')))
            base.chop(1);
        const QString folder = base + QLatin1Char('/') + QLatin1String(hiddenPrefix) + newUuid();
        WorkFolderRegistry::add(folder);
        const bool listed = !rootError && WorkFolderJournal::add(folder);
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) == 0) {
            if (!listed)
                qCWarning(appLog, "Could not list %s: a crash would leave it behind", qUtf8Printable(folder));
            return std::shared_ptr<WorkFolder>(new WorkFolder(folder, listed));
        }
        // A destination we cannot write to: the result goes elsewhere anyway.
        if (listed)
            WorkFolderJournal::remove(folder);
        WorkFolderRegistry::remove(folder);
    }
    if (rootError)
        throw *rootError;
    return std::shared_ptr<WorkFolder>(
        new WorkFolder(TemporaryRoot::makeLiveFolder(newUuid()), false));
}

std::shared_ptr<WorkFolder> WorkFolder::make(const QString& path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot create ") + path);
    return std::shared_ptr<WorkFolder>(new WorkFolder(path, false));
}

WorkFolder::WorkFolder(QString path, bool listed)
    : m_path(std::move(path))
    , m_listed(listed)
{
    // A hidden folder in a destination is held open, so that it is found if a folder on its way
    // is renamed during the item.
    if (m_listed)
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    LiveFolders& live = liveFolders();
    std::lock_guard locker(live.mutex);
    live.folders.insert(this);
}

WorkFolder::~WorkFolder()
{
    {
        LiveFolders& live = liveFolders();
        std::lock_guard locker(live.mutex);
        live.folders.erase(this);
    }
    remove();
}

namespace {

// Where the folder held open as fd lies now, when it is no longer at path: a folder on the way was
// renamed while the item ran. Nothing when it is still there, was removed, or cannot be told.
std::optional<QString> movedTo(int fd, const QString& path)
{
    struct stat held {};
    if (fd < 0 || ::fstat(fd, &held) != 0)
        return std::nullopt;
    struct stat there {};
    if (::lstat(QFile::encodeName(path).constData(), &there) == 0 && there.st_dev == held.st_dev
        && there.st_ino == held.st_ino)
        return std::nullopt;
    QByteArray target(4096, Qt::Uninitialized);
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t length = ::readlink(link.constData(), target.data(), std::size_t(target.size()));
    if (length <= 0 || length >= target.size())
        return std::nullopt;
    target.truncate(length);
    const QString now = QFile::decodeName(target);
    // Only our own folder under its own name: never a path the kernel marks as deleted.
    if (QFileInfo(now).fileName() != QFileInfo(path).fileName())
        return std::nullopt;
    struct stat moved {};
    if (::lstat(target.constData(), &moved) != 0 || moved.st_dev != held.st_dev || moved.st_ino != held.st_ino)
        return std::nullopt;
    return now;
}

} // namespace

void WorkFolder::remove()
{
    if (m_removed.exchange(true))
        return;
    const std::optional<QString> moved = movedTo(m_fd, m_path);
    FileItems::remove(moved.value_or(m_path));
    if (moved)
        qCInfo(appLog, "Removed work folder %s, moved from %s", qUtf8Printable(*moved), qUtf8Printable(m_path));
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    // A folder that would not go stays listed, for a later purge.
    if (m_listed && isGone(moved.value_or(m_path)))
        WorkFolderJournal::remove(m_path);
    WorkFolderRegistry::remove(m_path);
}

void WorkFolder::removeAll()
{
    {
        LiveFolders& live = liveFolders();
        std::lock_guard locker(live.mutex);
        for (WorkFolder* folder : live.folders)
            folder->remove();
    }
    for (const QString& path : WorkFolderRegistry::paths())
        if (TemporaryRoot::contains(path))
            FileItems::remove(path);
}

} // namespace qv
