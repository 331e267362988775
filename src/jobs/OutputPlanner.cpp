#include "jobs/OutputPlanner.h"

#include "model/errors/EngineError.h"
#include "model/errors/JobFailure.h"
#include "model/errors/SystemError.h"
#include "model/files/FileInfo.h"
#include "model/Log.h"
#include "model/operations/JobNotes.h"
#include "platform/files/ExclusiveRename.h"
#include "platform/files/FileAttributes.h"
#include "platform/files/FileItems.h"
#include "platform/files/PlainTree.h"
#include "platform/files/PrivateFolder.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolder.h"
#include "platform/files/WorkFolderRegistry.h"
#include "platform/sandbox/WorkerTrail.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUuid>

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <fts.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

const QString missingOutputFolder = QStringLiteral("The output folder isn't available");

QString cleanFolder(const QUrl& url)
{
    return QDir::cleanPath(url.toLocalFile());
}

bool isFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isDir();
}

bool isPermissionError(int code)
{
    return code == EPERM || code == EACCES || code == EROFS;
}

// Names made by engines may come from document titles: keep them to one path component that
// still fits the filesystem's 255 bytes with the largest number and the extension.
QString safeComponent(QString text)
{
    text.replace(QLatin1Char('/'), QLatin1Char('-'));
    text.replace(QChar(0), QLatin1Char('-'));
    return text;
}

// Marks that turn the direction of text let a name show other than it is ("invoice\u202Egpj.png"
// shows as "invoicegnp.jpg"): a result's name carries none.
QString withoutDirectionMarks(QString text)
{
    text.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F
            || u == 0x061C;
    });
    return text;
}

QString fittingBaseName(QString baseName, const QString& extension)
{
    const qsizetype reserved = QStringLiteral(" %1.").arg(OutputPlanner::maximumCandidates)
                                   .toUtf8().size() + extension.toUtf8().size();
    while (!baseName.isEmpty() && baseName.toUtf8().size() + reserved > 255) {
        baseName.chop(baseName.size() >= 2 && baseName.back().isLowSurrogate() ? 2 : 1);
    }
    return baseName;
}

void throwPosix(int code)
{
    throw SystemError::fromErrno(code);
}

// A name in the characters every disk takes: what FAT and exFAT refuse (< > : " \ | ? * and
// control characters, a trailing dot or space) becomes "_".
QString portableComponent(QString text)
{
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || QStringLiteral("<>:\"\\|?*").contains(c))
            c = QLatin1Char('_');
    }
    while (text.endsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text.isEmpty() ? QStringLiteral("_") : text;
}

QByteArray heldPath(int fd)
{
    return "/proc/self/fd/" + QByteArray::number(fd);
}

bool holdsItem(const QString& path, int fd)
{
    struct stat there {};
    struct stat held {};
    return ::lstat(QFile::encodeName(path).constData(), &there) == 0 && ::fstat(fd, &held) == 0
        && there.st_dev == held.st_dev && there.st_ino == held.st_ino;
}

// Where a held folder is now, for the user to find what was placed in it: its path still, or
// where it went when it was moved away and something else took that path.
QString shownFolder(const QString& folder, int folderFd)
{
    struct stat there {};
    struct stat held {};
    if (folderFd < 0 || ::fstat(folderFd, &held) != 0
        || (::stat(QFile::encodeName(folder).constData(), &there) == 0 && there.st_dev == held.st_dev
            && there.st_ino == held.st_ino))
        return folder;
    char target[PATH_MAX];
    const ssize_t length = ::readlink(heldPath(folderFd).constData(), target, sizeof target);
    if (length <= 0 || length == ssize_t(sizeof target) || target[0] != '/')
        return folder;
    return QFile::decodeName(QByteArray(target, length));
}

