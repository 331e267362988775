#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>
#include <sys/types.h>

namespace qv {

// One started program: the leader of its own process group, standard input from /dev/null (or
// a pipe when asked), standard output and standard error on pipes, killed when the starting
// thread dies.
// Until wait() reaps it, its pid (and so its group id) cannot be reused, which makes
// signalling the group safe from any thread. Destroying it unreaped kills the group and reaps.
class ChildProcess {
public:
    // Throws SystemError when the program cannot be started. An inheritedFd (not -1) reaches
    // the program under the same number; no other descriptor but the standard three does. With
    // ownSession the program leads a session of its own (a group leader cannot start one
    // itself), so that killSession finds whatever it starts, in whatever group.
    ChildProcess(const QString& program, const QStringList& arguments,
                 const std::optional<QHash<QString, QString>>& environment,
                 const std::optional<QString>& workingDirectory, bool pipeInput = false,
                 int inheritedFd = -1, bool ownSession = false);
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

    void closeStdin();
    void closeStdout();
    void closeStderr();

    // Sends the signal to the whole group, and to the program itself when it left the group.
    // Only system calls: safe from any thread while the program is not reaped.
    void signalGroup(int signal) const;
    // SIGKILL to every process of the session the program leads, when it made one: what it
    // started in groups of their own goes with it.
    void killSession() const;
    // True once the program has ended; it stays a zombie until wait().
    bool hasExited() const;
    // Reaps the program and returns its wait status (as waitpid gives it), or -1.
    int wait();

    // SIGKILL to the group of every started program not yet reaped, from any thread: the last
    // resort of a quit whose workers did not end in time. Returns how many groups it signalled.
    static int killEveryGroup();

private:
    pid_t m_pid = -1;
    int m_pidfd = -1;
    int m_stdout = -1;
    int m_stderr = -1;
    int m_stdin = -1;
    std::atomic<bool> m_reaped = false;
};

} // namespace qv
