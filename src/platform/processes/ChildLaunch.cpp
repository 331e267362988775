#include "platform/processes/ChildLaunch.h"

#include "platform/processes/OpenFilesLimit.h"

#include <QDataStream>
#include <QIODevice>
#include <QList>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/close_range.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <memory>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qv {

namespace {

// Far more than the few system calls before an exec take, the dynamic linker's first binding
// of each included.
constexpr std::size_t programStackBytes = 256 * 1024;

// The address and thread sanitizers' runtimes do not follow a process that runs in its
// parent's memory on a stack of their own: there it is a copy, as from fork.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool programSharesInitMemory = false;
#else
constexpr bool programSharesInitMemory = true;
#endif

[[noreturn]] void failInChild(int writeFd, int step)
{
    const ChildLaunch::Failure failure{step, errno};
    [[maybe_unused]] const ssize_t written = ::write(writeFd, &failure, sizeof failure);
    ::_exit(127);
}

bool writeWhole(const char* path, const QByteArray& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.constData(), std::size_t(text.size())) == text.size();
    return ::close(fd) == 0 && written;
}

// Keeps the right to mount across the exec, so the program can build its own view of the
// files; it holds only in the new user namespace, and the program drops it when done.
void keepMountRight()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return;
    data[0].inheritable |= 1U << CAP_SYS_ADMIN;
    if (::syscall(SYS_capset, &header, data) == 0)
        ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_SYS_ADMIN, 0, 0);
}

// What an exec with the right to mount kept leaves a program: that right alone, or every
// right for root's. A program entered without an exec would keep every right its init holds
// in the namespace.
void keepOnlyMountRight()
{
    if (::geteuid() == 0) {
        keepMountRight();
        return;
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    data[0].effective = data[0].permitted = data[0].inheritable = 1U << CAP_SYS_ADMIN;
    if (::syscall(SYS_capset, &header, data) == 0)
        ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_SYS_ADMIN, 0, 0);
}

// The init of a sandbox: reaps whatever ends in it and, when the program ends, reports how
// and ends, which ends everything else in its namespace.
[[noreturn]] void runInit(pid_t program, int statusFd)
{
    for (int fd = 0; fd < 3; ++fd)
        ::close(fd);
    ::syscall(SYS_close_range, 3U, unsigned(statusFd - 1), 0U);
    ::syscall(SYS_close_range, unsigned(statusFd + 1), ~0U, 0U);
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(-1, &status, 0);
        if (ended == program) {
            [[maybe_unused]] const ssize_t written = ::write(statusFd, &status, sizeof status);
            ::_exit(0);
        }
        if (ended < 0 && errno != EINTR)
            ::_exit(127);
    }
}

// The pids in a /proc children list, at most capacity of them; how many.
int childList(pid_t self, pid_t* pids, int capacity)
{
    char path[64];
    // No allocation after fork: the path is written by hand.
    char digits[16];
    int length = 0;
    for (unsigned value = unsigned(self); value > 0 || length == 0; value /= 10)
        digits[length++] = char('0' + value % 10);
    const char prefix[] = "/proc/self/task/";
    const char suffix[] = "/children";
    int at = 0;
    for (const char* c = prefix; *c; ++c)
        path[at++] = *c;
    while (length > 0)
        path[at++] = digits[--length];
    for (const char* c = suffix; *c; ++c)
        path[at++] = *c;
    path[at] = 0;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int count = 0;
    long current = -1;
    char chunk[512];
    ssize_t got;
    while (count < capacity && (got = ::read(fd, chunk, sizeof chunk)) > 0) {
        for (ssize_t i = 0; i < got && count < capacity; ++i) {
            if (chunk[i] >= '0' && chunk[i] <= '9') {
                current = (current < 0 ? 0 : current * 10) + (chunk[i] - '0');
            } else if (current >= 0) {
                pids[count++] = pid_t(current);
                current = -1;
            }
        }
    }
    if (current >= 0 && count < capacity)
        pids[count++] = pid_t(current);
    ::close(fd);
    return count;
}