// A new file at target with what the file held by fd holds, written whole or not at all (the
// caller removes what is left); 0 or the errno value.
int copyHeldFile(int fd, const QByteArray& target)
{
    const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, PlainTree::fileMode());
    if (out < 0)
        return errno;
    int error = 0;
    off_t offset = 0;
    bool inKernel = true;
    char buffer[1 << 16];
    for (;;) {
        ssize_t done;
        if (inKernel) {
            done = ::copy_file_range(fd, &offset, out, nullptr, std::size_t(1) << 30, 0);
            if (done < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                inKernel = false;
                continue;
            }
        } else {
            done = ::pread(fd, buffer, sizeof buffer, offset);
            if (done > 0) {
                for (ssize_t written = 0; written < done;) {
                    const ssize_t step = ::write(out, buffer + written, std::size_t(done - written));
                    if (step < 0 && errno == EINTR)
                        continue;
                    if (step <= 0) {
                        error = step < 0 ? errno : EIO;
                        break;
                    }
                    written += step;
                }
                offset += done;
            }
        }
        if (error)
            break;
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0) {
            error = errno;
            break;
        }
        if (done == 0)
            break;
    }
    if (::close(out) != 0 && !error)
        error = errno;
    return error;
}

// The files, folders and links below a folder, as the application's walk counts them; links
// are not followed.
qint64 entriesBelow(const QString& folder)
{
    QByteArray path = QFile::encodeName(folder);
    char* roots[] = {path.data(), nullptr};
    FTS* walk = ::fts_open(roots, FTS_PHYSICAL | FTS_NOSTAT | FTS_NOCHDIR, nullptr);
    if (!walk)
        throwPosix(errno);
    qint64 count = 0;
    while (const FTSENT* entry = ::fts_read(walk)) {
        if (entry->fts_level > 0 && entry->fts_info != FTS_DP)
            ++count;
    }
    const int error = errno;
    ::fts_close(walk);
    if (error != 0)
        throwPosix(error);
    return count;
}

} // namespace

struct OutputPlanner::Staging {
    QString folder;
    std::mutex lock;
    QList<WorkerProtocol::StagedResult> results;
};

OutputPlanner::OutputPlanner(const QUrl& source, const SettingsSnapshot& settings, std::shared_ptr<JobNotes> notes,
                             const QString& itemFolder)
    : m_source(source)
    , m_settings(settings)
    , m_staging(std::make_shared<Staging>())
    , m_sourceIsTemporary(isInsideTemporaryRoot(source))
    , m_notes(std::move(notes))
    , m_writeAccess(&WriteAccessProbe::system())
    , m_clock(&Clock::system())
{
    m_staging->folder = QDir::cleanPath(itemFolder);
    m_work = WorkFolder::make(m_staging->folder + QStringLiteral("/work"));
}

QList<WorkerProtocol::StagedResult> OutputPlanner::staged() const
{
    if (!m_staging)
        return {};
    std::lock_guard locker(m_staging->lock);
    return m_staging->results;
}

QUrl OutputPlanner::stage(const QUrl& file, const QString& baseName, const QString& extension) const
{
    std::lock_guard locker(m_staging->lock);
    const QString folder = m_staging->folder + QStringLiteral("/result-%1").arg(m_staging->results.size() + 1);
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0)
        throwPosix(errno);
    const QString ext = safeComponent(extension);
    const QString target = folder + QLatin1Char('/')
        + candidateName(fittingBaseName(safeComponent(baseName), ext).isEmpty() ? QStringLiteral("result")
                                                                                 : fittingBaseName(safeComponent(baseName), ext),
                        ext, 1);
    const QString given = file.toLocalFile();
    if (const int moved = ExclusiveRename::move(given, target)) {
        if (moved != EXDEV)
            throwPosix(moved);
        if (const int error = FileItems::copy(given, target))
            throwPosix(error);
        FileItems::remove(given);
    }
    // A folder goes with the count of what it holds, which the application holds it to.
    std::optional<qint64> entries;
    struct stat status {};
    if (::lstat(QFile::encodeName(target).constData(), &status) == 0 && S_ISDIR(status.st_mode))
        entries = entriesBelow(target);
    m_staging->results.append({target, baseName, extension, entries});
    return QUrl::fromLocalFile(target);
}

OutputPlanner::OutputPlanner(const QUrl& source, const SettingsSnapshot& settings,
                             std::shared_ptr<JobNotes> notes,
                             const WriteAccessProbe& writeAccess, const Clock& clock)
    : m_source(source)
    , m_settings(settings)
    , m_sourceIsTemporary(isInsideTemporaryRoot(source))
    , m_notes(std::move(notes))
    , m_writeAccess(&writeAccess)
    , m_clock(&clock)
{
    const Destination destination = resolveDestination();
    // Better to fail before the work than after a long conversion.
    if (destination.isChosenFolder && !isFolder(destination.folder))
        throw EngineError(missingOutputFolder, destination.folder);
    m_work = WorkFolder::create(destination.folder);
}

