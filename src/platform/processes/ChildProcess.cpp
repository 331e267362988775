#include "platform/processes/ChildProcess.h"

#include "platform/processes/OpenFilesLimit.h"

#include "model/errors/SystemError.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <linux/close_range.h>
#include <memory>
#include <sched.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace qv {

namespace {

// What the child writes to the parent when it cannot exec.
struct StartFailure {
    int step; // 0: working directory, 1: exec, 2: file descriptors, 3: namespaces
    int error;
};

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

QString startContext(const QString& program)
{
    return QStringLiteral("Cannot start ") + program;
}

SystemError invalidStart(const QString& program, const QString& reason)
{
    return SystemError(SystemError::posixDomain, EINVAL, startContext(program) + QStringLiteral(": ") + reason);
}

// Keeps our descriptors off 0, 1 and 2, which the child overwrites.
int aboveStandardFds(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

void makePipe(Fd& readEnd, Fd& writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot create a pipe"));
    readEnd.reset(aboveStandardFds(fds[0]));
    writeEnd.reset(aboveStandardFds(fds[1]));
    if (readEnd.get() < 0 || writeEnd.get() < 0)
        throw SystemError::fromErrno(EMFILE, QStringLiteral("Cannot create a pipe"));
}

thread_local QByteArray t_extraFilter;

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
    const StartFailure failure{step, errno};
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

// The started programs not yet reaped. A program leaves it under the lock before it is reaped,
// so killEveryGroup never signals a reused pid.
struct LiveChildren {
    std::mutex mutex;
    std::set<const ChildProcess*> children;
};

LiveChildren& liveChildren()
{
    // Never destroyed: a worker may still reap a program while static destructors run.
    static auto* live = new LiveChildren;
    return *live;
}

int pidfdOpen(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    return -1;
#endif
}

} // namespace

ChildProcess::ChildProcess(const QString& program, const QStringList& arguments,
                           const std::optional<QHash<QString, QString>>& environment,
                           const std::optional<QString>& workingDirectory, bool pipeInput, Role role,
                           int inheritedFd)
{
    if (program.isEmpty() || QDir::isRelativePath(program))
        throw invalidStart(program, QStringLiteral("the program must be given by its full path"));

    // Everything the child needs is built here: between fork and exec only system calls are safe.
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> argBytes{path};
    for (const QString& argument : arguments) {
        if (argument.contains(QChar(0)))
            throw invalidStart(program, QStringLiteral("an argument holds a null character"));
        argBytes.push_back(argument.toUtf8());
    }
    std::vector<char*> argv;
    for (QByteArray& bytes : argBytes)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envBytes;
    std::vector<char*> envp;
    std::optional<QHash<QString, QString>> given = environment;
    // A program's temporary files go where ours do, whatever else its environment leaves out:
    // a worker may write nowhere else.
    if (given && !given->contains(QStringLiteral("TMPDIR")) && qEnvironmentVariableIsSet("TMPDIR"))
        given->insert(QStringLiteral("TMPDIR"), qEnvironmentVariable("TMPDIR"));
    if (given) {
        for (auto it = given->cbegin(); it != given->cend(); ++it) {
            if (it.key().isEmpty() || it.key().contains(QLatin1Char('=')) || it.key().contains(QChar(0))
                || it.value().contains(QChar(0)))
                throw invalidStart(program, QStringLiteral("the environment variable \"%1\" is invalid").arg(it.key()));
            envBytes.push_back(it.key().toUtf8() + '=' + it.value().toUtf8());
        }
        for (QByteArray& bytes : envBytes)
            envp.push_back(bytes.data());
        envp.push_back(nullptr);
    }
    // Copied now: the child must not touch anything another thread may be changing.
    QByteArray extraFilter = t_extraFilter;
    sock_fprog extraProgram{};
    extraProgram.len = static_cast<unsigned short>(extraFilter.size() / qsizetype(sizeof(sock_filter)));
    extraProgram.filter = reinterpret_cast<sock_filter*>(extraFilter.data());
    const bool wantIsolation = role == Role::sandbox && !qEnvironmentVariableIsSet("QUORVENDA_NO_NAMESPACES");
    // The same environment with the mark of the namespaces.
    std::vector<QByteArray> inheritedBytes;
    std::vector<char*> isolatedEnvp;
    QByteArray mark("QUORVENDA_SANDBOX=namespaces");
    if (wantIsolation) {
        if (given) {
            isolatedEnvp.assign(envp.begin(), envp.end() - 1);
        } else {
            for (char** entry = environ; *entry; ++entry)
                inheritedBytes.emplace_back(*entry);
            for (QByteArray& bytes : inheritedBytes)
                isolatedEnvp.push_back(bytes.data());
        }
        isolatedEnvp.push_back(mark.data());
        isolatedEnvp.push_back(nullptr);
    }
    const QByteArray uidMap = QByteArray::number(::geteuid()) + ' ' + QByteArray::number(::geteuid()) + " 1\n";
    const QByteArray gidMap = QByteArray::number(::getegid()) + ' ' + QByteArray::number(::getegid()) + " 1\n";
    const QByteArray directory = workingDirectory ? QFile::encodeName(*workingDirectory) : QByteArray();

    // The child only lowers what it inherits: a hard limit above ours cannot be raised.
    std::optional<rlimit> addressSpace;
    if (role == Role::program && memoryLimit() > 0) {
        rlimit current{};
        ::getrlimit(RLIMIT_AS, &current);
        rlim_t wanted = rlim_t(memoryLimit());
        if (current.rlim_max != RLIM_INFINITY && wanted > current.rlim_max)
            wanted = current.rlim_max;
        addressSpace = rlimit{wanted, wanted};
        m_memoryLimit = qint64(wanted);
    } else {
        rlimit current{};
        if (::getrlimit(RLIMIT_AS, &current) == 0 && current.rlim_cur != RLIM_INFINITY)
            m_memoryLimit = qint64(current.rlim_cur);
    }

    Fd devNull(aboveStandardFds(::open("/dev/null", O_RDONLY | O_CLOEXEC)));
    if (devNull.get() < 0)
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot open /dev/null"));
    Fd outRead, outWrite, errRead, errWrite, reportRead, reportWrite, inRead, inWrite, statusRead, statusWrite;
    // A worker's keeper where no namespaces can be made.
    const bool wantKeeper = role == Role::sandbox && !wantIsolation;
    if (wantIsolation || wantKeeper)
        makePipe(statusRead, statusWrite);
    if (pipeInput) {
        makePipe(inRead, inWrite);
        devNull.reset();
    }
    makePipe(outRead, outWrite);
    makePipe(errRead, errWrite);
    makePipe(reportRead, reportWrite);

    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    const pid_t parent = ::getpid();

    // The stack of the program's process in namespaces, which shares its init's memory until
    // the exec: made here, as nothing may be allocated after the fork.
    std::unique_ptr<char[]> programStack(wantIsolation && programSharesInitMemory ? new char[programStackBytes] : nullptr);

    pid_t pid = -1;
    bool inNamespaces = false;
    // What the child does last, in whichever process runs the program: system calls only.
    const auto execProgram = [&] {
        if (::dup2(pipeInput ? inRead.get() : devNull.get(), STDIN_FILENO) < 0 || ::dup2(outWrite.get(), STDOUT_FILENO) < 0
            || ::dup2(errWrite.get(), STDERR_FILENO) < 0)
            failInChild(reportWrite.get(), 2);
        // Descriptors other threads opened without O_CLOEXEC must not reach the program.
        ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
        if (inheritedFd >= 0 && ::fcntl(inheritedFd, F_SETFD, 0) != 0)
            failInChild(reportWrite.get(), 2);
        if (!directory.isEmpty() && ::chdir(directory.constData()) != 0)
            failInChild(reportWrite.get(), 0);
        if (extraProgram.len > 0
            && (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &extraProgram) != 0))
            failInChild(reportWrite.get(), 2);
        // Last: until the exec closes them, this child holds every descriptor we hold.
        OpenFilesLimit::restoreInChild();
        ::execve(path.constData(), argv.data(), inNamespaces ? isolatedEnvp.data() : environment ? envp.data() : environ);
        failInChild(reportWrite.get(), 1);
    };
    // The program's process in namespaces: the init's death signal ends it too, and it keeps
    // the right to mount.
    const auto runProgram = [](void* exec) -> int {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        keepMountRight();
        (*static_cast<const decltype(execProgram)*>(exec))();
        return 127;
    };
    if (wantIsolation) {
        // As fork, the child the init of its own namespaces.
        pid = pid_t(::syscall(SYS_clone, CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWIPC | SIGCHLD,
                              0, 0, 0, 0));
        inNamespaces = pid >= 0;
    }
    // Where the kernel refused the namespaces, the keeper stands in for their init, as where
    // they were never asked for: else what a decoder leaves when it kills its worker would be
    // nobody's to end.
    const bool keeper = wantKeeper || (wantIsolation && !inNamespaces);
    if (pid < 0)
        pid = ::fork();
    if (pid < 0)
        throw SystemError::fromErrno(errno, startContext(program));
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
        if (role != Role::program)
            ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        if (addressSpace)
            ::setrlimit(RLIMIT_AS, &*addressSpace);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // Seen from a new PID namespace, the parent is no process at all.
        if (!inNamespaces && ::getppid() != parent)
            ::_exit(127); // the parent died before the death signal was armed
        if (inNamespaces) {
            if (!writeWhole("/proc/self/setgroups", "deny") || !writeWhole("/proc/self/uid_map", uidMap)
                || !writeWhole("/proc/self/gid_map", gidMap))
                failInChild(reportWrite.get(), 3);
            // The program's process shares the init's memory until its exec, as vfork does:
            // no copy of this process's page tables is made for it and dropped at the exec
            // (both on the way to every worker's start). Its own stack; the init waits meanwhile.
            // Not fork(): its handlers take locks another thread of ours may have held.
            void* const exec = const_cast<void*>(static_cast<const void*>(&execProgram));
            const pid_t child = programSharesInitMemory
                ? ::clone(runProgram, programStack.get() + programStackBytes, CLONE_VM | CLONE_VFORK | SIGCHLD, exec)
                : pid_t(::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
            if (child < 0)
                failInChild(reportWrite.get(), 1);
            if (child == 0)
                runProgram(exec);
            runInit(child, statusWrite.get());
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
            const pid_t child = pid_t(::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
            if (child < 0)
                failInChild(reportWrite.get(), 1);
            if (child > 0)
                runKeeper(child, statusWrite.get());
            ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
            // A group of its own: what it signals as its group is never its keeper.
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        }
        execProgram();
    }

    m_pid = pid;
    m_role = role;
    m_isolated = inNamespaces;
    m_kept = keeper;
    // Also set from this side, so the group exists whichever process runs first.
    ::setpgid(pid, pid);
    {
        LiveChildren& live = liveChildren();
        std::lock_guard locker(live.mutex);
        live.children.insert(this);
    }
    devNull.reset();
    inRead.reset();
    outWrite.reset();
    errWrite.reset();
    reportWrite.reset();

    StartFailure failure{};
    ssize_t got;
    do {
        got = ::read(reportRead.get(), &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        wait();
        switch (failure.step) {
        case 0:
            throw SystemError::fromErrno(failure.error, startContext(program) + QStringLiteral(" in ") + *workingDirectory);
        default:
            throw SystemError::fromErrno(failure.error, startContext(program));
        }
    }

    m_pidfd = pidfdOpen(pid);
    if (m_pidfd >= 0)
        ::fcntl(m_pidfd, F_SETFD, FD_CLOEXEC);
    ::fcntl(outRead.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(errRead.get(), F_SETFL, O_NONBLOCK);
    m_stdout = outRead.release();
    m_stderr = errRead.release();
    m_stdin = inWrite.release();
    if (m_isolated || m_kept) {
        ::fcntl(statusRead.get(), F_SETFL, O_NONBLOCK);
        m_status = statusRead.release();
    }
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && !m_reaped) {
        if (m_role != Role::program)
            killSession();
        signalGroup(SIGKILL);
        wait();
    }
    closeStdin();
    closeStdout();
    closeStderr();
    if (m_pidfd >= 0)
        ::close(m_pidfd);
    if (m_status >= 0)
        ::close(m_status);
}

void ChildProcess::closeStdin()
{
    if (m_stdin >= 0)
        ::close(std::exchange(m_stdin, -1));
}

void ChildProcess::killSession() const
{
    if (m_pid <= 0 || m_reaped)
        return;
    // What left the group is found while the program still holds it below itself; a child
    // forked meanwhile is in the group, or shows up in the second look.
    for (int look = 0; look < 2; ++look) {
        for (const pid_t pid : descendants())
            ::kill(pid, SIGKILL);
    }
    if (m_kept) {
        // The keeper kills what is left, orphans that came to it meanwhile too, and then ends.
        ::kill(m_pid, SIGTERM);
        return;
    }
    ::kill(-m_pid, SIGKILL);
    signalGroup(SIGKILL);
}

namespace {

std::vector<pid_t> children(pid_t parent)
{
    std::vector<pid_t> found;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(parent);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile list(tasks + QLatin1Char('/') + task + QStringLiteral("/children"));
        if (!list.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& word : list.readAll().split(' ')) {
            bool number = false;
            const pid_t child = pid_t(word.trimmed().toInt(&number));
            if (number && child > 0)
                found.push_back(child);
        }
    }
    return found;
}

} // namespace

std::vector<pid_t> ChildProcess::descendants() const
{
    std::vector<pid_t> found;
    if (m_pid <= 0 || m_reaped)
        return found;
    // Each thread's children, level by level: a few small reads rather than all of /proc.
    std::vector<pid_t> level{m_pid};
    while (!level.empty() && found.size() < 100000) {
        std::vector<pid_t> next;
        for (const pid_t parent : level) {
            const QString tasks = QStringLiteral("/proc/%1/task").arg(parent);
            for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                QFile children(tasks + QLatin1Char('/') + task + QStringLiteral("/children"));
                if (!children.open(QIODevice::ReadOnly))
                    continue;
                for (const QByteArray& word : children.readAll().split(' ')) {
                    bool number = false;
                    const pid_t child = pid_t(word.trimmed().toInt(&number));
                    if (number && child > 0)
                        next.push_back(child);
                }
            }
        }
        found.insert(found.end(), next.begin(), next.end());
        level = std::move(next);
    }
    return found;
}

