#pragma once

#include <QHash>
#include <QList>
#include <QtGlobal>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <optional>
#include <vector>
#include <sys/types.h>

namespace qv {

// One started program: the leader of its own process group, standard input from /dev/null (or
// a pipe when asked), standard output and standard error on pipes, killed when the starting
// thread dies. Its address space is held to memoryLimit() (or to ours when that is lower), so
// that a file that makes a converter allocate without end fails instead of taking the machine.
// Until wait() reaps it, its pid (and so its group id) cannot be reused, which makes
// signalling the group safe from any thread. Destroying it unreaped kills the group and reaps.
class ChildProcess {
public:
    enum class Role {
        // Held to memoryLimit(), in a process group of its own.
        program,
        // Our worker or player: it sets its own memory limit, which must not be capped below
        // it, and whatever it starts, in whatever group or session, stays its descendant (it
        // adopts orphans) to be found and ended with it. It stays in our session: a session
        // of its own would be an autogroup of its own, a full share of the processors beside
        // the user's programs for each worker.
        worker,
        // A worker or player walled in further where the kernel lets an ordinary user do it:
        // its own user, mount, PID, network and IPC namespaces, under a small init that ends
        // everything in them when the program ends. The program finds QUORVENDA_SANDBOX set to
        // "namespaces" and may still mount (its view of the files is its to build) until it
        // drops that right. Where namespaces are refused (or QUORVENDA_NO_NAMESPACES is set),
        // as worker, but under a keeper (the pid given, as an init would be): it adopts what
        // the program leaves, and when the program ends, or we are gone or kill it, it kills
        // everything below it and ends once nothing is left.
        sandbox,
    };

    // While one lives, every program started from this thread also runs under the seccomp
    // program given (raw BPF, a sock_filter array), put in place between the fork and the start.
    class ExtraFilter {
    public:
        explicit ExtraFilter(const QByteArray& program);
        ~ExtraFilter();
        ExtraFilter(const ExtraFilter&) = delete;
        ExtraFilter& operator=(const ExtraFilter&) = delete;

    private:
        QByteArray m_previous;
    };

    // Throws SystemError when the program cannot be started. An inheritedFd (not -1) reaches
    // the program under the same number; no other descriptor but the standard three does.
    ChildProcess(const QString& program, const QStringList& arguments,
                 const std::optional<QHash<QString, QString>>& environment,
                 const std::optional<QString>& workingDirectory, bool pipeInput = false,
                 Role role = Role::program, int inheritedFd = -1);
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    int stdoutFd() const { return m_stdout; }
    int stderrFd() const { return m_stderr; }
    // The write end of standard input's pipe; -1 without one.
    int stdinFd() const { return m_stdin; }
    // Readable once the program has ended; -1 when the kernel has no pidfd.
    int pidFd() const { return m_pidfd; }
    // True when it runs in namespaces of its own (Role::sandbox where the kernel allowed it).
    bool isolated() const { return m_isolated; }
    // The program's own pid: pid() but in namespaces, where pid() is its init's; -1 once it ended.
    pid_t programPid() const;

    // Every process of its sandbox that has not ended: with namespaces, every process in its
    // PID namespace; else the session it leads and every process below it. Its own pid first.
    QList<pid_t> sandboxMembers() const;

    void closeStdin();
    void closeStdout();
    void closeStderr();

    // Sends the signal to the whole group, and to the program itself when it left the group.
    // Only system calls: safe from any thread while the program is not reaped.
    void signalGroup(int signal) const;
    // SIGKILL to the program's group and to every process descending from it (a worker's): what
    // it started in groups or sessions of their own goes with it.
    void killSession() const;
    // The signal to every living process descending from the program; returns how many got it.
    int signalSessionMembers(int signal) const;
    // The living processes descending from the program, children first.
    std::vector<pid_t> descendants() const;
    // True once the program has ended; it stays a zombie until wait().
    bool hasExited() const;
    // Waits at most that long for the program to end by itself; true when it did.
    bool waitForEnd(std::chrono::milliseconds limit) const;
    // Reaps the program and returns its wait status (as waitpid gives it), or -1.
    int wait();

    // The address space every program started from now on may use, in bytes; 0 or less for no
    // limit of our own. From any thread.
    static void setMemoryLimit(qint64 bytes);
    static qint64 memoryLimit();
    // As the worker memory setting gives it: megabytes, values below 256 meaning the default.
    static qint64 memoryLimitForSetting(int megabytes);
    static constexpr qint64 defaultMemoryLimit = qint64(4096) << 20;

    // The largest resident size the program reached, in bytes, counting the programs it waited
    // for; 0 until wait() has reaped it.
    qint64 peakResidentBytes() const { return m_peakResident; }
    // The address space limit it started with, in bytes; 0 for none.
    qint64 startedMemoryLimit() const { return m_memoryLimit; }

    // SIGKILL to the group of every started program not yet reaped, from any thread: the last
    // resort of a quit whose workers did not end in time. Returns how many groups it signalled.
    static int killEveryGroup();

private:
    pid_t m_pid = -1;
    int m_pidfd = -1;
    int m_stdout = -1;
    int m_stderr = -1;
    int m_stdin = -1;
    // Where the init of a sandbox writes how the program ended.
    int m_status = -1;
    bool m_isolated = false;
    bool m_kept = false;
    std::atomic<bool> m_reaped = false;
    qint64 m_peakResident = 0;
    qint64 m_memoryLimit = 0;
    Role m_role = Role::program;
};

} // namespace qv
