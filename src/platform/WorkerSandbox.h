#pragma once

#include <QString>
#include <QStringList>

namespace qv {

// The walls a worker process puts around itself before it touches a user's file. Each step
// reports whether this kernel allowed it; none can be undone by the process afterwards.
class WorkerSandbox {
public:
    // Its own session, so that whatever it starts can be found and ended with it; no new
    // privileges through set-user-ID programs.
    static bool detach();

    // Address space and CPU time for what follows, this process and the programs it starts.
    // The address space can only be lowered again; the CPU budget counts from now.
    static bool limitMemory(qint64 bytes);
    static bool limitCpuTime(qint64 seconds);

    // Refuses the system calls that decoding never needs: debugging or reaching into other
    // processes, mounts, modules, keyrings, BPF, io_uring, and every socket but a local one. In
    // every thread of the process.
    static bool filterSystemCalls();

    // Writing, creating, removing and renaming only below these folders (and to /dev/null, and
    // making local sockets in /tmp); reading stays open. Where the kernel has them, no TCP
    // (ABI 4), and signals and abstract sockets only within what this process starts (ABI 6).
    // Returns the Landlock ABI in force, 0 when the kernel has none. Binds the calling thread
    // and the threads it starts from now on.
    static int restrictWritesTo(const QStringList& folders);

    // The Landlock ABI the kernel offers, 0 for none.
    static int landlockAbi();
};

} // namespace qv
