#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace qv::test {

// One entry of an archive made for a test, names taken as they are, however hostile.
struct FixtureEntry {
    enum class Type { file, folder, symlink, hardlink, fifo };
    QString name;
    Type type = Type::file;
    QByteArray data;   // a file's contents
    unsigned mode = 0644;
    QString target;    // a link's target
};

FixtureEntry fileEntry(const QString& name, const QByteArray& data = "x", unsigned mode = 0644);
FixtureEntry folderEntry(const QString& name, unsigned mode = 0755);
FixtureEntry linkEntry(const QString& name, const QString& target);
FixtureEntry hardlinkEntry(const QString& name, const QString& target);
FixtureEntry fifoEntry(const QString& name);

// Writes an archive with libarchive: format "zip", "tar", "tar.gz", "tar.bz2", "7z".
void writeFixtureArchive(const QString& path, const QString& format,
                         const QList<FixtureEntry>& entries);

// An archive of files that hold nothing but zeros, size bytes each, written without holding
// them in memory: "zip", "tar.gz".
void writeZeroArchive(const QString& path, const QString& format, const QStringList& names,
                      qint64 size);

// One entry of a hand-made RAR 5 archive: stored, from a Unix host, with the data's CRC unless
// withCrc is false, and a BLAKE2sp digest when one is given.
struct Rar5Entry {
    QByteArray name; // taken as bytes, valid UTF-8 or not
    unsigned mode = 0100644;
    QByteArray data;
    bool withCrc = true;
    QByteArray blake2 = {};
    bool encrypted = false; // an AES record: the data stands for encrypted bytes
};
// No RAR writer ships with Debian, so the blocks are put together here.
QByteArray rar5Archive(const QList<Rar5Entry>& entries);

// A zip bomb whose entries overlap: each entry's deflate data quotes the local headers of the
// entries after it and then inflates the one shared kernel of kernelSize zeros. Every entry is
// valid on its own, checksum included; together they unpack to about entries * kernelSize.
QByteArray overlappingZip(int entries, int kernelSize);

// Flips one bit of the first place where needle occurs in the file; false when it does not.
bool flipByteOf(const QString& path, const QByteArray& needle);

struct ListedEntry {
    QString name;
    bool isFolder = false;
    bool isLink = false;
    QString target;
    QByteArray data;
};

// Reads an archive back, contents included.
QList<ListedEntry> readFixtureArchive(const QString& path);

// Every file below a folder (links as "-> target"), by relative path, with contents and mode:
// compared before and after a run to show nothing changed.
QHash<QString, QByteArray> treeSnapshot(const QString& folder);

} // namespace qv::test
