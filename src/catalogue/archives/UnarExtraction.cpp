#include "catalogue/archives/UnarExtraction.h"

#include "catalogue/archives/ArchiveReader.h"
#include "catalogue/archives/ArchiveSpace.h"
#include "catalogue/archives/RarBlockChain.h"
#include "catalogue/archives/ZipCentralDirectory.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/Log.h"
#include "model/operations/Capabilities.h"
#include "platform/processes/ProcessRunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

// Entries counted for the room an archive needs; the extractor refuses more than this anyway.
constexpr qsizetype largestListing = 1'000'000;

} // namespace

bool UnarExtraction::needs(const QString& path, const QString& formatKey)
{
    if (formatKey == QLatin1String("rar"))
        return RarBlockChain::isSolidVersion4(path);
    if (formatKey == QLatin1String("zip")) {
        // Only a zip whose directory is whole: unar would also take the entries of one cut
        // short from their local headers, which libarchive's reader refuses as it should.
        const ZipCentralDirectory::Walk walk = ZipCentralDirectory::walk(path);
        return walk.sound && walk.holdsOlderMethods;
    }
    return false;
}

bool UnarExtraction::isAvailable()
{
    return Capabilities::shared().unarURL().has_value();
}

ExtractionSummary UnarExtraction::extract(const QString& path, const QString& root, std::stop_token stop)
{
    const std::optional<QUrl> unar = Capabilities::shared().unarURL();
    if (!unar)
        throw ArchiveReadError(QStringLiteral("unar is not installed"));
    // unar writes whatever the archive holds: what its headers declare must fit first, and a
    // name that would climb out is refused, as on libarchive's road (unar would write it
    // below a "__Parent__" folder).
    constexpr qint64 beyondAnyDisk = qint64(1) << 60;
    qint64 declared = 0;
    for (const Entry& entry : list(path, largestListing, stop)) {
        if (!ArchiveExtractor::relativeEntryPath(entry.name))
            throw EngineError(ArchiveExtractor::outsideMessage, QStringLiteral("Entry name: ") + entry.name);
        declared = std::min(declared + std::clamp<qint64>(entry.size, 0, beyondAnyDisk), beyondAnyDisk);
    }
    ArchiveSpace(root, QFileInfo(path).size()).expectTotal(declared);
    // The archive's path is absolute, so no name reaches unar as an option. Without a password
    // an encrypted archive fails, saying it needs one. Resource forks are Mac metadata, left
    // out as "__MACOSX" is.
    const QStringList arguments{QStringLiteral("-q"),
                                QStringLiteral("-no-directory"),
                                QStringLiteral("-no-recursion"),
                                QStringLiteral("-force-skip"),
                                QStringLiteral("-forks"),
                                QStringLiteral("skip"),
                                QStringLiteral("-output-directory"),
                                root,
                                QFileInfo(path).absoluteFilePath()};
    const ProcessRunner::Output output =
        ProcessRunner::run(*unar, arguments, stop, QHash<QString, QString>{{QStringLiteral("LANG"), QStringLiteral("C.UTF-8")}});
    throwIfCancelled(stop);
    if (output.status != 0 || output.terminatedBySignal) {
        // unar names the folder it unpacked into, which is ours, not the user's.
        QString said = (output.stdoutText() + QLatin1Char('\n') + output.stderrText()).trimmed();
        said.replace(root, QStringLiteral("the folder"));
        qCInfo(enginesLog) << "unar failed on" << path << ":" << said;
        const bool password = said.contains(QLatin1String("requires a password"), Qt::CaseInsensitive);
        throw ArchiveReadError(said.isEmpty() ? QStringLiteral("unar failed") : said.right(2000), password);
    }

    ExtractionSummary summary;
    summary.madeLinks = true; // what unar made is not known entry by entry
    summary.linksLeftOut = ArchiveExtractor::removeEscapingLinks(root);
    QStringList folders{root};
    while (!folders.isEmpty()) {
        const QString folder = folders.takeLast();
        const QStringList names =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            const QString item = folder + QLatin1Char('/') + name;
            struct stat st {};
            if (::lstat(QFile::encodeName(item).constData(), &st) != 0)
                continue;
            ++summary.entries;
            // What the archive's modes locked stays the worker's to read, walk and repack.
            const mode_t required = S_ISDIR(st.st_mode) ? 0700 : 0600;
            if (!S_ISLNK(st.st_mode) && (st.st_mode & required) != required)
                ::chmod(QFile::encodeName(item).constData(), (st.st_mode & 07777) | required);
            if (S_ISDIR(st.st_mode)) {
                folders.append(item);
            } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
                ++summary.items;
            } else {
                ::unlink(QFile::encodeName(item).constData());
                summary.specialsLeftOut.append(QDir(root).relativeFilePath(item));
            }
        }
    }
    return summary;
}

QList<UnarExtraction::Entry> UnarExtraction::list(const QString& path, qsizetype limit, std::stop_token stop)
{
    const std::optional<QUrl> unar = Capabilities::shared().unarURL();
    const QFileInfo lister(unar ? QFileInfo(unar->toLocalFile()).dir().filePath(QStringLiteral("lsar")) : QString());
    if (!unar || !lister.isExecutable())
        throw ArchiveReadError(QStringLiteral("unar is not installed"));
    // "  0. -----        2048  95.5%  Nr29  2011-06-12 12:53  name": flags, size, ratio,
    // method, date and time, two spaces, the name.
    static const QRegularExpression row(
        QStringLiteral("^\\s*\\d+\\.\\s+(\\S{5})\\s+(\\d+)\\s+\\S+\\s+\\S+\\s+\\S+\\s+\\S+  (.*)$"));
    QList<Entry> entries;
    const ProcessRunner::Output output = ProcessRunner::run(
        QUrl::fromLocalFile(lister.absoluteFilePath()), {QStringLiteral("-l"), QFileInfo(path).absoluteFilePath()}, stop,
        QHash<QString, QString>{{QStringLiteral("LANG"), QStringLiteral("C.UTF-8")}}, std::nullopt,
        [&](const QString& line) {
            const QRegularExpressionMatch match = row.match(line);
            if (!match.hasMatch() || entries.size() >= limit)
                return;
            // A link is listed as "name -> target".
            QString name = match.captured(3);
            if (match.captured(1).contains(QLatin1Char('L')) && name.contains(QLatin1String(" -> ")))
                name.truncate(name.indexOf(QLatin1String(" -> ")));
            entries.append({name, match.captured(1).contains(QLatin1Char('D')), match.captured(2).toLongLong()});
        });
    throwIfCancelled(stop);
    if (output.status != 0 || output.terminatedBySignal)
        throw ArchiveReadError(output.stderrText().trimmed().isEmpty() ? QStringLiteral("lsar failed")
                                                                       : output.stderrText().trimmed().right(2000));
    return entries;
}

} // namespace qv
