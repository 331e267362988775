#pragma once

#include <QString>

#include <functional>

namespace qv {

// Moves an item to a path that must not exist yet: never replaces a file or a folder, even when
// several threads or programs race for the same name. Only the last resort, where the kernel
// gives neither RENAME_NOREPLACE nor hard links, leaves a short window (see the .cpp).
class ExclusiveRename {
public:
    // 0 on success, else the errno value: EEXIST or ENOTEMPTY when the target is taken, EXDEV
    // across filesystems, ENOENT when on the last resort another program took the moved item's
    // place at once (it is gone from both paths).
    static int move(const QString& from, const QString& to);

    // The same promise where the kernel refuses RENAME_NOREPLACE: link and unlink for a file,
    // moveOntoReservation for a folder or where hard links fail. Used by move(); public so that
    // it can be tested anywhere.
    static int moveWithoutNoReplace(const QString& from, const QString& to);

    // Claims the target with an empty item of our own, then renames the item over it.
    // onStep lets tests act as another program would, once the reservation is made and once
    // the item is moved.
    enum class Step { reserved, moved };
    static int moveOntoReservation(const QString& from, const QString& to,
                                   const std::function<void(Step)>& onStep = {});
};

} // namespace qv
