#pragma once

#include "catalogue/archives/Blake2sp.h"
#include "catalogue/archives/RarBlockChain.h"
#include "model/errors/Error.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

struct archive;
struct archive_entry;

namespace qv {

// libarchive could not read an archive: its own words, and whether a password stands in the way.
// What a RAR volume after the first says when opened alone.
inline const QString laterVolumeMessage = QStringLiteral("This is a later part of a multi-part archive: open its first part");
// What the first part of a RAR volume set says when a later part is not beside it; the part's
// name follows.
inline const QString missingVolumeMessage = QStringLiteral("A part of this multi-part archive is missing: ");

class ArchiveReadError : public Error {
public:
    explicit ArchiveReadError(QString text, bool needsPassword = false)
        : m_text(std::move(text)), m_needsPassword(needsPassword) {}

    const QString& text() const { return m_text; }
    bool needsPassword() const { return m_needsPassword; }

    QString localizedDescription() const override { return m_text; }

private:
    QString m_text;
    bool m_needsPassword;
};

// Reads an archive file entry by entry: zip, 7z, rar, tar (plain, gz, bz2, xz, zstd) and more,
// or, as a single stream, one file compressed with gzip, bzip2 or xz.
class ArchiveReader {
public:
    enum class Kind {
        archive,         // entries with their names
        compressedFile   // one compressed stream, read as one nameless entry
    };

    // Throws SystemError when the file cannot be opened, ArchiveReadError when it is no
    // archive of a readable kind.
    ArchiveReader(const QString& path, Kind kind);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // The next entry, or nullptr after the last; valid until the next call. Any complaint of
    // libarchive about the header, a warning included, throws ArchiveReadError, except that a
    // name is not in the encoding its format declares (pathname reads it) and that a pax
    // attribute is malformed (the tar header stands); so does an entry
    // whose data is encrypted, asking for a password, a RAR whose chain of blocks is broken
    // (RarBlockChain), at its first entry, a zip whose local headers disagree with its central
    // directory, and a tar of more than one entry that ends without its end blocks (after data
    // read to its end).
    archive_entry* nextEntry();

    // The entry's name, its hard link's target (empty when it is none) and its symbolic link's
    // target as text (ArchiveEntryName): names from other systems are read in the encoding
    // the format implies (code page 437 for zip names without the UTF-8 flag), else their
    // bytes that are not UTF-8 are escaped. pathname is empty for an entry that has no name
    // (7-Zip's may not); throws ArchiveReadError when the entry has a name that cannot be read.
    QString pathname(archive_entry* entry) const;
    // Whether the format's entries may go without names (7-Zip's); elsewhere a file without
    // one is damage.
    bool holdsNamelessEntries() const;
    QString hardlink(archive_entry* entry) const;
    QString symlink(archive_entry* entry) const;

    // The next block of the current entry's data; false at its end, where offset is the end
    // the format reports (0 when it does not). Any complaint about the data, a warning such as
    // a checksum that does not match included, throws ArchiveReadError; so does RAR data that
    // does not match its header's CRC-32 or BLAKE2sp, which libarchive leaves unchecked in places.
    bool readBlock(const void*& data, std::size_t& size, qint64& offset);

    // How much of the file has been consumed, 0 to 1.
    double fractionRead() const;

    const QString& path() const { return m_path; }
    Kind kind() const { return m_kind; }
    // The archive file's size.
    qint64 fileSize() const { return m_fileSize; }

    // The sum of the sizes the archive's entries declare, when it can be had by reading headers
    // only (zip, plain tar); nothing for formats that must be unpacked to get from one header to
    // the next. Throws as nextEntry does.
    static std::optional<qint64> declaredTotal(const QString& path);

    // Whether libarchive's complaint is of a compression method it does not implement (a zip's
    // Implode, 7-Zip's Deflate64), rather than of damage.
    static bool isUnsupportedMethod(const QString& text);

    // The files of a RAR volume set whose first part is path ("x.part1.rar", "x.part2.rar"...),
    // as far as they follow each other; empty when path is no first part.
    static QStringList rarVolumes(const QString& path);
    // The name of the part that should follow the last of rarVolumes(path) where that part says
    // one follows and it is not there; empty otherwise.
    static QString missingRarVolume(const QString& path);

private:
    // Archives whose first bytes name their format are read as that format only.
    enum class Signature { other, rar, sevenZip, tar };
    static Signature signatureOf(const QString& path);

    bool open(bool streamingZip, std::optional<ArchiveReadError>& refused);
    [[noreturn]] void fail(const char* fallback) const;
    bool rarHoldsEncryptedData() const;
    bool skipsWithoutUnpacking() const;
    QString nameText(const char* native, const char* utf8, const char* what) const;

    void checkRarBlocks(archive_entry* entry);

    archive* m_archive = nullptr;
    QString m_path;
    Kind m_kind;
    Signature m_signature = Signature::other;
    qint64 m_fileSize = 0;
    bool m_checkedFilter = false;
    bool m_checkedZipHeaders = false;
    bool m_readToEnd = true; // the last entry's data was read to its end, or there was none
    bool m_noData = false;
    bool m_readAnEntry = false;
    bool m_readTwoEntries = false;

    // RAR only: what the current entry's data must match, and how far it has matched.
    std::optional<RarBlockChain> m_rarChain;
    qsizetype m_entryIndex = -1;
    std::optional<RarBlockChain::StoredData> m_expected;
    quint32 m_crc = 0;
    std::optional<Blake2sp> m_blake2;
    qint64 m_checkedUpTo = 0;
};

} // namespace qv
