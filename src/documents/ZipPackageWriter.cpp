#include "documents/ZipPackageWriter.h"

#include "model/CancellationError.h"
#include "model/SystemError.h"

#include <QDateTime>
#include <QFile>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace qv {

ZipPackageWriter::ZipPackageWriter(const QString& path, std::stop_token stop)
    : m_path(path), m_stop(std::move(stop))
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0)
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot create ") + path);
    m_archive = archive_write_new();
    if (!m_archive) {
        ::close(m_fd);
        ::unlink(QFile::encodeName(path).constData());
        throw std::bad_alloc();
    }
    archive_write_set_format_zip(m_archive);
    // Streamed entries would otherwise get Zip64 records, which some readers refuse; our
    // packages stay far below 4 GiB.
    archive_write_set_format_option(m_archive, "zip", "zip64", nullptr);
    archive_write_set_bytes_per_block(m_archive, 0);
    if (archive_write_open(m_archive, this, nullptr, &ZipPackageWriter::writeOut, nullptr) != ARCHIVE_OK)
        fail();
}

ZipPackageWriter::~ZipPackageWriter()
{
    if (m_archive)
        archive_write_free(m_archive); // also closes; its complaints no longer matter
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_finished)
        ::unlink(QFile::encodeName(m_path).constData());
}

ssize_t ZipPackageWriter::writeOut(archive* a, void* self, const void* buffer, size_t length)
{
    auto* writer = static_cast<ZipPackageWriter*>(self);
    const char* bytes = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(writer->m_fd, bytes + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            writer->m_writeError = n < 0 ? errno : ENOSPC;
            archive_set_error(a, writer->m_writeError, "write failed");
            return -1;
        }
        done += size_t(n);
    }
    return ssize_t(length);
}

void ZipPackageWriter::fail()
{
    const int error = m_writeError ? m_writeError
                                   : (archive_errno(m_archive) > 0 ? archive_errno(m_archive) : EIO);
    throw SystemError::fromErrno(error, QStringLiteral("Cannot write ") + m_path);
}

void ZipPackageWriter::header(const QString& name, Method method, qint64 size)
{
    throwIfCancelled(m_stop);
    if (method == Method::stored)
        archive_write_zip_set_compression_store(m_archive);
    else
        archive_write_zip_set_compression_deflate(m_archive);
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                        archive_entry_free);
    archive_entry_copy_pathname(entry.get(), name.toUtf8().constData());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_mtime(entry.get(), QDateTime::currentSecsSinceEpoch(), 0);
    if (size >= 0)
        archive_entry_set_size(entry.get(), size);
    if (archive_write_header(m_archive, entry.get()) != ARCHIVE_OK)
        fail();
}

void ZipPackageWriter::data(const QByteArray& bytes)
{
    throwIfCancelled(m_stop);
    if (bytes.isEmpty())
        return;
    if (archive_write_data(m_archive, bytes.constData(), size_t(bytes.size())) != bytes.size())
        fail();
}

void ZipPackageWriter::add(const QString& name, const QByteArray& bytes, Method method)
{
    header(name, method, bytes.size());
    data(bytes);
}

void ZipPackageWriter::begin(const QString& name)
{
    header(name, Method::deflated, -1);
}

void ZipPackageWriter::write(const QByteArray& bytes)
{
    data(bytes);
}

void ZipPackageWriter::finish()
{
    throwIfCancelled(m_stop);
    if (archive_write_close(m_archive) != ARCHIVE_OK)
        fail();
    if (::fsync(m_fd) != 0)
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot write ") + m_path);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot write ") + m_path);
    m_finished = true;
}

} // namespace qv
