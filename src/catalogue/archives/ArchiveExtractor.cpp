#include "catalogue/archives/ArchiveExtractor.h"

#include "catalogue/archives/ArchiveOutputFile.h"
#include "catalogue/archives/ArchiveReader.h"
#include "catalogue/archives/ArchiveSpace.h"
#include "catalogue/archives/GzipCheck.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <sys/statvfs.h>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

const QString ArchiveExtractor::outsideMessage =
    QStringLiteral("This archive holds items that would land outside its folder");
const QString ArchiveExtractor::nameTooLongMessage = QStringLiteral("A name in this archive is longer than this disk allows");
const QString ArchiveExtractor::tooManyFilesMessage =
    QStringLiteral("This archive holds more files than the disk has room for");

namespace {

// More hops than this is a loop of links.
constexpr int maximumLinkHops = 40;

struct WriteDiskFree {
    void operator()(archive* a) const { archive_write_free(a); }
};

bool isSymbolicLink(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::optional<QString> readLink(const QString& path)
{
    QByteArray buffer(4096, Qt::Uninitialized);
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), buffer.data(),
                                      size_t(buffer.size()));
    if (length < 0 || length >= buffer.size())
        return std::nullopt;
    buffer.truncate(length);
    return QFile::decodeName(buffer);
}

// Folders below the root, by relative path, that this extraction made or found to be folders
// and not links. A later entry that writes anything else at one of them forgets them all.
using KnownFolders = QSet<QString>;

// The relative paths of the folders on the way to relative (not the item itself), outermost first.
QStringList foldersOnTheWay(const QString& relative)
{
    QStringList folders;
    for (qsizetype at = relative.indexOf(QLatin1Char('/')); at > 0; at = relative.indexOf(QLatin1Char('/'), at + 1))
        folders.append(relative.left(at));
    return folders;
}

// True when a folder on the way to root/relative (not the item itself) is a link: writing
// there would land wherever the link points.
bool passesThroughLink(const QString& root, const QString& relative, KnownFolders& known)
{
    for (const QString& folder : foldersOnTheWay(relative)) {
        if (known.contains(folder))
            continue;
        struct stat st {};
        if (::lstat(QFile::encodeName(root + QLatin1Char('/') + folder).constData(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode))
            return true;
        if (S_ISDIR(st.st_mode))
            known.insert(folder);
    }
    return false;
}

// Anything but a folder is about to be written at relative.
void forgetIfFolder(KnownFolders& known, const QString& relative)
{
    if (known.contains(relative))
        known.clear();
}

[[noreturn]] void writeFailure(archive* disk, const QString& name)
{
    const char* text = archive_error_string(disk);
    const QString message = QString::fromUtf8(text ? text : "Write failed");
    const int code = archive_errno(disk);
    qCWarning(enginesLog) << "Extracting" << name << "failed:" << message;
    if (code > 0 && code != EILSEQ)
        throw SystemError::fromErrno(code, name);
    throw ArchiveReadError(message);
}

} // namespace

std::optional<QString> ArchiveExtractor::relativeEntryPath(const QString& name)
{
    if (name.startsWith(QLatin1Char('/')))
        return std::nullopt;
    QStringList kept;
    for (const QString& part : name.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            return std::nullopt;
        kept.append(part);
    }
    return kept.join(QLatin1Char('/'));
}

QString linksLeftOutNote(int count)
{
    if (count <= 0)
        return {};
    if (count == 1)
        return QStringLiteral("1 link pointing outside the archive was left out");
    return QStringLiteral("%1 links pointing outside the archive were left out").arg(count);
}

QString namelessEntriesNote(int count)
{
    if (count <= 0)
        return {};
    if (count == 1)
        return QStringLiteral("1 item without a name was saved under the archive's name");
    return QStringLiteral("%1 items without names were saved under the archive's name").arg(count);
}

namespace {

// An entry's name in quotes for a note: at most a line's worth, without quotes of its own, so
// that the application can tell the note's words from the archive's.
QString quotedName(QString name)
{
    constexpr qsizetype longest = 64;
    name.replace(QChar(0x201C), QLatin1Char('"')).replace(QChar(0x201D), QLatin1Char('"'));
    name.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (name.size() > longest)
        name = name.left(longest - 1) + QChar(0x2026);
    return QChar(0x201C) + name + QChar(0x201D);
}

// The first three names quoted, and how many more.
QString quotedList(const QStringList& names)
{
    constexpr qsizetype named = 3;
    QStringList quoted;
    for (const QString& name : names.mid(0, named))
        quoted.append(quotedName(name));
    QString list = quoted.join(QStringLiteral(", "));
    if (names.size() > named)
        list += QStringLiteral(" and %1 more").arg(names.size() - named);
    return list;
}

} // namespace

