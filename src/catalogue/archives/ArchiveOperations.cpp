#include "catalogue/archives/ArchiveOperations.h"

#include "catalogue/archives/ArchiveEntryName.h"
#include "catalogue/archives/ArchiveReader.h"
#include "catalogue/archives/ArchiveWriter.h"
#include "catalogue/archives/GzipCheck.h"
#include "catalogue/archives/GzipCheckAlongside.h"
#include "catalogue/archives/UnarExtraction.h"
#include "catalogue/archives/ZipCentralDirectory.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/files/FileProbe.h"
#include "model/Log.h"
#include "model/operations/JobNotes.h"
#include "model/operations/Progress.h"
#include "platform/files/FileItems.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

namespace qv {

namespace {

const QString macMetadataFolder = QStringLiteral("__MACOSX");

// Formats that compress one file rather than hold an archive.
bool isSingleFileFormat(const QString& key)
{
    return key == QLatin1String("gz") || key == QLatin1String("bz2") || key == QLatin1String("xz");
}

QString formatKey(const FileInfo& file)
{
    return file.format ? file.format->id : file.ext;
}

QString localPath(const QUrl& url)
{
    return QDir::cleanPath(url.toLocalFile());
}

bool lstatPath(const QString& path, struct stat& st)
{
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// The process's umask, read without changing it.
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    return 022;
}

// Work folders are private; a folder the user receives gets the usual mode of a new folder.
void giveUsualFolderMode(const QUrl& folder)
{
    ::chmod(QFile::encodeName(localPath(folder)).constData(), 0777 & ~currentUmask());
}

// Whether a name is a Mac's metadata beside the files (Finder's .DS_Store, AppleDouble "._x").
bool isMacMetadata(const QString& name)
{
    return name == QLatin1String(".DS_Store") || name.startsWith(QLatin1String("._"));
}

// The entries at a folder's top level that are the archive's contents, in name order: hidden
// ones too (".gitignore", ".env" are the user's files), but not a Mac's metadata.
QStringList contentEntries(const QString& folder)
{
    QDir dir(folder);
    if (!dir.exists())
        throw SystemError::fromErrno(ENOENT, folder);
    QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    names.removeIf(isMacMetadata);
    return names;
}

FractionHandler progressReporter(Progress& progress, const FractionHandler& onFraction,
                                 double start = 0.0, double span = 1.0)
{
    return [&progress, onFraction, start, span](double fraction) {
        const double overall = start + span * fraction;
        reportProgress(overall, progress);
        if (onFraction)
            onFraction(overall);
    };
}

QString countedText(int count, const QString& noun)
{
    return QString::number(count) + QLatin1Char(' ') + noun
        + (count == 1 ? QString() : QStringLiteral("s"));
}

QString itemName(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? QStringLiteral("Archive") : name;
}

// What an extraction left out or wrote under other names than the archive's, each in a note.
void noteWhatChanged(const ExtractionSummary& summary, int linksLeftOut, const OutputPlanner& planner)
{
    const std::shared_ptr<JobNotes>& notes = planner.notes();
    if (!notes)
        return;
    for (const QString& note : {linksLeftOutNote(linksLeftOut), specialsLeftOutNote(summary.specialsLeftOut),
                                renamedEntriesNote(summary.renamed), namelessEntriesNote(summary.nameless),
                                copiedLinksNote(summary.copiedLinks)}) {
        if (!note.isEmpty())
            notes->addMessage(note);
    }
}

} // namespace

ExtractionSummary extractContents(const FileInfo& file, const QUrl& destination,
                                  std::stop_token stop, const FractionHandler& onFraction)
{
    const QString root = localPath(destination);
    const QString key = formatKey(file);
    // Whatever a failed extraction wrote goes at once: it may be most of a disk.
    const QStringList existing = QDir(root).entryList(QDir::AllEntries | QDir::Hidden
                                                      | QDir::System | QDir::NoDotAndDotDot);
    const auto removePartial = [&] {
        ensureOwnerAccess(destination);
        const QStringList now = QDir(root).entryList(QDir::AllEntries | QDir::Hidden
                                                     | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : now) {
            if (!existing.contains(name))
                FileItems::remove(root + QLatin1Char('/') + name);
        }
    };

    ExtractionSummary summary;
    const ZipCentralDirectory::Reuse walkedOnce;
    try {
        const QString name = file.baseName.isEmpty() ? QStringLiteral("file") : file.baseName;
        if (key == QLatin1String("gz")) {
            // zlib checks the checksum that libarchive's gzip reader skips, in the same pass.
            summary = ArchiveExtractor::extractGzip(file.path(), root, name, stop, onFraction);
        } else if (isSingleFileFormat(key)) {
            ArchiveReader reader(file.path(), ArchiveReader::Kind::compressedFile);
            summary = ArchiveExtractor::extract(reader, root, stop, onFraction, name);
        } else if (UnarExtraction::needs(file.path(), key)) {
            summary = UnarExtraction::extract(file.path(), root, stop);
        } else {
            try {
                GzipCheckAlongside gzip(file.path(), stop);
                ArchiveReader reader(file.path(), ArchiveReader::Kind::archive);
                summary = ArchiveExtractor::extract(reader, root, stop, onFraction, name);
                gzip.finish();
            } catch (const ArchiveReadError& error) {
                // A method libarchive lacks (7-Zip's Deflate64) says nothing of the archive's
                // soundness: unar reads it, and checks it as closely.
                if (!ArchiveReader::isUnsupportedMethod(error.text()) || !UnarExtraction::isAvailable())
                    throw;
                qCInfo(enginesLog) << "libarchive cannot unpack" << file.name << "(" << error.text() << "): unar can";
                removePartial();
                summary = UnarExtraction::extract(file.path(), root, stop);
            }
        }
        throwIfCancelled(stop);
    } catch (const ArchiveReadError& error) {
        qCInfo(enginesLog) << "Extracting" << file.name << "failed:" << error.text();
        removePartial();
        throw EngineError(error.needsPassword()                 ? ArchiveMessage::passwordProtected
                          : error.text() == laterVolumeMessage ? laterVolumeMessage
                          : error.text().startsWith(missingVolumeMessage) ? error.text()
                                                                : ArchiveMessage::damagedOrUnsupported,
                          error.text());
    } catch (...) {
        removePartial();
        throw;
    }
    // The extractor leaves everything it made open to its owner: no walk is needed here.
    const QString metadata = root + QLatin1Char('/') + macMetadataFolder;
    struct stat st {};
    if (lstatPath(metadata, st))
        FileItems::remove(metadata);
    return summary;
}

void ensureOwnerAccess(const QUrl& root)
{
    QStringList folders{localPath(root)};
    while (!folders.isEmpty()) {
        const QString folder = folders.takeLast();
        const QStringList names = QDir(folder).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            const QString path = folder + QLatin1Char('/') + name;
            struct stat st {};
            if (!lstatPath(path, st) || S_ISLNK(st.st_mode))
                continue;
            const bool isFolder = S_ISDIR(st.st_mode);
            const mode_t required = isFolder ? 0700 : 0600;
            if ((st.st_mode & required) != required)
                ::chmod(QFile::encodeName(path).constData(), (st.st_mode & 07777) | required);
            // Fixed before it is listed, so a locked folder can be entered.
            if (isFolder)
                folders.append(path);
        }
    }
}