// The keeper of a worker where no namespaces can be made: it adopts every orphan below it, and
// when the worker ends, or when it is asked (SIGTERM: the application's end, or its kill of the
// worker), it kills everything below it, however started, and ends once none is left. Then it
// reports how the worker ended. The worker's walls refuse it any signal.
[[noreturn]] void runKeeper(pid_t program, int statusFd)
{
    for (int fd = 0; fd < 3; ++fd)
        ::close(fd);
    ::syscall(SYS_close_range, 3U, unsigned(statusFd - 1), 0U);
    ::syscall(SYS_close_range, unsigned(statusFd + 1), ~0U, 0U);
    sigset_t wanted;
    sigemptyset(&wanted);
    sigaddset(&wanted, SIGTERM);
    sigaddset(&wanted, SIGCHLD);
    int status = 0;
    bool ended = false;
    const auto reap = [&](int flags) {
        int got = 0;
        for (;;) {
            int one = 0;
            const pid_t gone = ::waitpid(-1, &one, flags);
            if (gone < 0 && errno == EINTR)
                continue;
            if (gone <= 0)
                return gone < 0 && errno == ECHILD ? -1 : got;
            ++got;
            if (gone == program) {
                status = one;
                ended = true;
            }
            flags |= WNOHANG;
        }
    };
    while (!ended) {
        siginfo_t info{};
        if (::sigwaitinfo(&wanted, &info) < 0)
            continue;
        if (info.si_signo == SIGTERM)
            break;
        if (reap(WNOHANG) < 0)
            break;
    }
    const pid_t self = pid_t(::syscall(SYS_getpid));
    pid_t below[1024];
    for (;;) {
        const int count = childList(self, below, 1024);
        for (int i = 0; i < count; ++i)
            ::kill(below[i], SIGKILL);
        // Their orphans come to us as they die; none left when there is nothing to wait for.
        if (reap(0) < 0)
            break;
    }
    [[maybe_unused]] const ssize_t written = ::write(statusFd, &status, sizeof status);
    ::_exit(0);
}

// The process the program runs in, made by its init or keeper. Not fork() where the program
// is executed: fork's handlers take locks another thread of ours may have held. Where its
// entry runs instead, fork(): the process was one thread when it forked, and the C library
// must know the new process's thread as its own.
pid_t forkProgram(bool entered)
{
    return entered ? ::fork() : pid_t(::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
}

} // namespace

ChildLaunch::Started ChildLaunch::start()
{
    // Everything the child needs is made here: after the fork nothing may be allocated.
    std::vector<char*> argv;
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const QByteArray& entry : environment)
        envp.push_back(const_cast<char*>(entry.constData()));
    std::vector<char*> isolatedEnvp = envp;
    static char mark[] = "QUORVENDA_SANDBOX=namespaces";
    isolatedEnvp.push_back(mark);
    isolatedEnvp.push_back(nullptr);
    envp.push_back(nullptr);
    sock_fprog filterProgram{};
    filterProgram.len = static_cast<unsigned short>(filter.size() / qsizetype(sizeof(sock_filter)));
    filterProgram.filter = reinterpret_cast<sock_filter*>(const_cast<char*>(filter.constData()));
    const char* name = path.constData();
    for (const char* c = name; *c; ++c) {
        if (*c == '/')
            name = c + 1;
    }
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    // The stack of the program's process in namespaces, which shares its init's memory until
    // the exec.
    const bool sharesInitMemory = isolate && programSharesInitMemory && !main;
    std::unique_ptr<char[]> programStack(sharesInitMemory ? new char[programStackBytes] : nullptr);
    const unsigned long sibling = asSibling ? CLONE_PARENT : 0;

    pid_t pid = -1;
    bool inNamespaces = false;
    // What the child does last, in whichever process runs the program: system calls only.
    const auto startProgram = [&] {
        if (::dup2(stdinFd, STDIN_FILENO) < 0 || ::dup2(stdoutFd, STDOUT_FILENO) < 0 || ::dup2(stderrFd, STDERR_FILENO) < 0)
            failInChild(reportFd, 2);
        if (main) {
            // No exec closes anything: what the program is not given is closed now, the
            // report last, once nothing can fail.
            if (inheritedFd >= 0 && inheritedFd != inheritedTarget && ::dup2(inheritedFd, inheritedTarget) < 0)
                failInChild(reportFd, 2);
        } else {
            // Descriptors other threads opened without O_CLOEXEC must not reach the program.
            ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
            if (inheritedFd >= 0 && ::fcntl(inheritedFd, F_SETFD, 0) != 0)
                failInChild(reportFd, 2);
        }
        if (!directory.isEmpty() && ::chdir(directory.constData()) != 0)
            failInChild(reportFd, 0);
        if (filterProgram.len > 0
            && (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filterProgram) != 0))
            failInChild(reportFd, 2);
        // Last: until the exec closes them, this child holds every descriptor we hold.
        OpenFilesLimit::restoreInChild();
        char** const programEnvironment = inNamespaces ? isolatedEnvp.data() : envp.data();
        if (main) {
            if (inheritedTarget >= 0) {
                ::syscall(SYS_close_range, 3U, unsigned(inheritedTarget - 1), 0U);
                ::syscall(SYS_close_range, unsigned(inheritedTarget + 1), ~0U, 0U);
            } else {
                ::syscall(SYS_close_range, 3U, ~0U, 0U);
            }
            environ = programEnvironment;
            ::prctl(PR_SET_NAME, name, 0, 0, 0);
            ::_exit(main(int(argv.size() - 1), argv.data()));
        }
        ::execve(path.constData(), argv.data(), programEnvironment);
        failInChild(reportFd, 1);
    };
    // The program's process in namespaces: the init's death signal ends it too, and it keeps
    // the right to mount.
    const auto runProgram = [](void* self) -> int {
        const auto& launch = *static_cast<const decltype(startProgram)*>(self);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        keepMountRight();
        launch();
        return 127;
    };
    if (isolate) {
        // As fork, the child the init of its own namespaces.
        pid = pid_t(::syscall(SYS_clone, CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWIPC | sibling | SIGCHLD,
                              0, 0, 0, 0));
        inNamespaces = pid >= 0;
    }
    // Where the kernel refused the namespaces, the keeper stands in for their init, as where
    // they were never asked for: else what a decoder leaves when it kills its worker would be
    // nobody's to end.
    const bool keeper = (keep && !isolate) || (isolate && !inNamespaces);
    if (pid < 0)
        pid = asSibling ? pid_t(::syscall(SYS_clone, CLONE_PARENT | SIGCHLD, 0, 0, 0, 0)) : ::fork();
    if (pid < 0)
        return {};
    if (pid == 0) {
        // Dispositions first, so a pending signal never runs one of our handlers in the child.
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sig != SIGKILL && sig != SIGSTOP)
                ::sigaction(sig, &defaultAction, nullptr);
        }
        ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
        ::setpgid(0, 0);
        // Whatever a worker starts stays below it, orphans too (a shell's background job,
        // LibreOffice's soffice.bin): ended with it, nothing outlives it.
        if (subreaper)
            ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        if (addressSpace)
            ::setrlimit(RLIMIT_AS, &*addressSpace);
        // What the application turned off for its own memory (HugePageMalloc) is not the program's.
        ::prctl(PR_SET_THP_DISABLE, 0, 0, 0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // Seen from a new PID namespace, the parent is no process at all.
        if (!inNamespaces && ::getppid() != parent)
            ::_exit(127); // the parent died before the death signal was armed
        if (inNamespaces) {
            if (!writeWhole("/proc/self/setgroups", "deny") || !writeWhole("/proc/self/uid_map", uidMap)
                || !writeWhole("/proc/self/gid_map", gidMap))
                failInChild(reportFd, 3);
            // The program's process shares the init's memory until its exec, as vfork does:
            // no copy of this process's page tables is made for it and dropped at the exec
            // (both on the way to every worker's start). Its own stack; the init waits meanwhile.
            void* const self = const_cast<void*>(static_cast<const void*>(&startProgram));
            const pid_t child = sharesInitMemory
                ? ::clone(runProgram, programStack.get() + programStackBytes, CLONE_VM | CLONE_VFORK | SIGCHLD, self)
                : forkProgram(main != nullptr);
            if (child < 0)
                failInChild(reportFd, 1);
            if (child == 0) {
                if (main) {
                    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                    keepOnlyMountRight();
                    startProgram();
                }
                runProgram(self);
            }
            runInit(child, statusFd);
        } else if (keeper) {
            // Asked to end, or left by us, it ends what it keeps first.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            sigset_t kept;
            sigemptyset(&kept);
            sigaddset(&kept, SIGTERM);
            sigaddset(&kept, SIGCHLD);
            ::sigprocmask(SIG_BLOCK, &kept, nullptr);
            if (::getppid() != parent)
                ::_exit(127);
            const pid_t child = forkProgram(main != nullptr);
            if (child < 0)
                failInChild(reportFd, 1);
            if (child > 0)
                runKeeper(child, statusFd);
            ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
            // A group of its own: what it signals as its group is never its keeper.
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        }
        startProgram();
    }
    return {pid, inNamespaces, keeper};
}

