#pragma once

#include "catalogue/archives/ArchiveExtractor.h"

#include <QList>
#include <QString>

#include <stop_token>

namespace qv {

// Solid RAR 4 archives, of which libarchive 3.6 unpacks only the first file, unpacked by The
// Unarchiver's "unar" where it is installed. unar checks every file's CRC and fails on a
// mismatch, an archive cut short or a missing password; it never unpacks archives found inside.
class SolidRarExtraction {
public:
    SolidRarExtraction() = delete;

    // Whether the file at path is a solid RAR 4 (its main header says so).
    static bool needs(const QString& path);
    static bool isAvailable();

    // Unpacks into root, an empty folder, once the sizes its headers declare fit the disk and
    // the archive's size (ArchiveSpace). Links that would lead out of it and anything but files,
    // folders and links are removed and counted, as libarchive's road does. Throws
    // ArchiveReadError (needing a password or not), EngineError (no room, too large),
    // CancellationError, SystemError.
    static ExtractionSummary extract(const QString& path, const QString& root, std::stop_token stop);

    struct Entry {
        QString name;
        bool folder = false;
        qint64 size = 0;
    };
    // The first `limit` entries as unar's lister ("lsar", beside it) gives them, without
    // unpacking. Throws ArchiveReadError, CancellationError, SystemError.
    static QList<Entry> list(const QString& path, qsizetype limit, std::stop_token stop);
};

} // namespace qv