QUrl extractArchive(const FileInfo& file, const OutputPlanner& planner, Progress& progress,
                    std::stop_token stop, const FractionHandler& onFraction)
{
    const QUrl folder = planner.makeWorkSubdirectory(QStringLiteral("extract"));
    const FractionHandler report = progressReporter(progress, onFraction);
    const ExtractionSummary summary = extractContents(file, folder, stop, report);
    const QString folderPath = localPath(folder);
    const QStringList entries = contentEntries(folderPath);
    // A lone hidden entry comes out in a folder named after the archive, so that it keeps its
    // name: results themselves are never placed hidden.
    const bool alone = entries.size() == 1 && !entries.first().startsWith(QLatin1Char('.'));
    const QString lone = alone ? folderPath + QLatin1Char('/') + entries.first() : QString();
    struct stat loneStatus {};
    const bool loneFolder = !lone.isEmpty() && lstatPath(lone, loneStatus) && S_ISDIR(loneStatus.st_mode);
    // A lone folder is placed as the result itself, so its links must stay inside it, not only
    // inside the extraction: one that climbs out through the folder's name and back in leads
    // out once the folder is placed, or placed under another name.
    const int linksLeftOut =
        summary.linksLeftOut + (loneFolder && summary.madeLinks ? ArchiveExtractor::removeEscapingLinks(lone) : 0);
    noteWhatChanged(summary, linksLeftOut, planner);

    if (entries.isEmpty())
        throw EngineError(ArchiveMessage::empty);

    QUrl delivered;
    if (alone) {
        const QString path = lone;
        if (loneFolder) {
            delivered = planner.deliver(QUrl::fromLocalFile(path), entries.first(), QString());
        } else {
            const SplitName split = splitFileName(entries.first());
            delivered = planner.deliver(QUrl::fromLocalFile(path), split.baseName, split.ext);
        }
    } else {
        giveUsualFolderMode(folder);
        delivered = planner.deliver(folder, splitFileName(planner.source().fileName()).baseName,
                                    QString());
    }
    report(1.0);
    return delivered;
}