QByteArray ChildLaunch::encode() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << path << QList<QByteArray>(arguments.begin(), arguments.end())
        << QList<QByteArray>(environment.begin(), environment.end()) << directory << filter << uidMap << gidMap
        << bool(addressSpace) << quint64(addressSpace ? addressSpace->rlim_cur : 0)
        << quint64(addressSpace ? addressSpace->rlim_max : 0) << isolate << keep << subreaper << qint32(inheritedTarget);
    return bytes;
}

bool ChildLaunch::decode(const QByteArray& bytes)
{
    QDataStream in(bytes);
    QList<QByteArray> givenArguments;
    QList<QByteArray> givenEnvironment;
    bool limited = false;
    quint64 current = 0;
    quint64 maximum = 0;
    qint32 target = -1;
    in >> path >> givenArguments >> givenEnvironment >> directory >> filter >> uidMap >> gidMap >> limited >> current
        >> maximum >> isolate >> keep >> subreaper >> target;
    if (in.status() != QDataStream::Ok || !in.atEnd() || path.isEmpty() || givenArguments.isEmpty() || target < -1
        || filter.size() % qsizetype(sizeof(sock_filter)) != 0)
        return false;
    arguments.assign(givenArguments.begin(), givenArguments.end());
    environment.assign(givenEnvironment.begin(), givenEnvironment.end());
    addressSpace = limited ? std::optional<rlimit>(rlimit{rlim_t(current), rlim_t(maximum)}) : std::nullopt;
    inheritedTarget = target;
    return true;
}

} // namespace qv