QString specialsLeftOutNote(const QStringList& names)
{
    if (names.isEmpty())
        return {};
    const QString list = quotedList(names);
    if (names.size() == 1)
        return QStringLiteral("%1 was left out: devices, pipes and sockets are not extracted").arg(list);
    return QStringLiteral("%1 were left out: devices, pipes and sockets are not extracted").arg(list);
}

QString renamedEntriesNote(const QList<std::pair<QString, QString>>& renamed)
{
    if (renamed.isEmpty())
        return {};
    if (renamed.size() == 1)
        return QStringLiteral("%1 was saved as %2: this disk can't hold its name")
            .arg(quotedName(renamed.first().first), quotedName(renamed.first().second));
    constexpr qsizetype named = 3;
    QStringList pairs;
    for (qsizetype i = 0; i < std::min(named, renamed.size()); ++i)
        pairs.append(QStringLiteral("%1 as %2").arg(quotedName(renamed[i].first), quotedName(renamed[i].second)));
    QString list = pairs.join(QStringLiteral(", "));
    if (renamed.size() > named)
        list += QStringLiteral(" and %1 more").arg(renamed.size() - named);
    return QStringLiteral("%1 items were saved under other names, as this disk can't hold theirs: %2")
        .arg(renamed.size())
        .arg(list);
}

QString copiedLinksNote(const QStringList& names)
{
    if (names.isEmpty())
        return {};
    const QString list = quotedList(names);
    if (names.size() == 1)
        return QStringLiteral("%1 was saved as a copy of what it links to: this disk has no links").arg(list);
    return QStringLiteral("%1 were saved as copies of what they link to: this disk has no links").arg(list);
}

QString ArchiveExtractor::portablePath(const QString& relative)
{
    // Bytes of a name: most disks hold 255; a little less leaves room for " (2)".
    constexpr qsizetype longest = 240;
    QStringList parts = relative.split(QLatin1Char('/'));
    for (QString& part : parts) {
        for (QChar& c : part) {
            if (c.unicode() < 0x20 || QStringLiteral("<>:\"\\|?*").contains(c))
                c = QLatin1Char('_');
        }
        qsizetype end = part.size();
        while (end > 0 && (part[end - 1] == QLatin1Char('.') || part[end - 1] == QLatin1Char(' ')))
            --end;
        for (qsizetype i = end; i < part.size(); ++i)
            part[i] = QLatin1Char('_');
        if (part.toUtf8().size() > longest) {
            const qsizetype dot = part.lastIndexOf(QLatin1Char('.'));
            const QString extension = dot > 0 && part.size() - dot <= 16 ? part.mid(dot) : QString();
            QString stem = part.left(part.size() - extension.size());
            while (!stem.isEmpty() && (stem + extension).toUtf8().size() > longest)
                stem.chop(stem.size() >= 2 && stem[stem.size() - 1].isLowSurrogate() ? 2 : 1);
            part = stem + extension;
        }
    }
    return parts.join(QLatin1Char('/'));
}

bool ArchiveExtractor::linkStaysInside(const QString& root, const QString& linkPath,
                                       const QString& target)
{
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')))
        return false;
    // Resolve as the kernel would, but with root as the top: a ".." above it leads out.
    QStringList folder = linkPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!folder.isEmpty())
        folder.removeLast();
    QStringList pending = target.split(QLatin1Char('/'));
    int hops = 0;
    while (!pending.isEmpty()) {
        const QString part = pending.takeFirst();
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (folder.isEmpty())
                return false;
            folder.removeLast();
            continue;
        }
        const QString candidate = root + QLatin1Char('/') + (folder + QStringList{part}).join(QLatin1Char('/'));
        if (isSymbolicLink(candidate)) {
            const std::optional<QString> next = readLink(candidate);
            if (++hops > maximumLinkHops || !next || next->isEmpty()
                || next->startsWith(QLatin1Char('/')))
                return false;
            pending = next->split(QLatin1Char('/')) + pending;
            continue;
        }
        folder.append(part);
    }
    return true;
}