QUrl OutputPlanner::workDirectory() const
{
    return QUrl::fromLocalFile(m_work->path());
}

QString OutputPlanner::fallbackPath() const
{
    if (m_settings.fallbackFolder.isLocalFile() && !m_settings.fallbackFolder.toLocalFile().isEmpty())
        return cleanFolder(m_settings.fallbackFolder);
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
}

OutputPlanner::Destination OutputPlanner::resolveDestination() const
{
    if (m_settings.saveLocation == SaveLocation::folder && m_settings.outputFolder
        && m_settings.outputFolder->isLocalFile()
        && !m_settings.outputFolder->toLocalFile().isEmpty())
        return {cleanFolder(*m_settings.outputFolder), true, {}};
    if (m_sourceIsTemporary)
        return {fallbackPath(), false, {}};
    const QString parent = QFileInfo(QDir::cleanPath(m_source.toLocalFile())).absolutePath();
    if (m_writeAccess->canWrite(parent))
        return {parent, false, {}};
    return {fallbackPath(), false, parent};
}

QUrl OutputPlanner::destinationFolder() const
{
    return QUrl::fromLocalFile(resolveDestination().folder);
}

QUrl OutputPlanner::workURL(const QString& extension, const QString& name) const
{
    QString fileName = safeComponent(name);
    if (!extension.isEmpty())
        fileName += QLatin1Char('.') + safeComponent(extension);
    return QUrl::fromLocalFile(m_work->path() + QLatin1Char('/') + fileName);
}

QString OutputPlanner::outputBaseName(const std::optional<QString>& suffix,
                                      const std::optional<QString>& baseName) const
{
    // A folder's URL may end in a slash, where QUrl::fileName() is empty.
    QString base = baseName ? *baseName
                            : splitFileName(QFileInfo(cleanFolder(m_source)).fileName()).baseName;
    if (suffix && !suffix->isEmpty())
        base += QStringLiteral(" (") + *suffix + QLatin1Char(')');
    return base;
}

QUrl OutputPlanner::makeWorkSubdirectory(const QString& name) const
{
    const QString folder = m_work->path() + QLatin1Char('/') + name;
    if (const int error = FileItems::makePath(folder, 0700))
        throwPosix(error);
    return QUrl::fromLocalFile(folder);
}

QUrl OutputPlanner::deliver(const QUrl& file, const QString& baseName,
                            const QString& extension) const
{
    if (m_staging)
        return stage(file, baseName, extension);
    return deliverWith(
        [this, file](const QUrl& folder, int, const QString& base, const QString& ext) {
            return placeResult(file, folder, base, ext, preparer());
        },
        baseName, extension);
}

QUrl OutputPlanner::deliverHeld(const HeldResult& result, const QString& baseName, const QString& extension) const
{
    return deliverWith(
        [this, &result](const QUrl& folder, int folderFd, const QString& base, const QString& ext) {
            return placeHeldResult(result, folder, folderFd, base, ext, [this](int fd) { preserveAttributes(fd); },
                                   preparer());
        },
        baseName, extension);
}

void OutputPlanner::holdDestination(int folderFd)
{
    m_heldDestination = folderFd;
    m_heldFolder = folderFd >= 0 ? resolveDestination().folder : QString();
}

