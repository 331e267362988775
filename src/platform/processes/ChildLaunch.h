#pragma once
#include <QByteArray>

#include <optional>
#include <vector>

#include <sys/resource.h>
#include <sys/types.h>

namespace qv {

// How one child process is started, in plain memory, and its start: the fork (into namespaces
// of its own under an init, or under a keeper, where asked) and everything up to the exec.
// Between the fork and the exec only system calls run, so a process of many threads can start
// one. ChildProcess fills it in; a ProcessTemplate starts one from a copy sent to it.
class ChildLaunch {
public:
    // A program's entry, run in the started process instead of an exec of the program: only
    // from a process that was a single thread when it forked.
    using Main = int (*)(int argc, char** argv);

    // What the child writes to the report descriptor when it cannot start the program.
    struct Failure {
        int step; // 0: working directory, 1: exec, 2: file descriptors, 3: namespaces
        int error;
    };

    struct Started {
        pid_t pid = -1;
        bool inNamespaces = false;
        bool kept = false;
    };

    QByteArray path;
    // The first is the program's name as it sees it.
    std::vector<QByteArray> arguments;
    // "NAME=value" each; in namespaces the program also finds QUORVENDA_SANDBOX=namespaces.
    std::vector<QByteArray> environment;
    QByteArray directory;
    // A seccomp program (a sock_filter array) put in place before the start; empty for none.
    QByteArray filter;
    QByteArray uidMap;
    QByteArray gidMap;
    std::optional<rlimit> addressSpace;
    // Namespaces of its own; where refused, or without them, a keeper when keep is set.
    bool isolate = false;
    bool keep = false;
    // Whatever it starts stays its descendant (a worker or player).
    bool subreaper = false;
    int stdinFd = -1;
    int stdoutFd = -1;
    int stderrFd = -1;
    // Where a start that fails is reported (a Failure); closed by the start that succeeds.
    int reportFd = -1;
    // Where an init or keeper writes how the program ended.
    int statusFd = -1;
    // Reaches the program under inheritedTarget; -1 for none.
    int inheritedFd = -1;
    int inheritedTarget = -1;
    // The process the child is a child of; it ends the child when it dies.
    pid_t parent = 0;
    // Set: the program's entry runs in a fork instead of an exec (see Main).
    Main main = nullptr;
    // The child becomes a child of our parent, not ours (CLONE_PARENT): a template starts
    // its caller's children.
    bool asSibling = false;

    // Forks and starts the program; returns in the parent only, with pid -1 and errno set when
    // no process could be made.
    Started start();

    // The launch as bytes, the descriptors apart (they travel on their own).
    QByteArray encode() const;
    // False when the bytes are no launch; the descriptors are left unset.
    bool decode(const QByteArray& bytes);
};

} // namespace qv