int ArchiveExtractor::removeEscapingLinks(const QString& root)
{
    int removed = 0;
    QStringList folders{QString()};
    while (!folders.isEmpty()) {
        const QString relativeFolder = folders.takeLast();
        const QString folderPath = relativeFolder.isEmpty() ? root : root + QLatin1Char('/') + relativeFolder;
        const QStringList names = QDir(folderPath).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            const QString relative = relativeFolder.isEmpty() ? name : relativeFolder + QLatin1Char('/') + name;
            const QString path = root + QLatin1Char('/') + relative;
            struct stat st {};
            if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode)) {
                folders.append(relative);
            } else if (S_ISLNK(st.st_mode)) {
                const std::optional<QString> target = readLink(path);
                if (!target || !linkStaysInside(root, relative, *target)) {
                    qCWarning(enginesLog) << "Removed link" << relative << "that leads out to"
                                          << target.value_or(QString());
                    ::unlink(QFile::encodeName(path).constData());
                    ++removed;
                }
            }
        }
    }
    return removed;
}

namespace {

enum class EntryKind { folder, file, symlink, hardlink, special };

EntryKind kindOf(archive_entry* entry, const QString& hardlink)
{
    if (!hardlink.isEmpty())
        return EntryKind::hardlink;
    switch (archive_entry_filetype(entry)) {
    // An entry without type bits (a 7z entry written without Unix attributes) holds a file's
    // data, as other extractors take it.
    case 0:
    case AE_IFREG: return EntryKind::file;
    case AE_IFDIR: return EntryKind::folder;
    case AE_IFLNK: return EntryKind::symlink;
    default: return EntryKind::special;
    }
}

// A file or link without a name, where the format gives every entry one, is a damaged header,
// not the folder itself.
void refuseNamelessFile(EntryKind kind)
{
    if (kind != EntryKind::folder && kind != EntryKind::special)
        throw ArchiveReadError(QStringLiteral("An entry has no name"));
}

bool countsAsItem(EntryKind kind, const QString& relative)
{
    return kind != EntryKind::folder && kind != EntryKind::special
        && !relative.contains(QLatin1String("__MACOSX"));
}

std::optional<qint64> declaredSize(archive_entry* entry)
{
    if (!archive_entry_size_is_set(entry))
        return std::nullopt;
    return std::max<qint64>(archive_entry_size(entry), 0);
}

// Where an entry's blocks may land: in order, never past the size the entry declares, and
// without gaps unless the entry is sparse. Offsets that jump about would otherwise leave holes
// that read back as zeros.
class EntryExtent {
public:
    EntryExtent(std::optional<qint64> declared, bool sparse)
        : m_declared(declared), m_sparse(sparse) {}

    void accept(qint64 offset, std::size_t size)
    {
        if (offset < m_end || (!m_sparse && offset != m_end))
            throw ArchiveReadError(QStringLiteral("Entry data out of order at %1").arg(offset));
        const qint64 blockEnd = offset + qint64(size);
        if (m_declared && blockEnd > *m_declared)
            throw ArchiveReadError(QStringLiteral("Entry holds more data than the %1 bytes it declares")
                                       .arg(*m_declared));
        m_end = blockEnd;
    }

    // The entry's full size, given the end the format reported after its last block.
    qint64 finish(qint64 reportedEnd) const
    {
        if (!m_declared)
            return m_end;
        // A sparse entry may end in a hole, which its format reports as the end.
        const bool trailingHole = m_sparse && reportedEnd == *m_declared;
        if (m_end != *m_declared && !trailingHole)
            throw ArchiveReadError(QStringLiteral("Entry data ends after %1 of %2 bytes")
                                       .arg(m_end)
                                       .arg(*m_declared));
        return *m_declared;
    }

private:
    std::optional<qint64> m_declared;
    bool m_sparse;
    qint64 m_end = 0;
};

std::optional<timespec> modifiedTime(archive_entry* entry)
{
    if (!archive_entry_mtime_is_set(entry))
        return std::nullopt;
    return timespec{archive_entry_mtime(entry), archive_entry_mtime_nsec(entry)};
}

std::optional<timespec> accessedTime(archive_entry* entry)
{
    if (!archive_entry_atime_is_set(entry))
        return std::nullopt;
    return timespec{archive_entry_atime(entry), archive_entry_atime_nsec(entry)};
}

// Creates the folders on the way to root/relative. Links on the way were refused before; a
// file in the way gives way to the folder, as a later entry wins.
void makeFolders(const QString& root, const QString& relative, KnownFolders& known)
{
    for (const QString& folder : foldersOnTheWay(relative)) {
        if (known.contains(folder))
            continue;
        const QString path = root + QLatin1Char('/') + folder;
        const QByteArray encoded = QFile::encodeName(path);
        struct stat st {};
        const bool exists = ::lstat(encoded.constData(), &st) == 0;
        if (!(exists && S_ISDIR(st.st_mode))) {
            if (exists && ::unlink(encoded.constData()) != 0)
                throw SystemError::fromErrno(errno, path);
            if (::mkdir(encoded.constData(), 0777) != 0)
                throw SystemError::fromErrno(errno, path);
        }
        known.insert(folder);
    }
}

void removeLinkAt(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(encoded.constData(), &st) == 0 && S_ISLNK(st.st_mode) && ::unlink(encoded.constData()) != 0)
        throw SystemError::fromErrno(errno, path);
}

