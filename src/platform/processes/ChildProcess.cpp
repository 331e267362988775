#include "platform/processes/ChildProcess.h"

#include "platform/processes/ChildLaunch.h"
#include "platform/processes/ProcessTemplate.h"

#include "model/errors/SystemError.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace qv {

namespace {

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

    ChildLaunch launch;
    launch.path = QFile::encodeName(program);
    launch.arguments.push_back(launch.path);
    for (const QString& argument : arguments) {
        if (argument.contains(QChar(0)))
            throw invalidStart(program, QStringLiteral("an argument holds a null character"));
        launch.arguments.push_back(argument.toUtf8());
    }
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
            launch.environment.push_back(it.key().toUtf8() + '=' + it.value().toUtf8());
        }
    } else {
        for (char** entry = environ; *entry; ++entry)
            launch.environment.emplace_back(*entry);
    }
    // Copied now: the child must not touch anything another thread may be changing.
    launch.filter = t_extraFilter;
    launch.isolate = role == Role::sandbox && !qEnvironmentVariableIsSet("QUORVENDA_NO_NAMESPACES");
    // A worker's keeper where no namespaces can be made.
    launch.keep = role == Role::sandbox;
    launch.subreaper = role != Role::program;
    launch.uidMap = QByteArray::number(::geteuid()) + ' ' + QByteArray::number(::geteuid()) + " 1\n";
    launch.gidMap = QByteArray::number(::getegid()) + ' ' + QByteArray::number(::getegid()) + " 1\n";
    if (workingDirectory)
        launch.directory = QFile::encodeName(*workingDirectory);

    // The child only lowers what it inherits: a hard limit above ours cannot be raised.
    if (role == Role::program && memoryLimit() > 0) {
        rlimit current{};
        ::getrlimit(RLIMIT_AS, &current);
        rlim_t wanted = rlim_t(memoryLimit());
        if (current.rlim_max != RLIM_INFINITY && wanted > current.rlim_max)
            wanted = current.rlim_max;
        launch.addressSpace = rlimit{wanted, wanted};
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
    if (launch.isolate || launch.keep)
        makePipe(statusRead, statusWrite);
    if (pipeInput) {
        makePipe(inRead, inWrite);
        devNull.reset();
    }
    makePipe(outRead, outWrite);
    makePipe(errRead, errWrite);
    makePipe(reportRead, reportWrite);
    launch.stdinFd = pipeInput ? inRead.get() : devNull.get();
    launch.stdoutFd = outWrite.get();
    launch.stderrFd = errWrite.get();
    launch.reportFd = reportWrite.get();
    launch.statusFd = statusWrite.get();
    launch.inheritedFd = inheritedFd;
    launch.inheritedTarget = inheritedFd;
    launch.parent = ::getpid();

    // A worker or player is started by the template where one serves its program: no exec.
    std::optional<ChildLaunch::Started> started;
    if (role == Role::sandbox)
        started = ProcessTemplate::start(launch);
    if (!started)
        started = launch.start();
    const pid_t pid = started->pid;
    if (pid < 0)
        throw SystemError::fromErrno(errno, startContext(program));
    const bool inNamespaces = started->inNamespaces;
    const bool keeper = started->kept;

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

    ChildLaunch::Failure failure{};
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
