#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace qv {

// The attributes a result inherits from its source: the desktop's tags (the "user.xdg.tags"
// extended attribute, comma-separated) and the dates. Linux has no settable creation date, so
// dates are the access and modification times. Failures are reported, never thrown.
class FileAttributes {
public:
    static QStringList tags(const QString& path);
    static bool setTags(const QString& path, const QStringList& tags);
    // The same for an item held open, whatever its path holds meanwhile.
    static bool setTags(int fd, const QStringList& tags);

    struct Dates {
        QDateTime accessed;
        QDateTime modified;
    };
    static std::optional<Dates> dates(const QString& path);
    static bool setDates(const QString& path, const Dates& dates);
    static bool setDates(int fd, const Dates& dates);
};

} // namespace qv
