#pragma once

namespace qv {

// glibc's malloc backs its heap and its blocks of 2 MB and more with 2 MB pages where the
// kernel gives them on request (transparent huge pages, "madvise" mode): a worker that reads
// the 176 MB subject network or decodes a large photo then takes one page fault per 2 MB
// instead of 512, where a virtual machine makes each fault cost some 10 us. glibc reads the
// setting only when a program starts, so the launcher hands it to the application, whose
// workers are its forks; the application takes it out of its environment first thing, so no
// program it starts inherits it.
class HugePageMalloc {
public:
    HugePageMalloc() = delete;

    // Puts the setting in this process's environment for the program it is about to execute;
    // glibc tunables the user set are left as they are.
    static void passToExec();
    // Takes out of the environment what passToExec put there, before anything is started; this
    // process's malloc keeps the setting.
    static void takeFromEnvironment();
    // From now on this process takes no 2 MB pages for itself: a tray application's heap is
    // small and sits idle all day, and a 2 MB page it touched a little stays whole. A process
    // forked before (the workers' template) keeps them, and a program it starts gets them back
    // (ChildLaunch). False where the kernel refused.
    static bool keepForWorkers();
};

} // namespace qv
