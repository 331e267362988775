// A program a worker starts in place of a compromised decoder: it tries one attack and ends
// with status 0 when the attack worked, 1 when it was refused (saying how on standard error).
//   env                      one of the session's addresses (X, session bus, agent) is set
//   unix PATH                connects to a local socket
//   abstract NAME            connects to an abstract local socket
//   read PATH                reads a byte of a file
//   write PATH               appends to (or creates) a file
//   remove PATH              removes a file
//   bind PATH                makes a local socket there
//   tcp PORT                 connects to 127.0.0.1:PORT
//   iouring                  makes an io_uring, which would open sockets past the filter
//   signal PID SIGNAL        sends a signal
//   ptrace PID               attaches to a process
//   escape SECONDS           leaves a process of a new session sleeping that long, and a background one
//   fork COUNT               holds that many processes at once
//   memory COUNT MB          holds that many processes that each touch that many megabytes
//   exists PATH              finds that the path is there (that it is in sight)
//   abandon SECONDS          leaves processes as escape does, then kills the worker that started it
//   keeper                   asks whether its worker's parent could be signalled (signal 0)
//   memfd COUNT MB           holds that many memory files of that many megabytes, none mapped
//   newuser                  starts a process in a user and network namespace of its own (clone)
//   newuser3                 the same through clone3
//   held PATH                finds a descriptor on the file at PATH among those it was started with
//   hidden FOLDER            reads a byte of a hidden file of the folder, whatever bytes its name has
//   plain FOLDER             reads a byte of every file of the folder that is not hidden
#include <cerrno>
#include <cstddef>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/io_uring.h>
#include <linux/sched.h>
#include <netinet/in.h>
#include <string>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

int refused(const char* what)
{
    std::fprintf(stderr, "%s: %s\n", what, std::strerror(errno));
    return 1;
}

int connectLocal(const std::string& name, bool abstract)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return refused("socket");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::size_t offset = abstract ? 1 : 0;
    std::strncpy(address.sun_path + offset, name.c_str(), sizeof address.sun_path - 1 - offset);
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + offset + name.size() + (abstract ? 0 : 1));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0)
        return refused("connect");
    return 0;
}

int holdProcesses(int count, long megabytes)
{
    std::vector<pid_t> children;
    int made = 0;
    for (int i = 0; i < count; ++i) {
        const pid_t pid = ::fork();
        if (pid < 0)
            break;
        if (pid == 0) {
            if (megabytes > 0) {
                const std::size_t bytes = std::size_t(megabytes) << 20;
                char* block = static_cast<char*>(std::malloc(bytes));
                if (!block)
                    ::_exit(1);
                for (std::size_t at = 0; at < bytes; at += 4096)
                    block[at] = 1;
            }
            ::sleep(megabytes > 0 ? 4 : 10);
            ::_exit(0);
        }
        children.push_back(pid);
        ++made;
    }
    bool allWell = made == count;
    if (!allWell)
        std::fprintf(stderr, "fork: only %d of %d: %s\n", made, count, std::strerror(errno));
    for (pid_t child : children) {
        if (!allWell)
            ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            allWell = false;
    }
    return allWell ? 0 : 1;
}