bool exists(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// Whether a write failed for the name: a disk that refuses its characters or its length.
bool refusesName(int code)
{
    return code == EINVAL || code == ENAMETOOLONG || code == EILSEQ;
}

// The names an extraction gave its files, so that an entry whose name the disk folds onto an
// earlier one's ("Read.me", "READ.ME" on FAT) is told from the same name given twice, and both
// are kept.
class EntryNames {
public:
    // Where an entry at relative goes: its own name, unless something this extraction made
    // under another name stands there.
    QString forEntry(const QString& top, const QString& relative, ExtractionSummary& summary)
    {
        if (m_made.contains(relative) || !exists(top + QLatin1Char('/') + relative))
            return relative;
        return freeName(top, relative, relative, summary);
    }

    // The name after the disk refused relative's.
    QString afterRefusal(const QString& top, const QString& relative, ExtractionSummary& summary)
    {
        return freeName(top, ArchiveExtractor::portablePath(relative), relative, summary);
    }

    void made(const QString& relative) { m_made.insert(relative); }

private:
    QString freeName(const QString& top, const QString& wanted, const QString& original, ExtractionSummary& summary)
    {
        const auto taken = [&](const QString& name) {
            return m_made.contains(name) || exists(top + QLatin1Char('/') + name);
        };
        QString name = wanted;
        const qsizetype slash = wanted.lastIndexOf(QLatin1Char('/'));
        const qsizetype dot = wanted.lastIndexOf(QLatin1Char('.'));
        const qsizetype cut = dot > slash + 1 ? dot : wanted.size();
        for (int n = 2; taken(name); ++n)
            name = wanted.left(cut) + QStringLiteral(" (%1)").arg(n) + wanted.mid(cut);
        summary.renamed.append({original, name});
        return name;
    }

    QSet<QString> m_made;
};

class Extraction {
public:
    Extraction(ArchiveReader& reader, std::stop_token stop, const FractionHandler& onFraction)
        : m_reader(reader), m_stop(std::move(stop)), m_onFraction(onFraction) {}

    void report() const
    {
        if (m_onFraction)
            m_onFraction(m_reader.fractionRead());
    }

    // Reads the current entry's data to its end, checking it, and throws it away.
    void discardData()
    {
        const void* data = nullptr;
        std::size_t size = 0;
        qint64 offset = 0;
        while (m_reader.readBlock(data, size, offset)) {
            throwIfCancelled(m_stop);
            report();
        }
    }

    // Reads the current entry's data into out, counting it against space when given; returns
    // the entry's full size.
    qint64 copyData(archive_entry* entry, ArchiveOutputFile* out, ArchiveSpace* space)
    {
        EntryExtent extent(declaredSize(entry), archive_entry_sparse_count(entry) > 0);
        const void* data = nullptr;
        std::size_t size = 0;
        qint64 offset = 0;
        while (m_reader.readBlock(data, size, offset)) {
            throwIfCancelled(m_stop);
            extent.accept(offset, size);
            if (space)
                space->consume(qint64(size));
            if (out)
                out->write(data, size, offset);
            report();
        }
        return extent.finish(offset);
    }

private:
    ArchiveReader& m_reader;
    std::stop_token m_stop;
    const FractionHandler& m_onFraction;
};

// Whether a link the disk refused is one it cannot make at all (FAT, exFAT), or one more
// name than it keeps for a file.
bool makesNoLinks(int code)
{
    return code == EPERM || code == EOPNOTSUPP || code == ENOSYS || code == EMLINK;
}

// Copies the file at from to a new file at to, its bytes counted against space.
void copyFileTo(const QString& from, const QString& to, ArchiveSpace& space)
{
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        throw SystemError::fromErrno(errno, from);
    const auto closeIn = qScopeGuard([in] { ::close(in); });
    struct stat st {};
    if (::fstat(in, &st) != 0)
        throw SystemError::fromErrno(errno, from);
    space.beginEntry(st.st_size);
    ArchiveOutputFile out(to, (st.st_mode & 0777) | S_IRUSR | S_IWUSR);
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), std::size_t(buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw SystemError::fromErrno(errno, from);
        if (got == 0)
            break;
        space.consume(got);
        out.append(buffer.constData(), std::size_t(got));
    }
    out.finish(out.end(), st.st_mtim, st.st_atim);
}