QUrl OutputPlanner::deliverWith(const Placer& place, const QString& baseName, const QString& extension) const
{
    const Destination destination = resolveDestination();
    if (!destination.refusedFolder.isEmpty()
        && destination.refusedFolder != destination.folder)
        return deliverToFallback(place, baseName, extension, destination.refusedFolder);

    if (destination.isChosenFolder && !isFolder(destination.folder))
        throw EngineError(missingOutputFolder, destination.folder);
    // The fallback folder (Downloads as a rule) is ours to make when it is missing.
    if (!destination.isChosenFolder && destination.folder == fallbackPath()) {
        if (const int error = FileItems::makePath(destination.folder))
            throwPosix(error);
    }
    // The folder held since the item started is the one meant, whatever its path names now.
    const int held = m_heldDestination >= 0 && destination.folder == m_heldFolder ? m_heldDestination : -1;
    try {
        const QUrl placed = place(QUrl::fromLocalFile(destination.folder), held, withoutDirectionMarks(baseName),
                                  withoutDirectionMarks(extension));
        const QString wanted = candidateName(withoutDirectionMarks(baseName), withoutDirectionMarks(extension), 1);
        const QString got = placed.fileName();
        // Renamed when the name had characters such a disk refuses and lost them.
        if (m_notes && wanted != portableComponent(wanted) && portableComponent(got) == got)
            m_notes->addMessage(QStringLiteral("Saved as \u201C%1\u201D: this disk can't hold the name \u201C%2\u201D")
                                    .arg(got, wanted));
        return placed;
    } catch (const SystemError& error) {
        const int code = posixCodeOfError(error).value_or(0);
        // The folder went away while the item ran.
        if (destination.isChosenFolder && code == ENOENT && !isFolder(destination.folder))
            throw EngineError(missingOutputFolder, destination.folder);
        if (!isPermissionError(code) || destination.folder == fallbackPath())
            throw;
        return deliverToFallback(place, baseName, extension, destination.folder);
    }
}

QUrl OutputPlanner::deliverToFallback(const Placer& place, const QString& baseName,
                                      const QString& extension,
                                      const QString& refusedFolder) const
{
    const QString fallback = fallbackPath();
    if (const int error = FileItems::makePath(fallback))
        throwPosix(error);
    const int held = m_heldDestination >= 0 && fallback == m_heldFolder ? m_heldDestination : -1;
    const QUrl result = place(QUrl::fromLocalFile(fallback), held, withoutDirectionMarks(baseName),
                              withoutDirectionMarks(extension));
    const QString message = QStringLiteral("Saved to ") + QFileInfo(fallback).fileName()
        + QStringLiteral(": no permission to write in ") + QFileInfo(refusedFolder).fileName();
    qCInfo(jobsLog).noquote() << message << "(" << refusedFolder << ")";
    if (m_notes)
        m_notes->addMessage(message);
    return result;
}

std::function<void(const QString&)> OutputPlanner::preparer() const
{
    return [this](const QString& item) { preserveAttributes(QUrl::fromLocalFile(item)); };
}

OutputPlanner::Inherited OutputPlanner::inherited() const
{
    const QString source = m_source.toLocalFile();
    Inherited given;
    if (!m_sourceIsTemporary)
        given.tags = FileAttributes::tags(source);
    std::optional<FileAttributes::Dates> dates;
    if (m_settings.preserveDates && !m_sourceIsTemporary)
        dates = FileAttributes::dates(source);
    if (!dates) {
        const QDateTime now = m_clock->now();
        dates = FileAttributes::Dates{now, now};
    }
    given.dates = *dates;
    return given;
}

void OutputPlanner::preserveAttributes(const QUrl& result) const
{
    const QString path = result.toLocalFile();
    const Inherited given = inherited();
    if (!given.tags.isEmpty())
        FileAttributes::setTags(path, given.tags);
    FileAttributes::setDates(path, given.dates);
}

void OutputPlanner::preserveAttributes(int fd) const
{
    const Inherited given = inherited();
    if (!given.tags.isEmpty())
        FileAttributes::setTags(fd, given.tags);
    FileAttributes::setDates(fd, given.dates);
}

void OutputPlanner::removeWorkDirectory() const
{
    m_work->remove();
}

QUrl OutputPlanner::makeTemporaryDirectory(const QString& prefix)
{
    return PrivateFolder::make(prefix);
}

void OutputPlanner::removeTemporaryDirectory(const QUrl& folder)
{
    PrivateFolder::remove(folder);
}

void OutputPlanner::releaseTemporaryDirectory(const QUrl& folder)
{
    PrivateFolder::release(folder);
}

QString OutputPlanner::candidateName(const QString& baseName, const QString& extension, int k)
{
    QString name = baseName;
    if (k >= 2)
        name += QLatin1Char(' ') + QString::number(k);
    if (!extension.isEmpty())
        name += QLatin1Char('.') + extension;
    return name;
}

