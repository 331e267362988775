#include "ArchiveFixtures.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <zlib.h>

#include <algorithm>
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

FixtureEntry hardlinkEntry(const QString& name, const QString& target)
{
    return {name, FixtureEntry::Type::hardlink, {}, 0644, target};
}

FixtureEntry fifoEntry(const QString& name)
{
    return {name, FixtureEntry::Type::fifo, {}, 0644, {}};
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
        case FixtureEntry::Type::fifo:
            archive_entry_set_filetype(entry, AE_IFIFO);
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

void writeZeroArchive(const QString& path, const QString& format, const QStringList& names,
                      qint64 size)
{
    archive* a = archive_write_new();
    if (format == QLatin1String("zip")) {
        archive_write_set_format_zip(a);
    } else {
        archive_write_set_format_pax_restricted(a);
        archive_write_add_filter_gzip(a);
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    archive_write_open_filename(a, QFile::encodeName(path).constData());
    const QByteArray zeros(64 * 1024, '\0');
    for (const QString& name : names) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, name.toUtf8().constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, size);
        archive_write_header(a, entry);
        for (qint64 left = size; left > 0; left -= zeros.size())
            archive_write_data(a, zeros.constData(), size_t(std::min<qint64>(left, zeros.size())));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
}

namespace {

void appendLe(QByteArray& out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

quint32 crcOf(const QByteArray& data)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
}

QByteArray vint(quint64 value)
{
    QByteArray out;
    do {
        const char low = char(value & 0x7f);
        value >>= 7;
        out.append(value ? char(low | 0x80) : low);
    } while (value);
    return out;
}

// A RAR 5 block: CRC32, size, then type, flags and the rest; data follows the header.
QByteArray rar5Block(quint64 type, quint64 flags, const QByteArray& body, const QByteArray& data = {},
                     const QByteArray& extra = {})
{
    if (!extra.isEmpty())
        flags |= 0x1;
    QByteArray fields = vint(type) + vint(flags);
    if (flags & 0x1)
        fields += vint(quint64(extra.size()));
    if (flags & 0x2)
        fields += vint(quint64(data.size()));
    fields += body + extra;
    const QByteArray sized = vint(quint64(fields.size())) + fields;
    QByteArray block;
    appendLe(block, crcOf(sized), 4);
    return block + sized + data;
}

QByteArray localHeader(const QByteArray& name, quint32 crc, quint32 packed, quint32 size)
{
    QByteArray out;
    appendLe(out, 0x04034b50, 4);
    appendLe(out, 20, 2); // version needed
    appendLe(out, 0, 2);  // flags
    appendLe(out, 8, 2);  // deflate
    appendLe(out, 0, 4);  // time and date
    appendLe(out, crc, 4);
    appendLe(out, packed, 4);
    appendLe(out, size, 4);
    appendLe(out, quint64(name.size()), 2);
    appendLe(out, 0, 2);
    return out + name;
}

} // namespace

QByteArray rar5Archive(const QList<Rar5Entry>& entries)
{
    QByteArray out("Rar!\x1a\x07\x01\x00", 8);
    out += rar5Block(1, 0, vint(0)); // main header, no archive flags
    for (const Rar5Entry& e : entries) {
        QByteArray body = vint(e.withCrc ? 0x4 : 0x0) // file flags: CRC32 present
            + vint(quint64(e.data.size())) + vint(e.mode);
        if (e.withCrc)
            appendLe(body, crcOf(e.data), 4);
        body += vint(0)  // compression: stored
            + vint(1)    // host: Unix
            + vint(quint64(e.name.size())) + e.name;
        QByteArray extra;
        if (e.encrypted) {
            // AES-256, version 0, with a password check: a count, a salt, an IV and the check.
            const QByteArray record = vint(1) + vint(0) + vint(0x1) + QByteArray(1, char(15)) + QByteArray(16, 's')
                + QByteArray(16, 'i') + QByteArray(12, 'c');
            extra += vint(quint64(record.size())) + record;
        }
        if (!e.blake2.isEmpty()) {
            const QByteArray record = vint(2) + vint(0) + e.blake2; // a hash record: BLAKE2sp
            extra += vint(quint64(record.size())) + record;
        }
        out += rar5Block(2, 0x2, body, e.data, extra);
    }
    out += rar5Block(5, 0, vint(0)); // end of archive
    return out;
}

QByteArray overlappingZip(int entries, int kernelSize)
{
    const QByteArray zeros(kernelSize, '\0');
    QByteArray kernel(int(compressBound(uLong(kernelSize))) + 64, Qt::Uninitialized);
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.constData()));
    z.avail_in = uInt(zeros.size());
    z.next_out = reinterpret_cast<Bytef*>(kernel.data());
    z.avail_out = uInt(kernel.size());
    deflate(&z, Z_FINISH);
    kernel.truncate(qsizetype(z.total_out));
    deflateEnd(&z);

    QList<QByteArray> names;
    for (int i = 0; i < entries; ++i)
        names.append(QByteArray("f") + QByteArray::number(i).rightJustified(4, '0'));
    // Built from the back: entry i inflates to the headers of entries i+1.. and the kernel.
    QList<QByteArray> headers(entries);
    QList<quint32> crcs(entries), packed(entries), sizes(entries);
    QByteArray output = zeros;
    QByteArray stream = kernel;
    for (int i = entries - 1; i >= 0; --i) {
        crcs[i] = crcOf(output);
        packed[i] = quint32(stream.size());
        sizes[i] = quint32(output.size());
        headers[i] = localHeader(names[i], crcs[i], packed[i], sizes[i]);
        if (i > 0) {
            // A stored deflate block (not the last) quoting this header.
            QByteArray quote(1, '\0');
            appendLe(quote, quint64(headers[i].size()), 2);
            appendLe(quote, quint64(~headers[i].size() & 0xffff), 2);
            stream = quote + headers[i] + stream;
            output = headers[i] + output;
        }
    }
    QByteArray zip = headers[0] + stream;
    QByteArray directory;
    quint32 offset = 0;
    for (int i = 0; i < entries; ++i) {
        appendLe(directory, 0x02014b50, 4);
        appendLe(directory, 20, 2);
        appendLe(directory, 20, 2);
        appendLe(directory, 0, 2);
        appendLe(directory, 8, 2);
        appendLe(directory, 0, 4);
        appendLe(directory, crcs[i], 4);
        appendLe(directory, packed[i], 4);
        appendLe(directory, sizes[i], 4);
        appendLe(directory, quint64(names[i].size()), 2);
        appendLe(directory, 0, 2); // extra
        appendLe(directory, 0, 2); // comment
        appendLe(directory, 0, 2); // disk
        appendLe(directory, 0, 2); // internal attributes
        appendLe(directory, quint64(0100644) << 16, 4);
        appendLe(directory, offset, 4);
        directory += names[i];
        offset += quint32(headers[i].size() + (i + 1 < entries ? 5 : 0));
    }
    QByteArray end;
    appendLe(end, 0x06054b50, 4);
    appendLe(end, 0, 4);
    appendLe(end, quint64(entries), 2);
    appendLe(end, quint64(entries), 2);
    appendLe(end, quint64(directory.size()), 4);
    appendLe(end, quint64(zip.size()), 4);
    appendLe(end, 0, 2);
    return zip + directory + end;
}

bool flipByteOf(const QString& path, const QByteArray& needle)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    const qsizetype at = bytes.indexOf(needle);
    if (at < 0)
        return false;
    bytes[at + needle.size() / 2] = char(bytes[at + needle.size() / 2] ^ 0x01);
    file.seek(0);
    return file.write(bytes) == bytes.size() && file.flush();
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
