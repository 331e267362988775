#pragma once

#include <QByteArray>

namespace qv {

// Opens a path below a folder held by its descriptor without following a link at any of its
// components and without leaving the folder ("..", absolute paths and magic links refused),
// so that whoever else writes in the folder cannot make it reach anything outside.
class BeneathOpen {
public:
    // The new descriptor (O_CLOEXEC added), or -1 with errno set: ELOOP for a link on the
    // way, EXDEV for a path that leaves the folder or crosses a mount.
    static int open(int folder, const QByteArray& relative, int flags);

    // Whether the path, its links followed, stays within the folder (a dangling end counts as
    // within: nothing outside is reached through it).
    static bool leadsBeneath(int folder, const QByteArray& relative);

    // The same through a walk of single components opened with O_NOFOLLOW, used where the
    // kernel lacks openat2; public so that it can be tested anywhere.
    static int openByWalk(int folder, const QByteArray& relative, int flags);
};

} // namespace qv