int ChildProcess::signalSessionMembers(int signal) const
{
    int signalled = 0;
    // In namespaces, the program its init runs is the worker itself, not one it started; so is
    // the program its keeper runs.
    std::vector<pid_t> program;
    if (m_isolated || m_kept)
        program = children(m_pid);
    for (const pid_t pid : descendants()) {
        if (std::find(program.begin(), program.end(), pid) != program.end())
            continue;
        // A zombie has ended already.
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray line = stat.readAll();
            if (line.mid(line.lastIndexOf(')') + 2, 1) == "Z")
                continue;
        }
        if (::kill(pid, signal) == 0)
            ++signalled;
    }
    return signalled;
}

void ChildProcess::closeStdout()
{
    if (m_stdout >= 0)
        ::close(std::exchange(m_stdout, -1));
}

void ChildProcess::closeStderr()
{
    if (m_stderr >= 0)
        ::close(std::exchange(m_stderr, -1));
}

void ChildProcess::signalGroup(int signal) const
{
    if (m_pid <= 0 || m_reaped)
        return;
    if (m_kept) {
        // A killed keeper would leave what it keeps to the system: it is asked to end instead.
        if (signal == SIGKILL)
            ::kill(m_pid, SIGTERM);
        else if (const pid_t program = programPid(); program > 0)
            ::kill(-program, signal);
        return;
    }
    ::kill(-m_pid, signal);
    if (::getpgid(m_pid) != m_pid) {
#ifdef SYS_pidfd_send_signal
        // Walls may refuse it; the pid is still ours until reaped.
        if (m_pidfd >= 0 && ::syscall(SYS_pidfd_send_signal, m_pidfd, signal, nullptr, 0) == 0)
            return;
#endif
        ::kill(m_pid, signal);
    }
}

