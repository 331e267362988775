#pragma once

#include "catalogue/archives/ArchiveExtractor.h"

#include <QList>
#include <QString>

#include <stop_token>

namespace qv {

// Archives libarchive 3.6 cannot unpack whole, unpacked by The Unarchiver's "unar" where it is
// installed: solid RAR 4 (libarchive unpacks only the first file) and zips whose entries are
// packed with Shrink, Reduce, Implode or Deflate64. unar checks every file's CRC and fails on a
// mismatch, an archive cut short or a missing password; it never unpacks archives found inside.
class UnarExtraction {
public:
    UnarExtraction() = delete;

    // Whether the file at path, of the format key ("rar", "zip"), is one of those: a RAR whose
    // main header says solid version 4, a zip whose sound central directory names such a method.
    static bool needs(const QString& path, const QString& formatKey);
    static bool isAvailable();

    // Unpacks into root, an empty folder, once every name stays inside it and the sizes the
    // headers declare fit the disk and the archive's size (ArchiveSpace). Links that would lead
    // out of it and anything but files, folders and links are removed and counted, as
    // libarchive's road does; everything unpacked is left open to its owner. Throws
    // ArchiveReadError (needing a password or not), EngineError (a name that leads out, no
    // room, too large), CancellationError, SystemError.
    static ExtractionSummary extract(const QString& path, const QString& root, std::stop_token stop);

    struct Entry {
        QString name;
        bool folder = false;
        qint64 size = 0;
    };
    // The first `limit` entries as unar's lister ("lsar", beside it) gives them, without
    // unpacking; a link's name without its target. Throws ArchiveReadError, CancellationError,
    // SystemError.
    static QList<Entry> list(const QString& path, qsizetype limit, std::stop_token stop);
};

} // namespace qv