QUrl placeResult(const QUrl& file, const QUrl& destinationFolder, const QString& baseName,
                 const QString& extension, const std::function<void(const QString&)>& prepare)
{
    const QString given = file.toLocalFile();
    const QString folder = cleanFolder(destinationFolder);
    QString ext = safeComponent(extension);
    QString base = fittingBaseName(safeComponent(baseName), ext);
    bool portable = false;

    QString moving = given;
    QString copy; // the in-flight copy on the destination's filesystem, once made
    const auto dropCopy = [&copy] {
        if (!copy.isEmpty())
            FileItems::remove(copy);
    };

    // Set while the item is still ours alone, so it is whole from the moment it shows.
    if (prepare)
        prepare(given);
    for (int k = 1; k <= OutputPlanner::maximumCandidates; ++k) {
        const QString candidate =
            folder + QLatin1Char('/') + OutputPlanner::candidateName(base, ext, k);
        int error = ExclusiveRename::move(moving, candidate);
        if (error == EXDEV && copy.isEmpty()) {
            copy = folder + QStringLiteral("/.quorvenda-")
                + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
            WorkerTrail::record(WorkerTrail::Kind::work, copy);
            if (const int copyError = FileItems::copy(given, copy)) {
                dropCopy();
                throwPosix(copyError);
            }
            moving = copy;
            // A copy starts with fresh dates and no tags.
            if (prepare)
                prepare(copy);
            error = ExclusiveRename::move(moving, candidate);
        }
        if (error == 0) {
            WorkerTrail::record(WorkerTrail::Kind::placed, candidate);
            if (!copy.isEmpty())
                FileItems::remove(given);
            return QUrl::fromLocalFile(candidate);
        }
        if (error == EEXIST || error == ENOTEMPTY)
            continue;
        // A disk that refuses the name (a "?" on a FAT stick) takes it in characters it holds.
        // (FUSE's FAT says EPERM where the kernel's says EINVAL.)
        const bool refusable = error == EINVAL || error == EILSEQ || error == ENAMETOOLONG
            || (error == EPERM && portableComponent(base) != base);
        if (refusable && !portable) {
            portable = true;
            ext = portableComponent(ext);
            base = fittingBaseName(portableComponent(base), ext);
            --k;
            continue;
        }
        dropCopy();
        throwPosix(error);
    }
    dropCopy();
    throwPosix(EEXIST);
    return {};
}

QString OutputPlanner::untrustedResultMessage()
{
    return QStringLiteral("The program reading this file misbehaved, so nothing was saved");
}

