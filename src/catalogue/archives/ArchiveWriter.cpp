#include "catalogue/archives/ArchiveWriter.h"

#include "catalogue/archives/ArchiveEntryName.h"

#include "model/errors/CancellationError.h"
#include "model/errors/SystemError.h"
#include "model/Log.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

constexpr qint64 blockSize = 64 * 1024;

struct WriteFree {
    void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryFree {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

struct PlannedEntry {
    QByteArray path; // as the file system has it, valid UTF-8 or not
    QString name;
    struct stat status;
    QByteArray linkTarget;
};

[[noreturn]] void throwErrno(int code, const QString& context)
{
    throw SystemError::fromErrno(code, context);
}

[[noreturn]] void archiveFailure(archive* a, const QString& context)
{
    const int code = archive_errno(a);
    const char* text = archive_error_string(a);
    qCWarning(enginesLog) << "Writing the archive failed at" << context << ":"
                          << QString::fromUtf8(text ? text : "");
    throwErrno(code > 0 ? code : EIO, context);
}

struct Child {
    QByteArray name;
    QString text;
};

// A folder's entries in name order, their names as they are and as the archive gives them;
// names that are not UTF-8 are still found and packed.
QList<Child> childrenOf(const QByteArray& folder)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        throwErrno(errno, QFile::decodeName(folder));
    QList<Child> children;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            children.append({name, ArchiveEntryName::fromBytes(name)});
    }
    const int error = errno;
    ::closedir(dir);
    if (error)
        throwErrno(error, QFile::decodeName(folder));
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return a.text < b.text; });
    return children;
}

// Lists every entry of the items in archive order; the output itself is left out so a folder
// that holds it is not packed into itself.
QList<PlannedEntry> planEntries(const QList<ArchiveWriter::Item>& items, const struct stat& output,
                                qint64& totalBytes)
{
    QList<PlannedEntry> planned;
    totalBytes = 0;
    QList<std::pair<QByteArray, QString>> pending; // path, entry name; taken from the back
    for (qsizetype i = items.size() - 1; i >= 0; --i)
        pending.append({QFile::encodeName(items[i].path), items[i].entryName});

    while (!pending.isEmpty()) {
        const auto [path, name] = pending.takeLast();
        PlannedEntry entry{path, name, {}, {}};
        if (::lstat(path.constData(), &entry.status) != 0)
            throwErrno(errno, QFile::decodeName(path));
        const mode_t mode = entry.status.st_mode;
        if (entry.status.st_dev == output.st_dev && entry.status.st_ino == output.st_ino)
            continue;
        if (S_ISLNK(mode)) {
            QByteArray target(4096, Qt::Uninitialized);
            const ssize_t length = ::readlink(path.constData(), target.data(), size_t(target.size()));
            if (length < 0)
                throwErrno(errno, QFile::decodeName(path));
            target.truncate(length);
            entry.linkTarget = target;
        } else if (S_ISREG(mode)) {
            totalBytes += entry.status.st_size;
        } else if (!S_ISDIR(mode)) {
            qCInfo(enginesLog) << "Left out special file" << QFile::decodeName(path);
            continue;
        }
        planned.append(entry);
        if (S_ISDIR(mode)) {
            const QList<Child> children = childrenOf(path);
            for (qsizetype i = children.size() - 1; i >= 0; --i)
                pending.append({path + '/' + children[i].name,
                                name + QLatin1Char('/') + children[i].text});
        }
    }
    return planned;
}

void copyData(archive* a, const PlannedEntry& entry, std::stop_token stop, qint64& doneBytes,
              qint64 totalBytes, const FractionHandler& onFraction)
{
    const int fd = ::open(entry.path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        throwErrno(errno, entry.name);
    const auto closer = qScopeGuard([fd] { ::close(fd); });
    QByteArray buffer(blockSize, Qt::Uninitialized);
    qint64 left = entry.status.st_size;
    while (left > 0) {
        throwIfCancelled(stop);
        const ssize_t got = ::read(fd, buffer.data(), size_t(std::min<qint64>(left, blockSize)));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throwErrno(errno, entry.name);
        }
        if (got == 0)
            break; // the file shrank; the archive pads the entry to its announced size
        if (archive_write_data(a, buffer.constData(), size_t(got)) < 0)
            archiveFailure(a, entry.name);
        left -= got;
        doneBytes += got;
        if (onFraction && totalBytes > 0)
            onFraction(double(doneBytes) / double(totalBytes));
    }
}

} // namespace

void ArchiveWriter::write(const QList<Item>& items, ArchiveTarget target, const QString& output,
                          std::stop_token stop, const FractionHandler& onFraction)
{
    throwIfCancelled(stop);
    const QByteArray outputPath = QFile::encodeName(output);
    const int fd = ::open(outputPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        throwErrno(errno, output);
    bool finished = false;
    bool closed = false;
    std::unique_ptr<archive, WriteFree> writer;
    const auto cleanup = qScopeGuard([&] {
        writer.reset();
        if (!closed)
            ::close(fd);
        if (!finished)
            ::unlink(outputPath.constData());
    });

    struct stat outputStatus {};
    if (::fstat(fd, &outputStatus) != 0)
        throwErrno(errno, output);
    qint64 totalBytes = 0;
    const QList<PlannedEntry> planned = planEntries(items, outputStatus, totalBytes);

    writer.reset(archive_write_new());
    if (!writer)
        throwErrno(ENOMEM, output);
    archive* a = writer.get();
    switch (target) {
    case ArchiveTarget::zip:
        archive_write_set_format_zip(a);
        break;
    case ArchiveTarget::tar:
        archive_write_set_format_pax_restricted(a);
        break;
    case ArchiveTarget::tarGz:
        archive_write_set_format_pax_restricted(a);
        archive_write_add_filter_gzip(a);
        break;
    }
    if (archive_write_open_fd(a, fd) != ARCHIVE_OK)
        archiveFailure(a, output);

    qint64 doneBytes = 0;
    for (const PlannedEntry& item : planned) {
        throwIfCancelled(stop);
        const struct stat& st = item.status;
        std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
        archive_entry_set_pathname_utf8(entry.get(), item.name.toUtf8().constData());
        archive_entry_set_mode(entry.get(), st.st_mode & (S_IFMT | 07777));
        archive_entry_set_uid(entry.get(), st.st_uid);
        archive_entry_set_gid(entry.get(), st.st_gid);
        archive_entry_set_mtime(entry.get(), st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        if (S_ISLNK(st.st_mode)) {
            // The target as its names were written, so the link still finds them.
            archive_entry_set_symlink_utf8(entry.get(),
                                           ArchiveEntryName::fromBytes(item.linkTarget).toUtf8().constData());
            archive_entry_set_size(entry.get(), 0);
        } else {
            archive_entry_set_size(entry.get(), S_ISREG(st.st_mode) ? st.st_size : 0);
        }
        if (archive_write_header(a, entry.get()) < ARCHIVE_WARN)
            archiveFailure(a, item.name);
        if (S_ISREG(st.st_mode))
            copyData(a, item, stop, doneBytes, totalBytes, onFraction);
        if (archive_write_finish_entry(a) < ARCHIVE_WARN)
            archiveFailure(a, item.name);
    }
    if (archive_write_close(a) != ARCHIVE_OK)
        archiveFailure(a, output);
    // Network filesystems report a failed write-back only when the file is closed.
    closed = true;
    if (::close(fd) != 0)
        throwErrno(errno, output);
    finished = true;
    if (onFraction)
        onFraction(1.0);
}

} // namespace qv