QString intactNote(int count, const FileInfo& file)
{
    return file.name + QStringLiteral(" is intact \u00B7 ") + countedText(count, QStringLiteral("item"));
}

QString testArchive(const FileInfo& file, const OutputPlanner& planner, Progress& progress,
                    std::stop_token stop, const FractionHandler& onFraction)
{
    const QString key = formatKey(file);
    const FractionHandler report = progressReporter(progress, onFraction);
    const QString intact = file.name + QStringLiteral(" is intact");

    // unar checks a zip's CRCs only as it writes the files out: such a zip is tested as other
    // formats are, by extracting it.
    const bool readByUnar = key == QLatin1String("zip") && UnarExtraction::needs(file.path(), key);
    if ((key == QLatin1String("zip") && !readByUnar) || key == QLatin1String("gz") || key == QLatin1String("bz2")) {
        // Reading every byte checks every checksum; nothing needs to be written.
        ExtractionSummary summary;
        try {
            if (key == QLatin1String("gz")) {
                verifyGzipFile(file.path(), stop, report);
            } else {
                ArchiveReader reader(file.path(), key == QLatin1String("zip")
                                                      ? ArchiveReader::Kind::archive
                                                      : ArchiveReader::Kind::compressedFile);
                summary = ArchiveExtractor::verify(reader, stop, report);
            }
        } catch (const ArchiveReadError& error) {
            qCInfo(enginesLog) << "Testing" << file.name << "failed:" << error.text();
            // A compression method the reader does not know (Deflate64, Implode) says nothing
            // of the archive's checksums: it is not known to be damaged.
            const bool unsupported = ArchiveReader::isUnsupportedMethod(error.text());
            throw EngineError(error.needsPassword()                 ? ArchiveMessage::passwordProtected
                              : error.text() == laterVolumeMessage ? laterVolumeMessage
                          : error.text().startsWith(missingVolumeMessage) ? error.text()
                              : unsupported                         ? ArchiveMessage::damagedOrUnsupported
                                                                    : ArchiveMessage::damaged,
                              error.text());
        }
        throwIfCancelled(stop);
        report(1.0);
        return key == QLatin1String("zip") ? intactNote(summary.items, file) : intact;
    }

    const QUrl folder = planner.makeWorkSubdirectory(QStringLiteral("test"));
    ExtractionSummary summary;
    try {
        summary = extractContents(file, folder, stop, report);
    } catch (const EngineError& error) {
        // unar reads every method it is given such a zip for: what it refuses is damage.
        if (!readByUnar || error.message() != ArchiveMessage::damagedOrUnsupported)
            throw;
        throw EngineError(ArchiveMessage::damaged, error.log());
    }
    report(1.0);
    return isSingleFileFormat(key) ? intact : intactNote(summary.items, file);
}

void compressItems(const QList<QUrl>& items, ArchiveTarget target, const QUrl& output,
                   std::stop_token stop, const FractionHandler& onFraction)
{
    if (items.isEmpty())
        throw EngineError(ArchiveMessage::nothingToCompress);

    // Two items of one name would unpack over each other: later ones get " 2", " 3" as
    // results do when placed.
    QSet<QString> ownNames;
    for (const QUrl& item : items)
        ownNames.insert(itemName(localPath(item)));
    QSet<QString> taken;
    QList<ArchiveWriter::Item> entries;
    for (const QUrl& item : items) {
        const QString path = localPath(item);
        QString name = itemName(path);
        if (taken.contains(name)) {
            struct stat st {};
            const bool isFolder = lstatPath(path, st) && S_ISDIR(st.st_mode);
            const SplitName split = isFolder ? SplitName{name, QString()} : splitFileName(name);
            for (int k = 2;; ++k) {
                name = OutputPlanner::candidateName(split.baseName, split.ext, k);
                if (!taken.contains(name) && !ownNames.contains(name))
                    break;
            }
        }
        taken.insert(name);
        entries.append({path, name});
    }
    ArchiveWriter::write(entries, target, localPath(output), stop, onFraction);
    throwIfCancelled(stop);
}

QUrl zipFiles(const QList<FileInfo>& files, const OutputPlanner& planner, Progress& progress,
              std::stop_token stop, const FractionHandler& onFraction)
{
    const QUrl output = planner.workURL(QStringLiteral("zip"),
                                        QUuid::createUuid().toString(QUuid::WithoutBraces));
    QList<QUrl> items;
    for (const FileInfo& file : files)
        items.append(file.url);
    compressItems(items, ArchiveTarget::zip, output, stop, progressReporter(progress, onFraction));
    const QString baseName = files.size() == 1 ? files.first().name : QStringLiteral("Archive");
    return planner.deliver(output, baseName, QStringLiteral("zip"));
}

