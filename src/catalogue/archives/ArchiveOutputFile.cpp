#include "catalogue/archives/ArchiveOutputFile.h"

#include "model/errors/SystemError.h"
#include "model/Log.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

[[noreturn]] void fail(int code, const QString& path)
{
    throw SystemError::fromErrno(code, path);
}

} // namespace

ArchiveOutputFile::ArchiveOutputFile(const QString& path, mode_t mode, Mode how)
    : m_path(path)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (how == Mode::replaceContents) {
        m_fd = ::open(encoded.constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    } else {
        const auto create = [&] {
            return ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777);
        };
        m_fd = create();
        // A later entry of the same name wins, as with any unpacker. Looked at only when the
        // name is taken: most entries are new.
        struct stat st {};
        if (m_fd < 0 && errno == EEXIST && how == Mode::create && ::lstat(encoded.constData(), &st) == 0) {
            const int removed = S_ISDIR(st.st_mode) ? ::rmdir(encoded.constData())
                                                    : ::unlink(encoded.constData());
            if (removed != 0)
                fail(errno, path);
            m_fd = create();
        }
    }
    if (m_fd < 0)
        fail(errno, path);
}

ArchiveOutputFile::~ArchiveOutputFile()
{
    // Only reached open on a failure, which is already being reported.
    if (m_fd >= 0)
        ::close(m_fd);
}

void ArchiveOutputFile::write(const void* data, std::size_t size, qint64 offset)
{
    if (m_fd < 0 || offset < m_end)
        fail(EINVAL, m_path);
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::pwrite(m_fd, bytes, size, offset);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno, m_path);
        }
        // No progress at all means no room, whatever the call says.
        if (written == 0)
            fail(ENOSPC, m_path);
        bytes += written;
        size -= std::size_t(written);
        offset += written;
    }
    m_end = offset;
}

void ArchiveOutputFile::finish(qint64 size, const std::optional<timespec>& modified,
                               const std::optional<timespec>& accessed)
{
    if (m_fd < 0)
        fail(EBADF, m_path);
    if (size > m_end) {
        if (::ftruncate(m_fd, size) != 0)
            fail(errno, m_path);
        m_end = size;
    }
    if (modified) {
        const timespec times[2] = {accessed.value_or(*modified), *modified};
        // Times are kept where the filesystem can hold them; the data matters more.
        if (::futimens(m_fd, times) != 0)
            qCInfo(enginesLog) << "Could not set the times of" << m_path << ":" << errno;
    }
    const int fd = m_fd;
    m_fd = -1;
    // Network filesystems report a failed write-back only here.
    if (::close(fd) != 0)
        fail(errno, m_path);
}

} // namespace qv
