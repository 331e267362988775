#include "catalogue/ArchiveExtractor.h"

#include "catalogue/ArchiveReader.h"
#include "model/CancellationError.h"
#include "model/EngineError.h"
#include "model/SystemError.h"
#include "model/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

const QString ArchiveExtractor::outsideMessage =
    QStringLiteral("This archive holds items that would land outside its folder");

namespace {

// More hops than this is a loop of links.
constexpr int maximumLinkHops = 40;

struct WriteDiskFree {
    void operator()(archive* a) const { archive_write_free(a); }
};

QString decodedText(const char* utf8, const char* native)
{
    if (utf8)
        return QString::fromUtf8(utf8);
    return native ? QFile::decodeName(native) : QString();
}

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

// True when a folder on the way to root/relative (not the item itself) is a link: writing
// there would land wherever the link points.
bool passesThroughLink(const QString& root, const QString& relative)
{
    const QStringList parts = relative.split(QLatin1Char('/'));
    QString path = root;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += QLatin1Char('/') + parts[i];
        if (isSymbolicLink(path))
            return true;
    }
    return false;
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

ExtractionSummary ArchiveExtractor::extract(ArchiveReader& reader, const QString& root,
                                            std::stop_token stop,
                                            const FractionHandler& onFraction,
                                            const std::optional<QString>& entryName)
{
    std::unique_ptr<archive, WriteDiskFree> disk(archive_write_disk_new());
    if (!disk)
        throw SystemError::fromErrno(ENOMEM);
    // No owner, permission bits beyond the umask, ACL, extended attribute or flag is restored.
    // Absolute names are refused below before they become paths under root, which are
    // absolute themselves; root is resolved so that the link check sees only its own links.
    archive_write_disk_set_options(disk.get(),
                                   ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT
                                       | ARCHIVE_EXTRACT_SECURE_SYMLINKS);

    const QString top = QFileInfo(root).canonicalFilePath();
    if (top.isEmpty())
        throw SystemError::fromErrno(ENOENT, root);
    const auto report = [&] {
        if (onFraction)
            onFraction(reader.fractionRead());
    };

    ExtractionSummary summary;
    while (archive_entry* entry = reader.nextEntry()) {
        throwIfCancelled(stop);
        ++summary.entries;

        QString relative;
        if (entryName) {
            relative = *entryName;
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0666);
        } else {
            const QString name = decodedText(archive_entry_pathname_utf8(entry),
                                             archive_entry_pathname(entry));
            const std::optional<QString> cleaned = relativeEntryPath(name);
            if (!cleaned)
                throw EngineError(outsideMessage, QStringLiteral("Entry name: ") + name);
            relative = *cleaned;
        }

        const auto type = archive_entry_filetype(entry);
        const QString hardlink = decodedText(archive_entry_hardlink_utf8(entry),
                                             archive_entry_hardlink(entry));
        if (type != AE_IFDIR && !relative.contains(QLatin1String("__MACOSX")))
            ++summary.items;
        if (relative.isEmpty())
            continue; // the root itself
        if (hardlink.isEmpty() && type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
            qCInfo(enginesLog) << "Skipped special file" << relative;
            continue;
        }
        if (passesThroughLink(top, relative))
            throw EngineError(outsideMessage, QStringLiteral("Entry name: ") + relative);

        if (!hardlink.isEmpty()) {
            const std::optional<QString> linked = relativeEntryPath(hardlink);
            if (!linked || linked->isEmpty() || passesThroughLink(top, *linked))
                throw EngineError(outsideMessage, QStringLiteral("Link target: ") + hardlink);
            archive_entry_copy_hardlink(
                entry, QFile::encodeName(top + QLatin1Char('/') + *linked).constData());
        } else if (type == AE_IFLNK) {
            const QString target = decodedText(archive_entry_symlink_utf8(entry),
                                               archive_entry_symlink(entry));
            if (!linkStaysInside(top, relative, target)) {
                qCWarning(enginesLog) << "Left out link" << relative << "that leads out to"
                                      << target;
                continue;
            }
        }

        archive_entry_copy_pathname(entry,
                                    QFile::encodeName(top + QLatin1Char('/') + relative).constData());
        archive_entry_acl_clear(entry);
        archive_entry_xattr_clear(entry);

        const int status = archive_write_header(disk.get(), entry);
        if (status < ARCHIVE_WARN)
            writeFailure(disk.get(), relative);
        if (type == AE_IFREG || !hardlink.isEmpty()) {
            const void* data = nullptr;
            std::size_t size = 0;
            qint64 offset = 0;
            while (reader.readBlock(data, size, offset)) {
                throwIfCancelled(stop);
                if (archive_write_data_block(disk.get(), data, size, offset) < ARCHIVE_WARN)
                    writeFailure(disk.get(), relative);
                report();
            }
        }
        if (archive_write_finish_entry(disk.get()) < ARCHIVE_WARN)
            writeFailure(disk.get(), relative);
        report();
    }
    // Folder modes and times are set only now.
    if (archive_write_close(disk.get()) < ARCHIVE_WARN)
        writeFailure(disk.get(), top);

    // Links made early can be bent outwards by links made later; check them as they now stand.
    removeEscapingLinks(top);
    return summary;
}

} // namespace qv