// Whether the held folder was emptied and removed: a disk that loses a renamed folder's entries
// has them moved one by one into a new folder (ExclusiveRename).
static bool movedByEntries(const HeldResult& result)
{
    struct stat status {};
    if (::fstatat(result.folderFd, result.name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
        return false;
    const int listed = ::openat(result.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0)
        return errno == ENOENT;
    DIR* folder = ::fdopendir(listed);
    if (!folder) {
        ::close(listed);
        return false;
    }
    bool empty = true;
    while (const dirent* entry = ::readdir(folder))
        empty = empty && (qstrcmp(entry->d_name, ".") == 0 || qstrcmp(entry->d_name, "..") == 0);
    ::closedir(folder);
    return empty;
}

QUrl placeHeldResult(const HeldResult& result, const QUrl& destinationFolder, int folderFd, const QString& baseName,
                     const QString& extension, const std::function<void(int)>& attributes,
                     const std::function<void(const QString&)>& prepare)
{
    const QString folder = cleanFolder(destinationFolder);
    // What every call below resolves: the held folder itself where there is one.
    const QString through = folderFd >= 0 ? QFile::decodeName(heldPath(folderFd)) : folder;
    QString ext = safeComponent(extension);
    QString base = fittingBaseName(safeComponent(baseName), ext);
    const auto candidateAt = [&](int k) { return OutputPlanner::candidateName(base, ext, k); };
    const auto placedAs = [&](const QString& name) {
        const QString shown = shownFolder(folder, folderFd) + QLatin1Char('/') + name;
        WorkerTrail::record(WorkerTrail::Kind::placed, shown);
        return QUrl::fromLocalFile(shown);
    };
    // A disk that refuses the name (a "?" on a FAT stick) takes it in characters it holds, once.
    bool portable = false;
    const auto takePortableName = [&](int error) {
        const bool refusable = error == EINVAL || error == EILSEQ || error == ENAMETOOLONG
            || (error == EPERM && portableComponent(base) != base);
        if (!refusable || portable)
            return false;
        portable = true;
        ext = portableComponent(ext);
        base = fittingBaseName(portableComponent(base), ext);
        return true;
    };
    // The entry in the work folder, reached through the folder's descriptor.
    const QString entry = QFile::decodeName(heldPath(result.folderFd) + '/' + result.name);
    QString hidden; // the in-flight item in the destination, once there
    const auto dropHidden = [&hidden] {
        if (!hidden.isEmpty())
            FileItems::remove(hidden);
    };
    const auto makeHidden = [&] {
        const QString name = QStringLiteral(".quorvenda-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        hidden = through + QLatin1Char('/') + name;
        WorkerTrail::record(WorkerTrail::Kind::work, folder + QLatin1Char('/') + name);
    };

    if (!result.isFolder) {
        // The held file itself where nothing of the process that made it is left, else a copy:
        // that process could still change its own file after the result is placed.
        // copy_file_range shares the blocks where the disk can.
        makeHidden();
        bool linked = false;
        if (result.makerGone) {
            if (::linkat(AT_FDCWD, heldPath(result.fd).constData(), AT_FDCWD, QFile::encodeName(hidden).constData(),
                         AT_SYMLINK_FOLLOW) == 0) {
                linked = true;
            } else if (errno != EXDEV && errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != ENOSYS) {
                const int error = errno;
                dropHidden();
                throwPosix(error);
            }
        }
        if (!linked) {
            if (const int copyError = copyHeldFile(result.fd, QFile::encodeName(hidden))) {
                dropHidden();
                throwPosix(copyError);
            }
        }
        if (linked && attributes) {
            attributes(result.fd);
        } else if (attributes) {
            const int copy = ::open(QFile::encodeName(hidden).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (copy >= 0) {
                attributes(copy);
                ::close(copy);
            }
        }
        for (int k = 1; k <= OutputPlanner::maximumCandidates; ++k) {
            const QString candidate = candidateAt(k);
            const int error = ExclusiveRename::move(hidden, through + QLatin1Char('/') + candidate);
            if (error == 0)
                return placedAs(candidate);
            if (error == EEXIST || error == ENOTEMPTY)
                continue;
            if (takePortableName(error)) {
                --k;
                continue;
            }
            dropHidden();
            throwPosix(error);
        }
        dropHidden();
        throwPosix(EEXIST);
    }

    // A folder cannot be linked: it is moved out of the other process's reach under a hidden
    // name first, and what arrived is checked to be what was held before anything in it is used.
    makeHidden();
    int error = ExclusiveRename::move(entry, hidden);
    if (error == EXDEV)
        error = FileItems::copy(QFile::decodeName(heldPath(result.fd) + "/."), hidden);
    else if (error == 0 && !holdsItem(hidden, result.fd) && !movedByEntries(result)) {
        dropHidden();
        throw EngineError(OutputPlanner::untrustedResultMessage(),
                          QStringLiteral("Its result was replaced while it was being saved"));
    }
    if (error != 0) {
        dropHidden();
        throwPosix(error);
    }
    {
        const int arrived = ::open(QFile::encodeName(hidden).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const std::optional<QString> problem =
            arrived < 0 ? std::optional<QString>(QStringLiteral("Its result could not be opened")) : PlainTree::makePlain(arrived, result.owner, result.mostEntries);
        if (arrived >= 0)
            ::close(arrived);
        if (problem) {
            dropHidden();
            throw EngineError(OutputPlanner::untrustedResultMessage(), *problem);
        }
    }
    if (prepare)
        prepare(hidden);
    for (int k = 1; k <= OutputPlanner::maximumCandidates; ++k) {
        const QString candidate = candidateAt(k);
        const int moved = ExclusiveRename::move(hidden, through + QLatin1Char('/') + candidate);
        if (moved == 0)
            return placedAs(candidate);
        if (moved == EEXIST || moved == ENOTEMPTY)
            continue;
        if (takePortableName(moved)) {
            --k;
            continue;
        }
        dropHidden();
        throwPosix(moved);
    }
    dropHidden();
    throwPosix(EEXIST);
    return {};
}

} // namespace qv
