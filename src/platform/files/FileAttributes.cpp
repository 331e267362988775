#include "platform/files/FileAttributes.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace qv {

namespace {

constexpr const char* tagAttribute = "user.xdg.tags";

timespec toTimespec(const QDateTime& time)
{
    const qint64 ms = time.toMSecsSinceEpoch();
    timespec value {};
    value.tv_sec = time_t(ms / 1000);
    value.tv_nsec = long(ms % 1000) * 1000000L;
    if (value.tv_nsec < 0) {
        value.tv_sec -= 1;
        value.tv_nsec += 1000000000L;
    }
    return value;
}

QDateTime fromTimespec(const timespec& value)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(value.tv_sec) * 1000 + value.tv_nsec / 1000000,
                                          Qt::UTC);
}

} // namespace

QStringList FileAttributes::tags(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    const ssize_t size = ::getxattr(encoded.constData(), tagAttribute, nullptr, 0);
    if (size <= 0)
        return {};
    QByteArray value(size, '\0');
    const ssize_t got = ::getxattr(encoded.constData(), tagAttribute, value.data(), size_t(size));
    if (got <= 0)
        return {};
    value.truncate(got);
    QStringList result;
    for (const QString& tag : QString::fromUtf8(value).split(QLatin1Char(','))) {
        if (!tag.trimmed().isEmpty())
            result.append(tag.trimmed());
    }
    return result;
}

bool FileAttributes::setTags(const QString& path, const QStringList& tags)
{
    const QByteArray value = tags.join(QLatin1Char(',')).toUtf8();
    return ::setxattr(QFile::encodeName(path).constData(), tagAttribute, value.constData(),
                      size_t(value.size()), 0) == 0;
}

bool FileAttributes::setTags(int fd, const QStringList& tags)
{
    const QByteArray value = tags.join(QLatin1Char(',')).toUtf8();
    return ::fsetxattr(fd, tagAttribute, value.constData(), size_t(value.size()), 0) == 0;
}

std::optional<FileAttributes::Dates> FileAttributes::dates(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return Dates{fromTimespec(status.st_atim), fromTimespec(status.st_mtim)};
}

bool FileAttributes::setDates(const QString& path, const Dates& dates)
{
    const timespec times[2] = {toTimespec(dates.accessed), toTimespec(dates.modified)};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times,
                       AT_SYMLINK_NOFOLLOW) == 0;
}

bool FileAttributes::setDates(int fd, const Dates& dates)
{
    const timespec times[2] = {toTimespec(dates.accessed), toTimespec(dates.modified)};
    return ::futimens(fd, times) == 0;
}

} // namespace qv
