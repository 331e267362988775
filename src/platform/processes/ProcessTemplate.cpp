#include "platform/processes/ProcessTemplate.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

namespace qv {

namespace {

// A launch request's descriptors: standard input, output and error, the report, then the
// status and the inherited one where the flags name them.
constexpr int maximumDescriptors = 6;
constexpr quint8 hasStatus = 1;
constexpr quint8 hasInherited = 2;
// Far above any launch: arguments and a worker's environment are a few kilobytes.
constexpr qsizetype maximumRequest = 128 * 1024;

struct Reply {
    pid_t pid;
    int error;
    bool inNamespaces;
    bool kept;
};

struct Template {
    std::mutex lock;
    int socket = -1;
    QByteArray program;
};

Template& shared()
{
    // Never destroyed: a worker may still be started while static destructors run.
    static auto* value = new Template;
    return *value;
}

// The arguments and environment this process was started with, in the block the kernel laid
// them out in: the template's copy must not hand the user's environment to what it starts.
void wipeStartBlock(int argc, char** argv)
{
    if (argc < 1 || !argv || !argv[0])
        return;
    char* const begin = argv[0];
    char* end = begin;
    const auto reach = [&](char* text) {
        if (text && text >= begin)
            end = std::max(end, text + std::strlen(text) + 1);
    };
    for (int i = 0; i < argc; ++i)
        reach(argv[i]);
    for (char** entry = environ; entry && *entry; ++entry)
        reach(*entry);
    std::memset(begin, 0, std::size_t(end - begin));
    static char* none[] = {nullptr};
    environ = none;
}

// Closes every descriptor from 3 up but those given.
void closeAllBut(QList<int> open)
{
    std::sort(open.begin(), open.end());
    unsigned from = 3;
    for (const int fd : std::as_const(open)) {
        if (fd < int(from))
            continue;
        if (unsigned(fd) > from)
            ::syscall(SYS_close_range, from, unsigned(fd - 1), 0U);
        from = unsigned(fd) + 1;
    }
    ::syscall(SYS_close_range, from, ~0U, 0U);
}

[[noreturn]] void serve(int socket, const QByteArray& program, ChildLaunch::Main main, pid_t parent,
                        const QList<int>& keptOpen)
{
    // Nothing of ours but the request socket and what we keep open: no pipe of our caller's
    // stays open here.
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd < 3; ++fd)
        ::dup2(null, fd);
    const int kept = ::fcntl(socket, F_DUPFD_CLOEXEC, 3);
    closeAllBut(QList<int>(keptOpen) << kept);
    QByteArray buffer(maximumRequest + 1, Qt::Uninitialized);
    for (;;) {
        iovec part{buffer.data(), std::size_t(buffer.size())};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * maximumDescriptors)];
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(kept, &message, MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            ::_exit(0);
        int fds[maximumDescriptors];
        int count = 0;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
                continue;
            const int many = int((header->cmsg_len - CMSG_LEN(0)) / sizeof(int));
            for (int i = 0; i < many; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
                if (count < maximumDescriptors)
                    fds[count++] = fd;
                else
                    ::close(fd);
            }
        }
        ChildLaunch launch;
        const quint8 flags = got > 0 ? quint8(buffer[0]) : 0;
        const int wanted = 4 + ((flags & hasStatus) ? 1 : 0) + ((flags & hasInherited) ? 1 : 0);
        Reply reply{-1, EINVAL, false, false};
        if ((message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0 && count == wanted
            && launch.decode(QByteArray::fromRawData(buffer.constData() + 1, got - 1)) && launch.path == program
            // The entry runs in a process its init or keeper made with the C library's fork.
            && launch.keep) {
            // Above the number the inherited one must take, so no other is in its way there.
            const int floor = std::max(3, launch.inheritedTarget + 1);
            for (int i = 0; i < count; ++i) {
                const int moved = ::fcntl(fds[i], F_DUPFD_CLOEXEC, floor);
                ::close(fds[i]);
                fds[i] = moved;
            }
            if (std::all_of(fds, fds + count, [](int fd) { return fd >= 0; })) {
                int at = 0;
                launch.stdinFd = fds[at++];
                launch.stdoutFd = fds[at++];
                launch.stderrFd = fds[at++];
                launch.reportFd = fds[at++];
                if (flags & hasStatus)
                    launch.statusFd = fds[at++];
                if (flags & hasInherited)
                    launch.inheritedFd = fds[at++];
                launch.parent = parent;
                launch.main = main;
                launch.asSibling = true;
                const ChildLaunch::Started started = launch.start();
                reply = {started.pid, started.pid < 0 ? errno : 0, started.inNamespaces, started.kept};
            }
        }
        for (int i = 0; i < count; ++i) {
            if (fds[i] >= 0)
                ::close(fds[i]);
        }
        if (::send(kept, &reply, sizeof reply, MSG_NOSIGNAL) != ssize_t(sizeof reply))
            ::_exit(0);
    }
}

