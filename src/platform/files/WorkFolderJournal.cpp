#include "platform/files/WorkFolderJournal.h"
#include "platform/processes/ProcessIdentity.h"

#include "platform/files/FileContents.h"

#include "model/errors/SystemError.h"
#include "model/Log.h"
#include "platform/files/FileItems.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolder.h"
#include "platform/files/WorkFolderRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

// Far more than any real list; a longer file is cut at a line.
constexpr qint64 maxListBytes = 1 << 20;

struct Owner {
    QByteArray boot;
    QByteArray pid;
    QByteArray start;
    bool operator==(const Owner&) const = default;
};

struct Entry {
    Owner owner;
    QString path;
};

void warn(const QString& message)
{
    qCWarning(appLog).noquote() << message;
}

const Owner& thisProcess()
{
    static const Owner owner{ProcessIdentity::bootId(), QByteArray::number(::getpid()), ProcessIdentity::startTime("self")};
    return owner;
}

bool isNumber(const QByteArray& text)
{
    return !text.isEmpty() && text.size() <= 20
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ownerRuns(const Owner& owner)
{
    // Without /proc nothing can be told apart: keep everything.
    if (ProcessIdentity::bootId().isEmpty())
        return true;
    if (owner.boot != ProcessIdentity::bootId())
        return false;
    const QByteArray start = ProcessIdentity::startTime(owner.pid);
    return !start.isEmpty() && start == owner.start;
}

// An absolute, clean path whose last part is a hidden work folder's name.
bool isWorkFolderPath(const QString& path)
{
    static const QRegularExpression name(
        QLatin1String("^") + QRegularExpression::escape(QLatin1String(WorkFolder::hiddenPrefix))
        + QStringLiteral("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"));
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return QDir::isAbsolutePath(path) && QDir::cleanPath(path) == path && slash >= 0
        && name.match(path.mid(slash + 1)).hasMatch();
}

// An exclusive lock on the temporary root, held while the object lives.
class RootLock {
public:
    RootLock()
    {
        try {
            m_root = TemporaryRoot::secure();
        } catch (const SystemError& error) {
            qCWarning(appLog).noquote() << "Work folder list unavailable:" << error.localizedDescription();
            return;
        }
        m_fd = ::open(QFile::encodeName(m_root).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int result = m_fd < 0 ? -1 : 0;
        while (m_fd >= 0 && (result = ::flock(m_fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (result != 0) {
            warn(QStringLiteral("Cannot lock %1: %2").arg(m_root, QString::fromLocal8Bit(::strerror(errno))));
            if (m_fd >= 0)
                ::close(std::exchange(m_fd, -1));
        }
    }
    ~RootLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RootLock(const RootLock&) = delete;
    RootLock& operator=(const RootLock&) = delete;

    bool isHeld() const { return m_fd >= 0; }
    QString listPath() const { return m_root + QLatin1Char('/') + QLatin1String(WorkFolderJournal::fileName); }

private:
    QString m_root;
    int m_fd = -1;
};

// Nothing when the list exists but cannot be read: it must not then be overwritten.
std::optional<QList<Entry>> readList(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path))
            return QList<Entry>();
        warn(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    QByteArray data = file.read(maxListBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        warn(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    if (data.size() > maxListBytes) {
        warn(path + QStringLiteral(" is too long; only its beginning is kept"));
        data.truncate(data.lastIndexOf('\n', maxListBytes - 1) + 1);
    }
    QList<Entry> entries;
    for (const QByteArray& line : data.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4 || fields[0].isEmpty() || !isNumber(fields[1]) || !isNumber(fields[2]))
            continue;
        const QString entryPath = QFile::decodeName(QByteArray::fromPercentEncoding(fields[3]));
        if (entryPath.isEmpty())
            continue;
        entries.append({{fields[0], fields[1], fields[2]}, entryPath});
    }
    return entries;
}

bool writeList(const QString& path, const QList<Entry>& entries)
{
    if (entries.isEmpty()) {
        if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
            warn(QStringLiteral("Cannot remove %1: %2").arg(path, QString::fromLocal8Bit(::strerror(errno))));
            return false;
        }
        return true;
    }
    QByteArray data;
    for (const Entry& entry : entries) {
        data += entry.owner.boot + ' ' + entry.owner.pid + ' ' + entry.owner.start + ' '
            + QFile::encodeName(entry.path).toPercentEncoding() + '\n';
    }
    if (const std::optional<SystemError> error = FileContents::replace(path, data)) {
        warn(error->localizedDescription());
        return false;
    }
    return true;
}

// Drops the entries of the paths; true when the list says so afterwards.
bool dropEntries(const QSet<QString>& paths)
{
    if (paths.isEmpty())
        return true;
    const RootLock lock;
    if (!lock.isHeld())
        return false;
    std::optional<QList<Entry>> entries = readList(lock.listPath());
    if (!entries)
        return false;
    if (entries->removeIf([&paths](const Entry& e) { return paths.contains(e.path); }) == 0)
        return true;
    return writeList(lock.listPath(), *entries);
}

enum class Leftover { removed, gone, refused, kept };

// Removes a leftover folder unless something other than our own folder stands at its path.
Leftover removeLeftover(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(encoded.constData(), &status) != 0) {
        if (errno != ENOENT)
            return Leftover::kept;
        // A folder whose destination is not there either lies on a stick or share that is away:
        // it is looked for again when that comes back.
        const QString parent = path.left(path.lastIndexOf(QLatin1Char('/')));
        struct stat parentStatus {};
        if (!parent.isEmpty() && ::lstat(QFile::encodeName(parent).constData(), &parentStatus) != 0
            && errno == ENOENT)
            return Leftover::kept;
        return Leftover::gone;
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
        return Leftover::refused;
    // A link put in place of a folder on the way leads elsewhere: the path was canonical.
    const QString parent = path.left(path.lastIndexOf(QLatin1Char('/')));
    const QString canonicalParent = QFileInfo(parent.isEmpty() ? QStringLiteral("/") : parent).canonicalFilePath();
    if (canonicalParent != (parent.isEmpty() ? QStringLiteral("/") : parent))
        return Leftover::refused;
    FileItems::remove(path);
    if (::lstat(encoded.constData(), &status) != 0 && errno == ENOENT)
        return Leftover::removed;
    return Leftover::kept;
}

} // namespace

bool WorkFolderJournal::add(const QString& path)
{
    const Owner& self = thisProcess();
    if (self.boot.isEmpty() || !isNumber(self.start) || !isWorkFolderPath(path))
        return false;
    const RootLock lock;
    if (!lock.isHeld())
        return false;
    std::optional<QList<Entry>> entries = readList(lock.listPath());
    if (!entries)
        return false;
    entries->append({self, path});
    return writeList(lock.listPath(), *entries);
}

bool WorkFolderJournal::remove(const QString& path)
{
    return dropEntries({path});
}

int WorkFolderJournal::sweep()
{
    QList<Entry> candidates;
    {
        const RootLock lock;
        if (!lock.isHeld())
            return 0;
        const std::optional<QList<Entry>> entries = readList(lock.listPath());
        if (!entries)
            return 0;
        for (const Entry& entry : *entries) {
            if (WorkFolderRegistry::contains(entry.path))
                continue;
            if (entry.owner != thisProcess() && ownerRuns(entry.owner))
                continue;
            candidates.append(entry);
        }
    }

    // Removed outside the lock: a big leftover must not hold up new work folders.
    QSet<QString> dropped;
    int removed = 0;
    for (const Entry& entry : std::as_const(candidates)) {
        if (!isWorkFolderPath(entry.path)) {
            warn(QStringLiteral("Ignoring a listed work folder: ") + entry.path);
            dropped.insert(entry.path);
            continue;
        }
        switch (removeLeftover(entry.path)) {
        case Leftover::removed:
            ++removed;
            dropped.insert(entry.path);
            break;
        case Leftover::gone:
            dropped.insert(entry.path);
            break;
        case Leftover::refused:
            warn(QStringLiteral("Not removing %1: it is not a work folder of this user").arg(entry.path));
            dropped.insert(entry.path);
            break;
        case Leftover::kept:
            break;
        }
    }
    dropEntries(dropped);
    if (removed > 0)
        qCInfo(appLog, "Removed %d work folder(s) left behind beside destinations", removed);
    return removed;
}

} // namespace qv