// Copies a folder's files and folders to a new folder at to.
void copyTreeTo(const QString& from, const QString& to, ArchiveSpace& space)
{
    if (::mkdir(QFile::encodeName(to).constData(), 0777) != 0)
        throw SystemError::fromErrno(errno, to);
    const QStringList names = QDir(from).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        struct stat st {};
        const QString path = from + QLatin1Char('/') + name;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            copyTreeTo(path, to + QLatin1Char('/') + name, space);
        else if (S_ISREG(st.st_mode))
            copyFileTo(path, to + QLatin1Char('/') + name, space);
    }
}

// Where a link at linkPath leads on a disk without links, every name below the root.
std::optional<QString> resolvedWithoutLinks(const QString& linkPath, const QString& target)
{
    QStringList folder = linkPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!folder.isEmpty())
        folder.removeLast();
    for (const QString& part : target.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (folder.isEmpty())
                return std::nullopt;
            folder.removeLast();
            continue;
        }
        folder.append(part);
    }
    return folder.join(QLatin1Char('/'));
}

// A disk's limit named for what it is: a name longer than it takes (after the name was
// shortened as far as it goes), or no room for one more file while bytes are left.
void throwLimitReached(const SystemError& error, const QString& top, const QString& entry)
{
    const QString details = entry.isEmpty() ? QString() : QStringLiteral("Entry name: ") + entry;
    if (error.code() == ENAMETOOLONG)
        throw EngineError(ArchiveExtractor::nameTooLongMessage, details);
    if (error.code() == ENOSPC || error.code() == EDQUOT) {
        struct statvfs disk {};
        const bool bytesLeft = ::statvfs(QFile::encodeName(top).constData(), &disk) == 0
            && qint64(disk.f_bavail) * qint64(disk.f_frsize) >= qint64(1) << 20;
        throw EngineError(bytesLeft ? ArchiveExtractor::tooManyFilesMessage : ArchiveSpace::noRoomMessage, details);
    }
}

// Copies what each link leads to under the link's name, where the disk made no link. A link
// to a link waits for that one; a link to a folder that holds it, or to nothing, is left out.
void copyUncreatedLinks(const QString& top, QList<std::pair<QString, QString>> links, EntryNames& names,
                        ArchiveSpace& space, ExtractionSummary& summary)
{
    QHash<QString, QString> placedAs;
    for (const auto& [from, to] : summary.renamed)
        placedAs.insert(from, to);
    KnownFolders known;
    bool copied = true;
    while (!links.isEmpty() && copied) {
        copied = false;
        for (qsizetype i = 0; i < links.size();) {
            const auto& [relative, target] = links[i];
            std::optional<QString> source = resolvedWithoutLinks(relative, target);
            if (source && placedAs.contains(*source))
                source = placedAs.value(*source);
            struct stat st {};
            const bool found = source && !source->isEmpty()
                && ::lstat(QFile::encodeName(top + QLatin1Char('/') + *source).constData(), &st) == 0
                && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode));
            if (!found || (S_ISDIR(st.st_mode) && (relative + QLatin1Char('/')).startsWith(*source + QLatin1Char('/')))) {
                ++i;
                continue;
            }
            QString placed = names.forEntry(top, relative, summary);
            makeFolders(top, placed, known);
            const QString from = top + QLatin1Char('/') + *source;
            const auto copy = [&](const QString& to) {
                if (S_ISDIR(st.st_mode))
                    copyTreeTo(from, to, space);
                else
                    copyFileTo(from, to, space);
            };
            try {
                copy(top + QLatin1Char('/') + placed);
            } catch (const SystemError& error) {
                if (!refusesName(error.code()) && error.code() != EPERM)
                    throw;
                placed = names.afterRefusal(top, relative, summary);
                makeFolders(top, placed, known);
                copy(top + QLatin1Char('/') + placed);
            }
            names.made(placed);
            placedAs.insert(relative, placed);
            summary.copiedLinks.append(relative);
            links.removeAt(i);
            copied = true;
        }
    }
    for (const auto& link : links)
        qCWarning(enginesLog) << "Left out link" << link.first << "to" << link.second << "on a disk without links";
    summary.linksLeftOut += int(links.size());
}

} // namespace

