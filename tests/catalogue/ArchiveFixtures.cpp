#include "ArchiveFixtures.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <sys/stat.h>

namespace qv::test {

FixtureEntry fileEntry(const QString& name, const QByteArray& data, unsigned mode)
{
    return {name, FixtureEntry::Type::file, data, mode, {}};
}

FixtureEntry folderEntry(const QString& name, unsigned mode)
{
    return {name, FixtureEntry::Type::folder, {}, mode, {}};
}

FixtureEntry linkEntry(const QString& name, const QString& target)
{
    return {name, FixtureEntry::Type::symlink, {}, 0777, target};
}

void writeFixtureArchive(const QString& path, const QString& format,
                         const QList<FixtureEntry>& entries)
{
    archive* a = archive_write_new();
    if (format == QLatin1String("zip")) {
        archive_write_set_format_zip(a);
    } else if (format == QLatin1String("7z")) {
        archive_write_set_format_7zip(a);
    } else {
        archive_write_set_format_pax_restricted(a);
        if (format == QLatin1String("tar.gz"))
            archive_write_add_filter_gzip(a);
        else if (format == QLatin1String("tar.bz2"))
            archive_write_add_filter_bzip2(a);
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    archive_write_open_filename(a, QFile::encodeName(path).constData());
    for (const FixtureEntry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, e.name.toUtf8().constData());
        archive_entry_set_mtime(entry, 1700000000, 0);
        switch (e.type) {
        case FixtureEntry::Type::file:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, e.data.size());
            break;
        case FixtureEntry::Type::folder:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case FixtureEntry::Type::symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink_utf8(entry, e.target.toUtf8().constData());
            break;
        case FixtureEntry::Type::hardlink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink_utf8(entry, e.target.toUtf8().constData());
            break;
        }
        archive_entry_set_perm(entry, e.mode);
        archive_write_header(a, entry);
        if (e.type == FixtureEntry::Type::file && !e.data.isEmpty())
            archive_write_data(a, e.data.constData(), size_t(e.data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
}

QList<ListedEntry> readFixtureArchive(const QString& path)
{
    QList<ListedEntry> listed;
    archive* a = archive_read_new();
    archive_read_support_filter_all(a);
    archive_read_support_format_all(a);
    if (archive_read_open_filename(a, QFile::encodeName(path).constData(), 65536) == ARCHIVE_OK) {
        archive_entry* entry = nullptr;
        while (archive_read_next_header(a, &entry) == ARCHIVE_OK) {
            ListedEntry item;
            const char* name = archive_entry_pathname_utf8(entry);
            item.name = QString::fromUtf8(name ? name : "");
            item.isFolder = archive_entry_filetype(entry) == AE_IFDIR;
            item.isLink = archive_entry_filetype(entry) == AE_IFLNK;
            if (const char* target = archive_entry_symlink_utf8(entry))
                item.target = QString::fromUtf8(target);
            char buffer[8192];
            la_ssize_t got = 0;
            while ((got = archive_read_data(a, buffer, sizeof buffer)) > 0)
                item.data.append(buffer, got);
            listed.append(item);
        }
    }
    archive_read_free(a);
    return listed;
}

QHash<QString, QByteArray> treeSnapshot(const QString& folder)
{
    QHash<QString, QByteArray> snapshot;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(folder).relativeFilePath(path);
        struct stat st {};
        ::lstat(QFile::encodeName(path).constData(), &st);
        QByteArray value = QByteArray::number(st.st_mode, 8) + ':';
        if (S_ISLNK(st.st_mode)) {
            value += "-> " + QFile::encodeName(QFile::symLinkTarget(path));
        } else if (S_ISREG(st.st_mode)) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                value += file.readAll();
        }
        snapshot.insert(relative, value);
    }
    return snapshot;
}

} // namespace qv::test
