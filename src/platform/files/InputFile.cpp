#include "platform/files/InputFile.h"

#include "model/errors/EngineError.h"
#include "model/files/NativeFileName.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

const QString InputFile::unreadableNameMessage = QStringLiteral("Quorvenda can't read this file's name");
const QString InputFile::notAllowedMessage = QStringLiteral("Quorvenda isn't allowed to read this file");
const QString InputFile::linkLoopMessage = QStringLiteral("This link goes round in a circle and leads to no file");
const QString InputFile::danglingLinkMessage = QStringLiteral("This link leads to a file that isn't there");

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

EngineError failure(const QString& message, const QString& path, const QString& what)
{
    return EngineError(message, path + QStringLiteral(": ") + what);
}

} // namespace

std::optional<QString> InputFile::specialFileType(unsigned int mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("inode/fifo");
    if (S_ISSOCK(mode))
        return QStringLiteral("inode/socket");
    if (S_ISCHR(mode))
        return QStringLiteral("inode/chardevice");
    if (S_ISBLK(mode))
        return QStringLiteral("inode/blockdevice");
    return std::nullopt;
}

std::optional<QString> InputFile::specialFileMessage(const QString& contentType)
{
    if (contentType == QLatin1String("inode/fifo"))
        return QStringLiteral("This is a pipe, not a file Quorvenda can read");
    if (contentType == QLatin1String("inode/socket"))
        return QStringLiteral("This is a socket, not a file Quorvenda can read");
    if (contentType == QLatin1String("inode/chardevice") || contentType == QLatin1String("inode/blockdevice"))
        return QStringLiteral("This is a device, not a file Quorvenda can read");
    return std::nullopt;
}

std::optional<QString> InputFile::refusedFileMessage(const FileInfo& file)
{
    if (file.isPromise)
        return std::nullopt;
    if (!fileNameIsReadable(file.url))
        return unreadableNameMessage;
    if (!file.isDirectory && file.contentType)
        return specialFileMessage(*file.contentType);
    return std::nullopt;
}

std::optional<EngineError> InputFile::problem(const QUrl& url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const QString path = url.toLocalFile();
    if (!fileNameIsReadable(url))
        return failure(unreadableNameMessage, path,
                       QStringLiteral("the name holds bytes that are not UTF-8: ")
                           + QString::fromLatin1(url.path(QUrl::FullyEncoded).toLatin1()));
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        const int error = errno;
        struct stat link {};
        const bool isLink = ::lstat(native.constData(), &link) == 0 && S_ISLNK(link.st_mode);
        if (error == ELOOP)
            return failure(linkLoopMessage, path, errnoText(error));
        if (error == ENOENT && isLink)
            return failure(danglingLinkMessage, path, errnoText(error));
        if (error == EACCES)
            return failure(notAllowedMessage, path, errnoText(error));
        return std::nullopt;
    }
    if (const std::optional<QString> kind = specialFileType(st.st_mode))
        return failure(*specialFileMessage(*kind), path, *kind);
    // Opening tells what permission bits alone do not (ACLs, root, a read-only mount's rules);
    // a regular file or folder opens at once.
    const int fd = ::open(native.constData(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (S_ISDIR(st.st_mode) ? O_DIRECTORY : 0));
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            return failure(notAllowedMessage, path, errnoText(error));
        if (error == ELOOP)
            return failure(linkLoopMessage, path, errnoText(error));
        return std::nullopt;
    }
    // The name may have been swapped for something else between the two looks.
    struct stat opened {};
    const bool same = ::fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev && opened.st_ino == st.st_ino;
    ::close(fd);
    if (!same) {
        if (const std::optional<QString> kind = specialFileType(opened.st_mode))
            return failure(*specialFileMessage(*kind), path, *kind);
    }
    return std::nullopt;
}

std::optional<EngineError> InputFile::problem(const QList<FileInfo>& files)
{
    for (const FileInfo& file : files) {
        if (std::optional<EngineError> error = problem(file.url))
            return error;
    }
    return std::nullopt;
}

void InputFile::check(const QList<FileInfo>& files)
{
    if (std::optional<EngineError> error = problem(files))
        throw *error;
}

} // namespace qv