namespace {

std::atomic<qint64>& memoryLimitValue()
{
    static std::atomic<qint64> value = ChildProcess::defaultMemoryLimit;
    return value;
}

} // namespace

void ChildProcess::setMemoryLimit(qint64 bytes)
{
    memoryLimitValue().store(bytes);
}

qint64 ChildProcess::memoryLimit()
{
    return memoryLimitValue().load();
}

qint64 ChildProcess::memoryLimitForSetting(int megabytes)
{
    return qint64(megabytes >= 256 ? megabytes : 4096) << 20;
}

pid_t ChildProcess::programPid() const
{
    if (!m_isolated && !m_kept)
        return m_pid;
    if (m_pid <= 0 || m_reaped)
        return -1;
    const std::vector<pid_t> program = children(m_pid);
    return program.empty() ? -1 : program.front();
}

QList<pid_t> ChildProcess::sandboxMembers() const
{
    if (m_pid <= 0 || m_reaped)
        return {};
    QList<pid_t> members{m_pid};
    if (!m_isolated) {
        for (const pid_t pid : descendants())
            members.append(pid);
        return members;
    }
    // Whatever left the tree is still in the namespace.
    const auto pidNamespace = [](const QByteArray& pid) {
        char target[64];
        const ssize_t length = ::readlink("/proc/" + pid + "/ns/pid", target, sizeof target);
        return length > 0 ? QByteArray(target, length) : QByteArray();
    };
    const QByteArray own = pidNamespace(QByteArray::number(m_pid));
    if (own.isEmpty())
        return members;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (number && pid != m_pid && pidNamespace(entry.toLatin1()) == own)
            members.append(pid);
    }
    return members;
}