QUrl convertArchive(const FileInfo& file, ArchiveTarget target, const OutputPlanner& planner,
                    Progress& progress, std::stop_token stop, const FractionHandler& onFraction)
{
    const QUrl folder = planner.makeWorkSubdirectory(QStringLiteral("convert"));
    const ExtractionSummary summary =
        extractContents(file, folder, stop, progressReporter(progress, onFraction, 0.0, 0.5));
    noteWhatChanged(summary, summary.linksLeftOut, planner);
    progressReporter(progress, onFraction)(0.5);

    const QString folderPath = localPath(folder);
    const QStringList entries = contentEntries(folderPath);
    if (entries.isEmpty())
        throw EngineError(ArchiveMessage::empty);

    // The entries are packed by name, in-process: no name from the archive reaches a command
    // line, however it begins.
    const QString extension = archiveExtension(target);
    const QUrl output = planner.workURL(extension, QUuid::createUuid().toString(QUuid::WithoutBraces));
    QList<QUrl> items;
    for (const QString& entry : entries)
        items.append(QUrl::fromLocalFile(folderPath + QLatin1Char('/') + entry));
    compressItems(items, target, output, stop, progressReporter(progress, onFraction, 0.5, 0.5));
    return planner.deliver(output, splitFileName(planner.source().fileName()).baseName, extension);
}

QUrl flattenFolder(const FileInfo& folder, const OutputPlanner& planner, Progress& progress,
                   std::stop_token stop)
{
    const QString root = localPath(folder.url);
    struct stat rootStatus {};
    if (::stat(QFile::encodeName(root).constData(), &rootStatus) != 0
        || !S_ISDIR(rootStatus.st_mode) || !QDir(root).isReadable())
        throw EngineError(ArchiveMessage::unreadableFolder, root);

    const QUrl flat = planner.makeWorkSubdirectory(QStringLiteral("flatten"));
    const QString flatPath = localPath(flat);

    // Every visible regular file and package, folders in name order; links are not followed.
    // Names are read as the bytes they are, so that none that is not UTF-8 is passed over.
    struct Found {
        QByteArray path;
        QString name;
    };
    QList<Found> found;
    QList<QByteArray> folders{QFile::encodeName(root)};
    while (!folders.isEmpty()) {
        throwIfCancelled(stop);
        const QByteArray current = folders.takeFirst();
        QList<Found> children;
        if (DIR* dir = ::opendir(current.constData())) {
            while (const dirent* entry = ::readdir(dir)) {
                const QByteArray name(entry->d_name);
                if (!name.startsWith('.'))
                    children.append({current + '/' + name, ArchiveEntryName::fromBytes(name)});
            }
            ::closedir(dir);
        }
        std::sort(children.begin(), children.end(),
                  [](const Found& a, const Found& b) { return a.name < b.name; });
        QList<QByteArray> subfolders;
        for (const Found& child : children) {
            struct stat st {};
            if (::lstat(child.path.constData(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode)) {
                const std::optional<ItemStatus> status =
                    FileProbe::system().status(QFile::decodeName(child.path));
                if (status && status->isPackage)
                    found.append(child);
                else
                    subfolders.append(child.path);
            } else if (S_ISREG(st.st_mode)) {
                found.append(child);
            }
        }
        folders = subfolders + folders;
    }

    int count = 0;
    for (const Found& item : found) {
        throwIfCancelled(stop);
        const SplitName split = splitFileName(item.name);
        for (int k = 1;; ++k) {
            const QString candidate =
                k == 1 ? item.name : OutputPlanner::candidateName(split.baseName, split.ext, k);
            const int error = FileItems::copyNative(
                item.path, QFile::encodeName(flatPath + QLatin1Char('/') + candidate));
            if (error == 0)
                break;
            if (error != EEXIST || k >= OutputPlanner::maximumCandidates)
                throw SystemError::fromErrno(error, QFile::decodeName(item.path));
        }
        ++count;
        reportProgress(double(count) / double(found.size()), progress);
    }
    if (count < 1)
        throw EngineError(ArchiveMessage::folderHasNoFiles);

    if (planner.notes())
        planner.notes()->addMessage(countedText(count, QStringLiteral("file")));
    QString name = folder.name;
    const QString suffix = planner.settings().suffixForOperation(QStringLiteral("flatten"));
    if (!suffix.isEmpty())
        name += QStringLiteral(" (") + suffix + QLatin1Char(')');
    giveUsualFolderMode(flat);
    return planner.deliver(flat, name, QString());
}

} // namespace qv
