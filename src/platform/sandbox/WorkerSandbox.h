#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace qv {

// The walls a worker process puts around itself before it touches a user's file. Each step
// reports whether this kernel allowed it; none can be undone by the process afterwards.
class WorkerSandbox {
public:
    // No new privileges through set-user-ID programs; what its programs leave behind when they
    // end becomes its own child, to be found and ended with it.
    static bool detach();

    // True when the process was started in namespaces of its own (ChildProcess::Role::sandbox).
    static bool isolated();

    // In its own namespaces: from now on the process and what it starts see only the system's
    // folders (read-only), the readable folders (read-only, their hidden entries left out),
    // the writable ones, the folders of the programs it runs, and private /tmp, /dev and
    // /proc; nothing else of the home folder or /tmp. The files given are shown even when
    // hidden. A file given with a descriptor held on it (by its path) is shown at its path as
    // the file that descriptor holds, whatever the path leads to now. Then gives up the right to
    // mount. False, changing nothing, outside namespaces or when the kernel refused a step.
    static bool enterView(const QStringList& readable, const QStringList& files, const QStringList& writable,
                          const QHash<QString, int>& held = {});

    // Why the last view could not be built (a step, a path and the system's reason); empty when
    // nothing failed, or when the kernel let no view be made at all (no namespaces, or no right
    // to mount in them).
    static QString viewFailure();

    // The player's view, as enterView's: the system's folders, the file it plays (not the
    // files beside it), the sound server's sockets in the runtime folder, the sound and graphics
    // cards' devices and its own folder. False, changing nothing but giving up the right to
    // mount, outside namespaces or when the kernel refused a step.
    static bool enterPlayerView(const QString& file);

    // In its own namespaces, gives up the right to mount without building a view.
    static void keepView();

    // Every wall the player puts up before it opens the file it plays (a local one, or none):
    // its view (enterPlayerView), else Landlock reading only what the view would show; the
    // seccomp filter; writing only in its own folder (TMPDIR). True when reads are narrowed.
    static bool wallPlayer(const QString& file);

    // At most this many processes and threads at once for everything it starts: in its own
    // user namespace, where the count is its own; elsewhere the kernel counts every process of
    // the user, so the bound is what the user runs now plus this many.
    static bool limitProcesses(int count);

    // Ends every process it started that is still running, also those that left its session.
    static void endStrays();

    // Address space and CPU time for what follows, this process and the programs it starts.
    // The address space can only be lowered again; the CPU budget counts from now.
    static bool limitMemory(qint64 bytes);
    static bool limitCpuTime(qint64 seconds);

    // Refuses the system calls that decoding never needs: debugging or reaching into other
    // processes, mounts, namespaces (by unshare, setns or clone; clone3 answers that it does
    // not exist), modules, keyrings, BPF, io_uring, and every socket but a local one. Unless it
    // may connect (the player reaches the sound server), no local socket is reached by its name
    // either: connect is refused and no datagram socket is made (a socket pair still is). In
    // every thread of the process.
    static bool filterSystemCalls(bool mayConnect = false);

    // Writing, creating, removing and renaming only below these folders (and to /dev/null, and
    // making local sockets in /tmp); reading stays open. Where the kernel has them, no TCP
    // (ABI 4), and signals and abstract sockets only within what this process starts (ABI 6).
    // Returns the Landlock ABI in force, 0 when the kernel has none. Binds the calling thread
    // and the threads it starts from now on.
    static int restrictWritesTo(const QStringList& folders);

    // As restrictWritesTo, and reading too, where no view hides the rest: only the system's
    // folders, /proc, the usual devices, the folders of its programs, the writable folders,
    // the files given, and what is not hidden in the readable folders as it is now (a file
    // made there later is not read: mayRead says so). Nothing else of the home folder or /tmp.
    // A file given with a descriptor held on it (by its path) is read as the file it holds,
    // not as what its path leads to now.
    static int restrictTo(const QStringList& writable, const QStringList& readable, const QStringList& files,
                          const QHash<QString, int>& held = {});

    // False when the walls keep this process from reading the file or folder.
    static bool mayRead(const QString& path);

    // True once restrictTo keeps what this process starts out of /tmp: no view of its own, so
    // /tmp is everyone's. A program that makes a socket there must be told another place.
    static bool keepsOutOfTmp();

    // A seccomp program (raw BPF, for ChildProcess::ExtraFilter) under which asking whether a
    // path may be written (access, faccessat) always hears no. Empty when none can be made.
    static QByteArray writeChecksRefused();

    // The Landlock ABI the kernel offers, 0 for none.
    static int landlockAbi();

private:
    struct Reads {
        QStringList folders;
        QStringList files;
        QHash<QString, int> held;
    };
    static int applyLandlock(const QStringList& writable, const Reads* reads);
    struct Shown {
        QString path;
        bool readOnly = true;
    };
    static bool buildView(const QStringList& readable, const QStringList& files, const QStringList& writable,
                          const QList<Shown>& shown, const QHash<QString, int>& held = {});
};

} // namespace qv
