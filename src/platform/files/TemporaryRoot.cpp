#include "platform/files/TemporaryRoot.h"

#include "model/errors/SystemError.h"
#include "model/Log.h"
#include "platform/files/FileItems.h"
#include "platform/files/WorkFolderJournal.h"
#include "platform/files/WorkFolderRegistry.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <mutex>
#include <QUuid>

#include <cerrno>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

std::mutex& rootLock()
{
    static std::mutex lock;
    return lock;
}

QString cacheHome()
{
    // XDG base directory rules: a relative value is ignored.
    const QString configured = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return QDir::cleanPath(configured);
    return QDir::homePath() + QStringLiteral("/.cache");
}

// Gets rid of whatever stands at path without following it.
void discard(const QString& path, const struct stat& status)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (!S_ISDIR(status.st_mode)) {
        ::unlink(encoded.constData());
        return;
    }
    // Move it out of the way first: its contents may not all be removable.
    const QString aside = path + QStringLiteral(".refused-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (::rename(encoded.constData(), QFile::encodeName(aside).constData()) == 0)
        FileItems::remove(aside);
}

// Leaves a folder of our own at path, made when missing; mode 0700 when private is set.
void ensureOwnFolder(const QString& path, bool makePrivate)
{
    const QByteArray encoded = QFile::encodeName(path);
    for (int attempt = 0; attempt < 4; ++attempt) {
        struct stat status {};
        if (::lstat(encoded.constData(), &status) != 0) {
            if (errno != ENOENT)
                throw SystemError::fromErrno(errno, QStringLiteral("Cannot inspect ") + path);
            if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST)
                throw SystemError::fromErrno(errno, QStringLiteral("Cannot create ") + path);
            continue;
        }
        if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) {
            qCWarning(appLog).noquote()
                << "Replacing" << path << "which is not a folder of this user";
            discard(path, status);
            continue;
        }
        if (makePrivate && (status.st_mode & 07777) != 0700
            && ::chmod(encoded.constData(), 0700) != 0)
            throw SystemError::fromErrno(errno, QStringLiteral("Cannot protect ") + path);
        return;
    }
    throw SystemError::fromErrno(EACCES, QStringLiteral("Cannot secure ") + path);
}

// The path with links resolved, also for items that do not exist yet.
QString resolved(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    const QString canonical = QFileInfo(clean).canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return clean;
    return QDir::cleanPath(resolved(clean.left(slash)) + clean.mid(slash));
}

} // namespace

QString TemporaryRoot::cacheFolder()
{
    return cacheHome();
}

QString TemporaryRoot::path()
{
    // A worker's root is its own folder in ours: it may write nowhere else.
    const QString given = qEnvironmentVariable("QUORVENDA_TEMPORARY_ROOT");
    if (!given.isEmpty() && QDir::isAbsolutePath(given))
        return QDir::cleanPath(given);
    return cacheHome() + QStringLiteral("/quorvenda/tmp");
}

QString TemporaryRoot::secure()
{
    std::lock_guard locker(rootLock());
    const QString home = cacheHome();
    if (const int error = FileItems::makePath(home, 0700))
        throw SystemError::fromErrno(error, QStringLiteral("Cannot create ") + home);
    ensureOwnFolder(home + QStringLiteral("/quorvenda"), false);
    const QString root = path();
    ensureOwnFolder(root, true);
    return root;
}

bool TemporaryRoot::contains(const QString& path)
{
    const QString root = resolved(TemporaryRoot::path());
    const QString application = resolved(cacheHome() + QStringLiteral("/quorvenda/tmp"));
    const QString item = resolved(path);
    return item.startsWith(root + QLatin1Char('/')) || item.startsWith(application + QLatin1Char('/'));
}

QString TemporaryRoot::makeLiveFolder(const QString& name)
{
    const QString folder = secure() + QLatin1Char('/') + name;
    WorkFolderRegistry::add(folder);
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0) {
        const int error = errno;
        WorkFolderRegistry::remove(folder);
        throw SystemError::fromErrno(error, QStringLiteral("Cannot create ") + folder);
    }
    return folder;
}

int TemporaryRoot::purge(double maxAgeSeconds, const Clock& clock)
{
    QString root;
    try {
        root = secure();
    } catch (const SystemError& error) {
        qCWarning(appLog).noquote() << "No purge:" << error.localizedDescription();
        return 0;
    }
    const QDateTime now = clock.now();
    const QStringList names = QDir(root).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    int removed = 0;
    for (const QString& name : names) {
        const QString child = root + QLatin1Char('/') + name;
        if (name == QLatin1String(WorkFolderJournal::fileName) || WorkFolderRegistry::contains(child))
            continue;
        struct stat status {};
        double age = std::numeric_limits<double>::infinity();
        if (::lstat(QFile::encodeName(child).constData(), &status) == 0) {
            const qint64 modifiedMs = qint64(status.st_mtim.tv_sec) * 1000
                + status.st_mtim.tv_nsec / 1000000;
            age = double(now.toMSecsSinceEpoch() - modifiedMs) / 1000.0;
        }
        if (age > maxAgeSeconds && FileItems::remove(child))
            ++removed;
    }
    if (removed > 0)
        qCInfo(appLog) << "Purged" << removed << "temporary items";
    // Work beside destinations, left by a process that has ended.
    return removed + WorkFolderJournal::sweep();
}

qint64 TemporaryRoot::size()
{
    qint64 total = 0;
    QDirIterator it(path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        struct stat status {};
        if (::lstat(QFile::encodeName(it.next()).constData(), &status) == 0
            && S_ISREG(status.st_mode))
            total += status.st_size;
    }
    return total;
}

QUrl appTemporaryRoot()
{
    try {
        TemporaryRoot::secure();
    } catch (const SystemError&) {
        // Callers that make something in it see the failure themselves.
    }
    return QUrl::fromLocalFile(TemporaryRoot::path() + QLatin1Char('/'));
}

bool isInsideTemporaryRoot(const QUrl& url)
{
    return url.isLocalFile() && TemporaryRoot::contains(url.toLocalFile());
}

int purgeTemporaryItems(double maxAgeSeconds, const Clock& clock)
{
    return TemporaryRoot::purge(maxAgeSeconds, clock);
}

qint64 temporaryRootSize()
{
    return TemporaryRoot::size();
}

} // namespace qv
