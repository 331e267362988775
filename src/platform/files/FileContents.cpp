#include "platform/files/FileContents.h"

#include "platform/files/ExclusiveRename.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <unistd.h>

namespace qv {

namespace {

SystemError fileError(const QFileDevice& file, const QString& path)
{
    return SystemError(QStringLiteral("QFileDevice"), static_cast<int>(file.error()),
                       QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

// Writes until every byte is out, then flushes and syncs: Qt 6.4 reports a full disk as a
// short count, and only a second write of the rest turns it into an error with its reason.
std::optional<SystemError> writeAll(QFileDevice& file, const QString& path, const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            if (file.error() == QFileDevice::NoError)
                return SystemError::fromErrno(EIO, QStringLiteral("Cannot write %1").arg(path));
            return fileError(file, path);
        }
        done += written;
    }
    if (!file.flush())
        return fileError(file, path);
    // Some filesystems only find out at this point that the data has no room.
    if (file.handle() >= 0 && ::fsync(file.handle()) != 0) {
        const int code = errno;
        if (code != EINVAL && code != ENOTSUP)
            return SystemError::fromErrno(code, QStringLiteral("Cannot write %1").arg(path));
    }
    return std::nullopt;
}

} // namespace

std::optional<SystemError> FileContents::replace(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    // Unbuffered, so that a full disk shows at the write that meets it, with its reason.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fileError(file, path);
    if (auto error = writeAll(file, path, bytes)) {
        // commit() would put the short file in place; the destructor removes the temporary one.
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return fileError(file, path);
    return std::nullopt;
}

std::optional<SystemError> FileContents::createNew(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    // Beside the target, so that putting it in place is a rename on one filesystem.
    QString temporary;
    QFile file;
    for (int attempt = 0; attempt < 100 && !file.isOpen(); ++attempt) {
        // Not named after the target, whose name may already be as long as names go.
        const quint64 tag = QRandomGenerator::global()->generate64();
        temporary = info.absolutePath() + QStringLiteral("/.quorvenda-%1.part").arg(tag, 0, 36);
        file.setFileName(temporary);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)
            && !file.exists())
            return fileError(file, path);
    }
    if (!file.isOpen()) // not EEXIST: that would say the target is taken
        return SystemError::fromErrno(EAGAIN, QStringLiteral("Cannot write %1").arg(path));

    std::optional<SystemError> error = writeAll(file, path, bytes);
    file.close();
    if (!error && file.error() != QFileDevice::NoError)
        error = fileError(file, path);
    if (!error) {
        if (const int code = ExclusiveRename::move(temporary, path))
            error = SystemError::fromErrno(code, QStringLiteral("Cannot write %1").arg(path));
    }
    if (error)
        QFile::remove(temporary);
    return error;
}

} // namespace qv