ExtractionSummary ArchiveExtractor::extract(ArchiveReader& reader, const QString& root,
                                            std::stop_token stop,
                                            const FractionHandler& onFraction,
                                            const QString& ownName)
{
    const QString top = QFileInfo(root).canonicalFilePath();
    if (top.isEmpty())
        throw SystemError::fromErrno(ENOENT, root);
    ArchiveSpace space(top, reader.fileSize());
    // Formats that list their sizes up front are refused before anything is written.
    if (reader.kind() == ArchiveReader::Kind::archive) {
        if (const std::optional<qint64> total = ArchiveReader::declaredTotal(reader.path()))
            space.expectTotal(*total);
    }

    std::unique_ptr<archive, WriteDiskFree> disk(archive_write_disk_new());
    if (!disk)
        throw SystemError::fromErrno(ENOMEM);
    // Folders and symbolic links only; files are written by ArchiveOutputFile. No owner,
    // permission bits beyond the umask, ACL, extended attribute or flag is restored. Absolute
    // names are refused below before they become paths under root, which are absolute
    // themselves. Links on the way are refused below too, with the folders already looked
    // through remembered: libarchive's own link check would walk every name of the absolute
    // path again, from /, for each entry.
    archive_write_disk_set_options(disk.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT);

    Extraction extraction(reader, stop, onFraction);
    ExtractionSummary summary;
    KnownFolders known;
    bool madeLinks = false;
    EntryNames names;
    // Symbolic links the disk could not make, copied once everything they may lead to is there.
    QList<std::pair<QString, QString>> uncreatedLinks;
    QString current; // the entry being written, for a limit's details
    try {
    while (archive_entry* entry = reader.nextEntry()) {
        throwIfCancelled(stop);
        ++summary.entries;
        current.clear();

        QString relative;
        bool nameless = false;
        if (reader.kind() == ArchiveReader::Kind::compressedFile) {
            relative = ownName;
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0666);
        } else {
            const QString name = reader.pathname(entry);
            const std::optional<QString> cleaned = relativeEntryPath(name);
            if (!cleaned)
                throw EngineError(outsideMessage, QStringLiteral("Entry name: ") + name);
            relative = *cleaned;
            nameless = name.isEmpty() && reader.holdsNamelessEntries();
        }

        const QString hardlink = reader.hardlink(entry);
        const EntryKind kind = kindOf(entry, hardlink);
        if (nameless && (kind == EntryKind::file || kind == EntryKind::symlink)) {
            // Each under a name of its own at the top, never over another entry.
            relative = ownName;
            for (int n = 2; exists(top + QLatin1Char('/') + relative); ++n)
                relative = ownName + QStringLiteral(" (%1)").arg(n);
            ++summary.nameless;
        } else if (relative.isEmpty()) {
            refuseNamelessFile(kind);
        }
        // A hard link counts once it is known to lead to something that was made.
        if (kind != EntryKind::hardlink && countsAsItem(kind, relative))
            ++summary.items;
        if (relative.isEmpty() || kind == EntryKind::special) {
            // The root itself, or a device, pipe or socket: nothing to make, but its data is
            // still read so that damage in it is noticed.
            if (kind == EntryKind::special) {
                qCInfo(enginesLog) << "Skipped special file" << relative;
                summary.specialsLeftOut.append(relative);
            }
            extraction.discardData();
            continue;
        }
        current = relative;
        if (passesThroughLink(top, relative, known))
            throw EngineError(outsideMessage, QStringLiteral("Entry name: ") + relative);
        if (kind != EntryKind::folder)
            forgetIfFolder(known, relative);
        const QString path = top + QLatin1Char('/') + relative;
        const std::optional<qint64> declared = declaredSize(entry);

        if (kind == EntryKind::file) {
            space.beginEntry(declared.value_or(0));
            const mode_t permissions = archive_entry_perm(entry) | S_IRUSR | S_IWUSR;
            QString placed = relative;
            std::optional<ArchiveOutputFile> out;
            try {
                // Most names are new: the create itself says when one is taken.
                try {
                    makeFolders(top, relative, known);
                    out.emplace(top + QLatin1Char('/') + relative, permissions, ArchiveOutputFile::Mode::createOnly);
                } catch (const SystemError& error) {
                    if (error.code() != EEXIST)
                        throw;
                    placed = names.forEntry(top, relative, summary);
                    makeFolders(top, placed, known);
                    out.emplace(top + QLatin1Char('/') + placed, permissions);
                }
            } catch (const SystemError& error) {
                // FUSE's FAT says EPERM where the kernel's says EINVAL.
                if (!refusesName(error.code())
                    && !(error.code() == EPERM && ArchiveExtractor::portablePath(relative) != relative))
                    throw;
                placed = names.afterRefusal(top, relative, summary);
                makeFolders(top, placed, known);
                out.emplace(top + QLatin1Char('/') + placed, permissions);
            }
            // A later entry of the name a nameless one took is written beside it, not over it.
            if (!nameless)
                names.made(placed);
            const qint64 size = extraction.copyData(entry, &*out, &space);
            out->finish(size, modifiedTime(entry), accessedTime(entry));
            continue;
        }

        if (kind == EntryKind::hardlink) {
            const std::optional<QString> linked = relativeEntryPath(hardlink);
            if (!linked || linked->isEmpty() || passesThroughLink(top, *linked, known))
                throw EngineError(outsideMessage, QStringLiteral("Link target: ") + hardlink);
            const QString target = top + QLatin1Char('/') + *linked;
            struct stat st {};
            // Only what this extraction made can be linked to; a skipped pipe is not there.
            if (*linked == relative || ::lstat(QFile::encodeName(target).constData(), &st) != 0
                || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) {
                qCInfo(enginesLog) << "Skipped hard link" << relative << "to" << hardlink;
                summary.specialsLeftOut.append(relative);
                extraction.discardData();
                continue;
            }
            if (countsAsItem(kind, relative))
                ++summary.items;
            space.beginEntry(declared.value_or(0));
            makeFolders(top, relative, known);
            const QByteArray encoded = QFile::encodeName(path);
            struct stat existing {};
            if (::lstat(encoded.constData(), &existing) == 0
                && (S_ISDIR(existing.st_mode) ? ::rmdir(encoded.constData())
                                              : ::unlink(encoded.constData()))
                    != 0)
                throw SystemError::fromErrno(errno, path);
            if (::linkat(AT_FDCWD, QFile::encodeName(target).constData(), AT_FDCWD,
                         encoded.constData(), 0)
                != 0) {
                // A disk without hard links holds a copy of the file under the second name.
                const int error = errno;
                if (!makesNoLinks(error) || !S_ISREG(st.st_mode))
                    throw SystemError::fromErrno(error, path);
                copyFileTo(target, path, space);
                summary.copiedLinks.append(relative);
            }
            madeLinks = madeLinks || S_ISLNK(st.st_mode);
            // Some formats carry the shared contents with a later link.
            if (declared.value_or(0) > 0 && S_ISREG(st.st_mode)) {
                ArchiveOutputFile out(path, 0, ArchiveOutputFile::Mode::replaceContents);
                const qint64 size = extraction.copyData(entry, &out, &space);
                out.finish(size, modifiedTime(entry), accessedTime(entry));
            } else {
                extraction.discardData();
            }
            continue;
        }

        QString target;
        if (kind == EntryKind::symlink) {
            // Read as the names are, so a link to an entry whose name was escaped still finds it.
            target = reader.symlink(entry);
            if (!linkStaysInside(top, relative, target)) {
                qCWarning(enginesLog) << "Left out link" << relative << "that leads out to"
                                      << target;
                ++summary.linksLeftOut;
                extraction.discardData();
                continue;
            }
        }

        // Folders and symbolic links. A link standing where one goes gives way to it, as
        // anything else but a folder does; libarchive would take a link to a folder for the folder.
        space.beginEntry(0);
        removeLinkAt(path);
        archive_entry_copy_pathname(entry, QFile::encodeName(path).constData());
        if (kind == EntryKind::symlink)
            archive_entry_copy_symlink(entry, QFile::encodeName(target).constData());
        archive_entry_acl_clear(entry);
        archive_entry_xattr_clear(entry);
        archive_entry_set_size(entry, 0);
        // What is made stays the worker's own to read and walk, whatever the archive said.
        if (kind == EntryKind::folder)
            archive_entry_set_perm(entry, archive_entry_perm(entry) | S_IRWXU);
        else
            madeLinks = true;
        if (archive_write_header(disk.get(), entry) != ARCHIVE_OK) {
            // A disk without symbolic links gets a copy of what the link leads to, once the
            // whole archive is there.
            if (kind == EntryKind::symlink
                && (makesNoLinks(archive_errno(disk.get())) || refusesName(archive_errno(disk.get())))) {
                uncreatedLinks.append({relative, target});
                extraction.discardData();
                archive_write_finish_entry(disk.get());
                continue;
            }
            // A folder whose name the disk refuses is made under one it takes; its files follow
            // it there, as they are renamed the same way.
            if (kind != EntryKind::folder || !refusesName(archive_errno(disk.get())))
                writeFailure(disk.get(), relative);
            const QString placed = names.afterRefusal(top, relative, summary);
            archive_entry_copy_pathname(entry, QFile::encodeName(top + QLatin1Char('/') + placed).constData());
            if (archive_write_header(disk.get(), entry) != ARCHIVE_OK)
                writeFailure(disk.get(), relative);
        }
        extraction.discardData();
        if (archive_write_finish_entry(disk.get()) != ARCHIVE_OK)
            writeFailure(disk.get(), relative);
        extraction.report();
    }
    current.clear();
    copyUncreatedLinks(top, uncreatedLinks, names, space, summary);
    } catch (const SystemError& error) {
        throwLimitReached(error, top, current);
        throw;
    }
    // Folder modes and times are set only now.
    if (archive_write_close(disk.get()) != ARCHIVE_OK)
        writeFailure(disk.get(), top);

    // Links made early can be bent outwards by links made later; check them as they now stand.
    summary.madeLinks = madeLinks;
    if (madeLinks)
        summary.linksLeftOut += removeEscapingLinks(top);
    return summary;
}

