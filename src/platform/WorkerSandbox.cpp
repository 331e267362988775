#include "platform/WorkerSandbox.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <linux/landlock.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qv {

namespace {

// Newer than the system's headers: the ruleset's network rights (ABI 4) and scopes (ABI 6).
struct RulesetAttributes {
    __u64 handledAccessFs = 0;
    __u64 handledAccessNet = 0;
    __u64 scoped = 0;
};
constexpr __u64 netBindTcp = 1ULL << 0;
constexpr __u64 netConnectTcp = 1ULL << 1;
constexpr __u64 scopeAbstractUnixSocket = 1ULL << 0;
constexpr __u64 scopeSignal = 1ULL << 1;

int landlockCreateRuleset(const void* attr, std::size_t size, __u32 flags)
{
    return int(::syscall(SYS_landlock_create_ruleset, attr, size, flags));
}

int landlockAddRule(int ruleset, landlock_rule_type type, const void* attr)
{
    return int(::syscall(SYS_landlock_add_rule, ruleset, type, attr, 0));
}

int landlockRestrictSelf(int ruleset)
{
    return int(::syscall(SYS_landlock_restrict_self, ruleset, 0));
}

bool setLimit(int resource, rlim_t soft, rlim_t hard)
{
    const rlimit limit{soft, hard};
    return ::setrlimit(resource, &limit) == 0;
}

} // namespace

bool WorkerSandbox::detach()
{
    ::setsid();
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

bool WorkerSandbox::limitMemory(qint64 bytes)
{
    if (bytes <= 0)
        return true;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers reserve terabytes of shadow memory up front.
    return false;
#else
    rlimit current{};
    ::getrlimit(RLIMIT_AS, &current);
    rlim_t wanted = rlim_t(bytes);
    if (current.rlim_max != RLIM_INFINITY && wanted > current.rlim_max)
        wanted = current.rlim_max;
    return setLimit(RLIMIT_AS, wanted, wanted);
#endif
}

bool WorkerSandbox::limitCpuTime(qint64 seconds)
{
    if (seconds <= 0)
        return true;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const rlim_t used = rlim_t(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec);
    rlimit current{};
    ::getrlimit(RLIMIT_CPU, &current);
    // Only the soft limit: SIGXCPU ends the process there, and the next item may get a budget
    // of its own.
    return setLimit(RLIMIT_CPU, used + rlim_t(seconds), current.rlim_max);
}

bool WorkerSandbox::filterSystemCalls()
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return false;
    // Every thread, also those the libraries started before the walls went up.
    bool ok = seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
    const auto refuse = [&](int call) {
        if (call >= 0 && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0) != 0)
            ok = false;
    };
    for (const char* name : {"ptrace", "process_vm_readv", "process_vm_writev", "mount", "umount2",
                             "pivot_root", "chroot", "move_mount", "open_tree", "fsopen", "fsmount",
                             "fspick", "init_module", "finit_module", "delete_module", "kexec_load",
                             "kexec_file_load", "reboot", "swapon", "swapoff", "bpf", "perf_event_open",
                             "keyctl", "add_key", "request_key", "userfaultfd", "setns", "unshare",
                             "open_by_handle_at", "name_to_handle_at", "acct", "quotactl",
                             "settimeofday", "clock_settime", "clock_adjtime", "adjtimex", "syslog",
                             "iopl", "ioperm", "lookup_dcookie", "vhangup", "uselib",
                             // Rings open sockets and files past the rules below.
                             "io_uring_setup", "io_uring_enter", "io_uring_register",
                             // Reaching into other processes.
                             "pidfd_getfd", "kcmp", "process_madvise"}) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR)
            refuse(call);
    }
    // A decoder talks to nobody: local sockets only (the office suite uses them between its
    // own processes).
    const int socketCall = seccomp_syscall_resolve_name("socket");
    if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EAFNOSUPPORT), socketCall, 1,
                         SCMP_A0(SCMP_CMP_NE, AF_UNIX)) != 0)
        ok = false;
    const int socketPairCall = seccomp_syscall_resolve_name("socketpair");
    if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EAFNOSUPPORT), socketPairCall, 1,
                         SCMP_A0(SCMP_CMP_NE, AF_UNIX)) != 0)
        ok = false;
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

int WorkerSandbox::landlockAbi()
{
    const int abi = landlockCreateRuleset(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi < 0 ? 0 : abi;
}

int WorkerSandbox::restrictWritesTo(const QStringList& folders)
{
    const int abi = landlockAbi();
    if (abi <= 0)
        return 0;
    __u64 writes = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR
        | LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR
        | LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO
        | LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
#ifdef LANDLOCK_ACCESS_FS_REFER
    if (abi >= 2)
        writes |= LANDLOCK_ACCESS_FS_REFER;
#endif
#ifdef LANDLOCK_ACCESS_FS_TRUNCATE
    if (abi >= 3)
        writes |= LANDLOCK_ACCESS_FS_TRUNCATE;
#endif
    RulesetAttributes attr;
    attr.handledAccessFs = writes;
    std::size_t size = sizeof attr.handledAccessFs;
    if (abi >= 4) {
        // No TCP at all, whatever the socket was made with.
        attr.handledAccessNet = netBindTcp | netConnectTcp;
        size += sizeof attr.handledAccessNet;
    }
    if (abi >= 6) {
        // Signals and abstract sockets reach only this process and what it starts: not the
        // application, not the user's other programs, not the X server's abstract socket.
        attr.scoped = scopeAbstractUnixSocket | scopeSignal;
        size += sizeof attr.scoped;
    }
    const int ruleset = landlockCreateRuleset(&attr, size, 0);
    if (ruleset < 0)
        return 0;
    const auto allow = [&](const QString& path, __u64 access) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_PATH | O_CLOEXEC);
        if (fd < 0)
            return;
        landlock_path_beneath_attr beneath{};
        beneath.allowed_access = access;
        beneath.parent_fd = fd;
        landlockAddRule(ruleset, LANDLOCK_RULE_PATH_BENEATH, &beneath);
        ::close(fd);
    };
    const __u64 fileWrites = writes
        & (LANDLOCK_ACCESS_FS_WRITE_FILE
#ifdef LANDLOCK_ACCESS_FS_TRUNCATE
           | LANDLOCK_ACCESS_FS_TRUNCATE
#endif
        );
    const __u64 folderWrites = writes & ~(__u64(LANDLOCK_ACCESS_FS_MAKE_CHAR) | LANDLOCK_ACCESS_FS_MAKE_BLOCK);
    for (const QString& folder : folders) {
        if (!folder.isEmpty() && QDir(folder).exists())
            allow(folder, folderWrites);
    }
    allow(QStringLiteral("/dev/null"), fileWrites);
    // The office suite makes and removes its pipe in /tmp whatever TMPDIR says (in its own
    // namespaces a worker's /tmp is its own).
    allow(QStringLiteral("/tmp"), writes & (LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_REMOVE_FILE));
    const bool restricted = landlockRestrictSelf(ruleset) == 0;
    ::close(ruleset);
    return restricted ? abi : 0;
}

} // namespace qv
