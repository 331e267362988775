#include "engines/image/foreign/CheckedVipsTarget.h"

#include "model/errors/SystemError.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace qv {

CheckedVipsTarget::CheckedVipsTarget(const QString& path) : m_path(path)
{
    const QByteArray native = QFile::encodeName(path);
    m_fd = ::open(native.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        m_error = errno;
        return;
    }
    m_target = vips_target_custom_new();
    g_signal_connect(m_target, "write", G_CALLBACK(onWrite), this);
    g_signal_connect(m_target, "read", G_CALLBACK(onRead), this);
    g_signal_connect(m_target, "seek", G_CALLBACK(onSeek), this);
    g_signal_connect(m_target, "end", G_CALLBACK(onEnd), this);
}

CheckedVipsTarget::~CheckedVipsTarget()
{
    if (m_target)
        g_object_unref(m_target);
    if (m_fd >= 0)
        ::close(m_fd);
}

VipsTarget* CheckedVipsTarget::target() const
{
    return m_target ? VIPS_TARGET(m_target) : nullptr;
}

gint64 CheckedVipsTarget::onWrite(VipsTargetCustom*, const void* data, gint64 length, gpointer self)
{
    auto* target = static_cast<CheckedVipsTarget*>(self);
    // After a refusal the bytes go nowhere but the saver is told they went, so that no saver
    // retries; the caller sees the error once the saver returns.
    if (target->m_error != 0 || target->m_fd < 0)
        return length;
    const char* bytes = static_cast<const char*>(data);
    gint64 left = length;
    while (left > 0) {
        const ssize_t written = ::write(target->m_fd, bytes, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            target->m_error = written < 0 ? errno : ENOSPC;
            return length;
        }
        bytes += written;
        left -= written;
    }
    return length;
}

gint64 CheckedVipsTarget::onRead(VipsTargetCustom*, void* data, gint64 length, gpointer self)
{
    auto* target = static_cast<CheckedVipsTarget*>(self);
    if (target->m_fd < 0)
        return -1;
    ssize_t got;
    do
        got = ::read(target->m_fd, data, size_t(length));
    while (got < 0 && errno == EINTR);
    return got;
}

gint64 CheckedVipsTarget::onSeek(VipsTargetCustom*, gint64 offset, int whence, gpointer self)
{
    auto* target = static_cast<CheckedVipsTarget*>(self);
    return target->m_fd < 0 ? -1 : gint64(::lseek(target->m_fd, off_t(offset), whence));
}

int CheckedVipsTarget::onEnd(VipsTargetCustom*, gpointer)
{
    return 0;
}

void CheckedVipsTarget::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_fd >= 0) {
        if (::close(m_fd) != 0 && m_error == 0 && errno != EINTR)
            m_error = errno;
        m_fd = -1;
    }
    if (m_error != 0)
        throw SystemError::fromErrno(m_error, QStringLiteral("Cannot write ") + m_path);
}

void CheckedVipsTarget::write(const char* data, qsizetype size)
{
    if (m_fd >= 0 && m_error == 0 && ::lseek(m_fd, 0, SEEK_END) < 0)
        m_error = errno;
    onWrite(nullptr, data, size, this);
}

void CheckedVipsTarget::writeAt(qint64 offset, const char* data, qsizetype size)
{
    if (m_fd >= 0 && m_error == 0 && ::lseek(m_fd, off_t(offset), SEEK_SET) < 0)
        m_error = errno;
    onWrite(nullptr, data, size, this);
}

void CheckedVipsTarget::writeFile(const QString& path, const char* data, qsizetype size)
{
    CheckedVipsTarget file(path);
    if (!file.target())
        throw SystemError::fromErrno(file.error(), QStringLiteral("Cannot write ") + path);
    onWrite(nullptr, data, size, &file);
    try {
        file.finish();
    } catch (...) {
        QFile::remove(path);
        throw;
    }
}

} // namespace qv
