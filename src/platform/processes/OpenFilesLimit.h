#pragma once

#include <sys/resource.h>

namespace qv {

// How many files this process may hold open at once.
class OpenFilesLimit {
public:
    OpenFilesLimit() = delete;

    // Raises the soft limit to the hard one and returns the soft limit now in force.
    // Desktops start programs with 1024, which an item of a few hundred inputs, each held open
    // until it ends, would exhaust; the hard limit (524288 where systemd sets it) is what the
    // system grants. Nothing of ours waits with select(), the one call that 1024 protects.
    // Called before any worker starts, since a worker keeps the limit it started with.
    static rlim_t raise();

    // In a child between fork and exec: the limit this process started with, for a program
    // that may use select() (a worker raises its own again). Async-signal-safe.
    static void restoreInChild() noexcept;
};

} // namespace qv