int ChildProcess::killEveryGroup()
{
    LiveChildren& live = liveChildren();
    std::lock_guard locker(live.mutex);
    for (const ChildProcess* child : live.children)
        child->signalGroup(SIGKILL);
    return int(live.children.size());
}

bool ChildProcess::waitForEnd(std::chrono::milliseconds limit) const
{
    if (m_pidfd >= 0) {
        pollfd ready{m_pidfd, POLLIN, 0};
        return ::poll(&ready, 1, int(limit.count())) > 0 || hasExited();
    }
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!hasExited()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        ::usleep(5000);
    }
    return true;
}

bool ChildProcess::hasExited() const
{
    if (m_reaped)
        return true;
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD; // reaped by someone else: it is gone
    return info.si_pid == m_pid;
}

int ChildProcess::wait()
{
    if (m_reaped || m_pid <= 0)
        return -1;
    // Wait for the end without reaping, leave the live set, then reap.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT) != 0
           && errno == EINTR) {
    }
    {
        LiveChildren& live = liveChildren();
        std::lock_guard locker(live.mutex);
        live.children.erase(this);
    }
    int status = 0;
    pid_t result;
    rusage usage{};
    do {
        result = ::wait4(m_pid, &status, 0, &usage);
    } while (result < 0 && errno == EINTR);
    m_reaped = true;
    if (result == m_pid)
        m_peakResident = qint64(usage.ru_maxrss) * 1024; // kilobytes
    // How the program itself ended, as its init saw it; nothing when the init was killed.
    int programStatus = 0;
    if (result == m_pid && m_status >= 0 && ::read(m_status, &programStatus, sizeof programStatus) == sizeof programStatus)
        status = programStatus;
    return result == m_pid ? status : -1;
}

ChildProcess::ExtraFilter::ExtraFilter(const QByteArray& program) : m_previous(std::exchange(t_extraFilter, program))
{
}

ChildProcess::ExtraFilter::~ExtraFilter()
{
    t_extraFilter = m_previous;
}

} // namespace qv
