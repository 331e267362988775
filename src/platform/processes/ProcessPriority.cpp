#include "platform/processes/ProcessPriority.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qv {

namespace {

// From linux/ioprio.h, which older kernel headers lack.
constexpr int ioprioWhoProcess = 1;
constexpr int ioprioClassIdle = 3;
constexpr int ioprioClassShift = 13;

} // namespace

bool ProcessPriority::lowerForBackground()
{
    bool held = true;
    // Only ever lower: a process started at a higher nice keeps it.
    const int current = ::getpriority(PRIO_PROCESS, 0);
    if (current < backgroundNice)
        held = ::setpriority(PRIO_PROCESS, 0, backgroundNice) == 0 && held;
    const sched_param none{};
    held = ::sched_setscheduler(0, SCHED_BATCH, &none) == 0 && held;
    held = ::syscall(SYS_ioprio_set, ioprioWhoProcess, 0, ioprioClassIdle << ioprioClassShift) == 0 && held;
    return held;
}

} // namespace qv
