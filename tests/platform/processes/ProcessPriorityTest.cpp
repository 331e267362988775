#include "platform/processes/ProcessPriority.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qv;

TEST(ProcessPriority, BackgroundWorkAndWhatItStartsLaterYield)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        ProcessPriority::lowerForBackground();
        // A thread started afterwards, as the worker's libraries start theirs.
        int seen[3] = {};
        std::thread([&] {
            seen[0] = ::getpriority(PRIO_PROCESS, 0);
            seen[1] = ::sched_getscheduler(0);
            seen[2] = int(::syscall(SYS_ioprio_get, 1, 0)) >> 13;
        }).join();
        ::_exit(::write(pipeFds[1], seen, sizeof seen) == sizeof seen ? 0 : 1);
    }
    ::close(pipeFds[1]);
    int seen[3] = {};
    const ssize_t got = ::read(pipeFds[0], seen, sizeof seen);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(got, ssize_t(sizeof seen));
    EXPECT_GE(seen[0], ProcessPriority::backgroundNice);
    EXPECT_EQ(seen[1], SCHED_BATCH);
    EXPECT_EQ(seen[2], 3) << "the idle I/O class";
}
