#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <archive.h>
#include <archive_entry.h>

namespace qv::test {

// One entry of a zip written by repetition: head, then block repeated.
struct RepeatingEntry {
    const char* name;
    QByteArray head;
    QByteArray block;
    qint64 repeats = 0;
};

// Writes a zip whose entries inflate to far more than it holds (a zip bomb), streaming so the
// test never holds the inflated size; false when the file cannot be written.
inline bool writeRepeatingZip(const QString& path, const QList<RepeatingEntry>& entries)
{
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_set_options(a, "zip:compression-level=1");
    bool written = archive_write_open_filename(a, QFile::encodeName(path).constData()) == ARCHIVE_OK;
    for (const RepeatingEntry& item : entries) {
        if (!written)
            break;
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.name);
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        written = archive_write_header(a, entry) == ARCHIVE_OK
                  && archive_write_data(a, item.head.constData(), size_t(item.head.size())) == item.head.size();
        for (qint64 i = 0; written && i < item.repeats; ++i)
            written = archive_write_data(a, item.block.constData(), size_t(item.block.size())) == item.block.size();
        archive_entry_free(entry);
    }
    written = archive_write_close(a) == ARCHIVE_OK && written;
    archive_write_free(a);
    return written;
}

} // namespace qv::test
