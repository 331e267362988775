#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace qv::test {

// One entry of an archive made for a test, names taken as they are, however hostile.
struct FixtureEntry {
    enum class Type { file, folder, symlink, hardlink };
    QString name;
    Type type = Type::file;
    QByteArray data;   // a file's contents
    unsigned mode = 0644;
    QString target;    // a link's target
};

FixtureEntry fileEntry(const QString& name, const QByteArray& data = "x", unsigned mode = 0644);
FixtureEntry folderEntry(const QString& name, unsigned mode = 0755);
FixtureEntry linkEntry(const QString& name, const QString& target);

// Writes an archive with libarchive: format "zip", "tar", "tar.gz", "tar.bz2", "7z".
void writeFixtureArchive(const QString& path, const QString& format,
                         const QList<FixtureEntry>& entries);

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