ExtractionSummary ArchiveExtractor::extractGzip(const QString& path, const QString& root,
                                                const QString& name, std::stop_token stop,
                                                const FractionHandler& onFraction)
{
    const QString top = QFileInfo(root).canonicalFilePath();
    if (top.isEmpty())
        throw SystemError::fromErrno(ENOENT, root);
    ArchiveSpace space(top, QFileInfo(path).size());
    space.beginEntry(0);
    ArchiveOutputFile out(top + QLatin1Char('/') + name, 0666);
    inflateGzipFile(
        path, stop,
        [&](const char* data, std::size_t size) {
            space.consume(qint64(size));
            out.append(data, size);
        },
        onFraction);
    out.finish(out.end());
    ExtractionSummary summary;
    summary.entries = summary.items = 1;
    return summary;
}

ExtractionSummary ArchiveExtractor::verify(ArchiveReader& reader, std::stop_token stop,
                                           const FractionHandler& onFraction)
{
    // A bomb is no more intact for being read rather than written.
    ArchiveSpace space(reader.fileSize());
    if (reader.kind() == ArchiveReader::Kind::archive) {
        if (const std::optional<qint64> total = ArchiveReader::declaredTotal(reader.path()))
            space.expectTotal(*total);
    }
    Extraction extraction(reader, stop, onFraction);
    ExtractionSummary summary;
    while (archive_entry* entry = reader.nextEntry()) {
        throwIfCancelled(stop);
        ++summary.entries;
        const QString name = reader.kind() == ArchiveReader::Kind::archive ? reader.pathname(entry)
                                                                           : QString();
        const QString hardlink = reader.hardlink(entry);
        const EntryKind kind = kindOf(entry, hardlink);
        if (reader.kind() == ArchiveReader::Kind::archive && !reader.holdsNamelessEntries()
            && relativeEntryPath(name) == QString())
            refuseNamelessFile(kind);
        if (countsAsItem(kind, name))
            ++summary.items;
        if (kind == EntryKind::file) {
            space.beginEntry(declaredSize(entry).value_or(0));
            extraction.copyData(entry, nullptr, &space);
        } else
            extraction.discardData();
    }
    return summary;
}

} // namespace qv
