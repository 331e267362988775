#pragma once

#include <QString>
#include <QStringList>

namespace qv {

// The folders that running items and waiting jobs still use. A purge never touches them,
// however old they look. Process-wide and thread-safe; a path may be added more than once and
// stays live until it is removed as often.
class WorkFolderRegistry {
public:
    static void add(const QString& path);
    static void remove(const QString& path);
    static bool contains(const QString& path);
    static QStringList paths();
};

} // namespace qv
