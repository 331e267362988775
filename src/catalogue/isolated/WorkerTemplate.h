#pragma once

namespace qv {

// Workers started as forks of a copy of this process made at its first line, while it is one
// thread and has read no file: no exec, and none of their libraries mapped and linked again
// for each. The application, the driver and what stands in for the application in the
// benchmarks call it first thing.
class WorkerTemplate {
public:
    WorkerTemplate() = delete;

    // Forks the template, where the worker to start is ours: none is named, or the one named
    // is a quorvenda-worker (a test's stand-in is executed as before). The copy also makes the
    // last close of the names' watch, which waits for the kernel, after this process has ended.
    static bool forkAtStart(int argc, char** argv);
};

} // namespace qv
