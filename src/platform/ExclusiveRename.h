#pragma once

#include <QString>

namespace qv {

// Moves an item to a path that must not exist yet: never replaces a file or a folder, even when
// several threads or programs race for the same name.
class ExclusiveRename {
public:
    // 0 on success, else the errno value: EEXIST or ENOTEMPTY when the target is taken, EXDEV
    // across filesystems.
    static int move(const QString& from, const QString& to);

    // The same promise where the kernel refuses RENAME_NOREPLACE: link and unlink for a file,
    // a reserved name for a folder. Used by move(); public so that it can be tested anywhere.
    static int moveWithoutNoReplace(const QString& from, const QString& to);
};

} // namespace qv
