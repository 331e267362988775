#pragma once

#include <QString>
#include <QtGlobal>

namespace qv {

// The room on the filesystem that holds a path, as an unprivileged writer sees it.
struct FreeSpace {
    qint64 available = 0; // bytes an ordinary user may still write
    qint64 capacity = 0;  // bytes the filesystem holds in all
    qint64 blockSize = 0; // the unit in which files take up room

    // Throws SystemError when the filesystem cannot be asked.
    static FreeSpace of(const QString& path);
};

} // namespace qv