bool singleThreaded()
{
    QDir tasks(QStringLiteral("/proc/self/task"));
    return tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() == 1;
}

} // namespace

bool ProcessTemplate::fork(const QString& program, ChildLaunch::Main main, int argc, char** argv,
                           const QList<int>& keptOpen)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // Their runtimes follow a fork, not a process cloned by hand and never executed.
    Q_UNUSED(program);
    Q_UNUSED(main);
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    Q_UNUSED(keptOpen);
    return false;
#endif
    Template& state = shared();
    std::lock_guard locker(state.lock);
    if (state.socket >= 0 || !main || !singleThreaded())
        return false;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    const QByteArray path = QFile::encodeName(program);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(0);
        ::close(ends[0]);
        wipeStartBlock(argc, argv);
        serve(ends[1], path, main, parent, keptOpen);
    }
    ::close(ends[1]);
    state.socket = ends[0];
    state.program = path;
    return true;
}

std::optional<ChildLaunch::Started> ProcessTemplate::start(const ChildLaunch& launch)
{
    Template& state = shared();
    std::lock_guard locker(state.lock);
    if (state.socket < 0 || launch.path != state.program)
        return std::nullopt;
    quint8 flags = 0;
    int fds[maximumDescriptors];
    int count = 0;
    for (const int fd : {launch.stdinFd, launch.stdoutFd, launch.stderrFd, launch.reportFd})
        fds[count++] = fd;
    if (launch.statusFd >= 0) {
        flags |= hasStatus;
        fds[count++] = launch.statusFd;
    }
    if (launch.inheritedFd >= 0) {
        flags |= hasInherited;
        fds[count++] = launch.inheritedFd;
    }
    const QByteArray request = QByteArray(1, char(flags)) + launch.encode();
    if (request.size() > maximumRequest || std::any_of(fds, fds + 4, [](int fd) { return fd < 0; }))
        return std::nullopt;
    iovec part{const_cast<char*>(request.constData()), std::size_t(request.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * maximumDescriptors)]{};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = CMSG_SPACE(sizeof(int) * std::size_t(count));
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int) * std::size_t(count));
    std::memcpy(CMSG_DATA(header), fds, sizeof(int) * std::size_t(count));
    ssize_t sent;
    do {
        sent = ::sendmsg(state.socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    Reply reply{};
    ssize_t got = -1;
    if (sent == request.size()) {
        do {
            got = ::recv(state.socket, &reply, sizeof reply, 0);
        } while (got < 0 && errno == EINTR);
    }
    if (got != ssize_t(sizeof reply)) {
        // The template is gone: from now on the program is executed.
        ::close(state.socket);
        state.socket = -1;
        return std::nullopt;
    }
    if (reply.pid < 0)
        errno = reply.error;
    return ChildLaunch::Started{reply.pid, reply.inNamespaces, reply.kept};
}

QByteArray ProcessTemplate::program()
{
    Template& state = shared();
    std::lock_guard locker(state.lock);
    return state.socket >= 0 ? state.program : QByteArray();
}

} // namespace qv