// The child of a clone that worked ends at once; its parent tells how it went.
int cloned(long pid, const char* what)
{
    if (pid < 0)
        return refused(what);
    if (pid == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(pid_t(pid), &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const std::string what = argv[1];
    const std::string first = argc > 2 ? argv[2] : "";
    const std::string second = argc > 3 ? argv[3] : "";
    if (what == "env") {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS",
                                 "SSH_AUTH_SOCK", "GPG_AGENT_INFO", "SESSION_MANAGER"}) {
            if (std::getenv(name)) {
                std::fprintf(stderr, "%s is set\n", name);
                return 0;
            }
        }
        std::fprintf(stderr, "no session addresses\n");
        return 1;
    }
    if (what == "unix")
        return connectLocal(first, false);
    if (what == "abstract")
        return connectLocal(first, true);
    if (what == "read") {
        // A file covered by an empty one gives nothing away.
        const int fd = ::open(first.c_str(), O_RDONLY);
        char byte;
        return fd >= 0 && ::read(fd, &byte, 1) > 0 ? 0 : refused("read");
    }
    if (what == "held") {
        struct stat wanted {};
        if (::stat(first.c_str(), &wanted) != 0)
            return refused("stat");
        for (int fd = 3; fd < 4096; ++fd) {
            struct stat status {};
            if (::fstat(fd, &status) == 0 && status.st_dev == wanted.st_dev && status.st_ino == wanted.st_ino) {
                std::fprintf(stderr, "descriptor %d holds it\n", fd);
                return 0;
            }
        }
        std::fprintf(stderr, "no descriptor holds it\n");
        return 1;
    }
    if (what == "write") {
        const int fd = ::open(first.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        return fd >= 0 && ::write(fd, "x\n", 2) == 2 ? 0 : refused("write");
    }
    if (what == "remove")
        return ::unlink(first.c_str()) == 0 ? 0 : refused("remove");
    if (what == "bind") {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, first.c_str(), sizeof address.sun_path - 1);
        return fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : refused("bind");
    }
    if (what == "tcp") {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return refused("socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(std::atoi(first.c_str())));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : refused("connect");
    }
    if (what == "iouring") {
        io_uring_params params{};
        const long fd = ::syscall(__NR_io_uring_setup, 4, &params);
        return fd >= 0 ? 0 : refused("io_uring_setup");
    }
    if (what == "signal")
        return ::kill(pid_t(std::atol(first.c_str())), std::atoi(second.c_str())) == 0 ? 0 : refused("kill");
    if (what == "ptrace")
        return ::ptrace(PTRACE_ATTACH, pid_t(std::atol(first.c_str())), nullptr, nullptr) == 0 ? 0 : refused("ptrace");
    if (what == "hidden" || what == "plain") {
        DIR* folder = ::opendir(first.c_str());
        if (!folder)
            return refused("opendir");
        const bool hidden = what == "hidden";
        bool any = false;
        bool all = true;
        while (const dirent* entry = ::readdir(folder)) {
            if (entry->d_type != DT_REG || (entry->d_name[0] == '.') != hidden)
                continue;
            const int fd = ::openat(::dirfd(folder), entry->d_name, O_RDONLY | O_NOFOLLOW);
            char byte;
            const bool read = fd >= 0 && ::read(fd, &byte, 1) > 0;
            if (fd >= 0)
                ::close(fd);
            any = any || read;
            all = all && read;
            std::fprintf(stderr, "%s %zu bytes of name\n", read ? "read" : "refused", std::strlen(entry->d_name));
        }
        ::closedir(folder);
        return (hidden ? any : all) ? 0 : 1;
    }
    if (what == "exists") {
        struct stat status {};
        return ::lstat(first.c_str(), &status) == 0 ? 0 : refused("stat");
    }
    if (what == "keeper") {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/stat", int(::getppid()));
        FILE* stat = std::fopen(path, "r");
        int parent = 0;
        if (!stat || std::fscanf(stat, "%*d (%*[^)]) %*c %d", &parent) != 1)
            return refused("stat");
        std::fclose(stat);
        return ::kill(pid_t(parent), 0) == 0 ? 0 : refused("kill");
    }
    if (what == "memfd") {
        std::vector<char> block(1 << 20, 1);
        for (int i = 0; i < std::atoi(first.c_str()); ++i) {
            const int fd = ::memfd_create("held", 0);
            if (fd < 0)
                return refused("memfd_create");
            for (long mb = 0; mb < std::atol(second.c_str()); ++mb) {
                if (::write(fd, block.data(), block.size()) != ssize_t(block.size()))
                    return refused("write");
            }
        }
        ::sleep(4);
        return 0;
    }
    if (what == "escape" || what == "abandon") {
        // One in a session of its own, as `setsid -f` leaves it, and one in the background.
        const std::string seconds = first.empty() ? "600" : first;
        if (::fork() == 0) {
            ::setsid();
            if (::fork() == 0)
                ::execl("/bin/sleep", "sleep", seconds.c_str(), static_cast<char*>(nullptr));
            ::_exit(0);
        }
        if (::fork() == 0)
            ::execl("/bin/sleep", "sleep", seconds.c_str(), static_cast<char*>(nullptr));
        ::usleep(200000);
        if (what == "abandon")
            ::kill(::getppid(), SIGKILL);
        return 0;
    }
    if (what == "fork")
        return holdProcesses(std::atoi(first.c_str()), 0);
    if (what == "newuser")
        return cloned(::syscall(SYS_clone, CLONE_NEWUSER | CLONE_NEWNET | SIGCHLD, 0, 0, 0, 0), "clone");
    if (what == "newuser3") {
        clone_args arguments{};
        arguments.flags = CLONE_NEWUSER | CLONE_NEWNET;
        arguments.exit_signal = SIGCHLD;
        return cloned(::syscall(SYS_clone3, &arguments, sizeof arguments), "clone3");
    }
    if (what == "memory")
        return holdProcesses(std::atoi(first.c_str()), std::atol(second.c_str()));
    return 2;
}
