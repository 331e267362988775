#pragma once

#include "catalogue/tools/FractionHandler.h"

#include <QString>
#include <QList>
#include <QStringList>

#include <utility>

#include <optional>
#include <stop_token>

namespace qv {

class ArchiveReader;

// What an extraction read.
struct ExtractionSummary {
    int entries = 0; // every entry of the archive
    int items = 0;   // files and links, not under "__MACOSX"
    int linksLeftOut = 0; // links that would have led out of the folder
    bool madeLinks = false; // whether any symbolic link was made, which only then needs a walk
    QStringList specialsLeftOut; // devices, pipes, sockets and hard links to them, by name
    // Entries written under another name than their own, "from" then "to": names the disk
    // refuses (":" on FAT, too long) and names it folds onto another's ("A.txt", "a.txt").
    QList<std::pair<QString, QString>> renamed;
    int nameless = 0; // files without a name, written under the archive's
    // Links written as copies of what they lead to, by name: the disk makes no links (FAT).
    QStringList copiedLinks;
};

// The note naming the links written as copies; empty for none.
QString copiedLinksNote(const QStringList& names);

// The note for files written under the archive's name for want of their own; empty for none.
QString namelessEntriesNote(int count);

// The note naming the entries written under other names; empty for none.
QString renamedEntriesNote(const QList<std::pair<QString, QString>>& renamed);

// The note for links an extraction left out; empty when there were none.
QString linksLeftOutNote(int count);

// The note naming the devices, pipes and sockets an extraction did not make; empty for none.
QString specialsLeftOutNote(const QStringList& names);

// Unpacks an archive into a folder and never writes outside it: names that are absolute, climb
// with "..", or pass through a symbolic link stop the extraction; links that would lead out are
// not made. Owners, ACLs, extended attributes, devices, pipes and sockets are never restored;
// modes go through the umask. Every entry's data is read to its end and checked, also where
// nothing is written, so damage anywhere fails the whole extraction. What was written before a
// failure stays in root for the caller to remove.
class ArchiveExtractor {
public:
    // root must exist. ownName names what has no name of its own: the single entry of a
    // compressed file (the reader's Kind::compressedFile), and an archive's files without a
    // name, as other extractors name them after the archive ("photos", then "photos (2)").
    // Throws ArchiveReadError for damaged or unreadable data, EngineError for names that lead
    // out, for too little free space and for an archive that unpacks to an absurd size
    // (ArchiveSpace), SystemError for a failed write, CancellationError when stopped.
    static ExtractionSummary extract(ArchiveReader& reader, const QString& root,
                                     std::stop_token stop, const FractionHandler& onFraction = {},
                                     const QString& ownName = QStringLiteral("file"));

    // Unpacks a gzip file to root/name in one pass, checking its checksums as it goes. Throws
    // as extract does.
    static ExtractionSummary extractGzip(const QString& path, const QString& root,
                                         const QString& name, std::stop_token stop,
                                         const FractionHandler& onFraction = {});

    // Reads every entry and all its data with the checks of extract, writing nothing.
    static ExtractionSummary verify(ArchiveReader& reader, std::stop_token stop,
                                    const FractionHandler& onFraction = {});

    // The entry name as a path below the root ("./a//b" gives "a/b"), or nothing when it is
    // absolute or holds "..". An empty result names the root itself.
    static std::optional<QString> relativeEntryPath(const QString& name);

    // Whether the link at root/linkPath, pointing to target, resolves inside root when every
    // link on the way is followed as the folder stands now.
    static bool linkStaysInside(const QString& root, const QString& linkPath,
                                const QString& target);

    // The name a disk that refuses names like Windows does takes for a path's every part:
    // < > : " \ | ? * and control characters become "_", as do trailing dots and spaces, and a
    // part longer than such disks hold is shortened, its extension kept.
    static QString portablePath(const QString& relative);

    // Removes every link below root that leads out of it; returns how many went.
    static int removeEscapingLinks(const QString& root);

    static const QString outsideMessage;
    // A limit of the disk, not of the archive: a name or path longer than it takes, and more
    // files or folders than it has room for while bytes are left.
    static const QString nameTooLongMessage;
    static const QString tooManyFilesMessage;
};

} // namespace qv
