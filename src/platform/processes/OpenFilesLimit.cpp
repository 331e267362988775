#include "platform/processes/OpenFilesLimit.h"

#include <atomic>
#include <mutex>

namespace qv {

namespace {

std::mutex g_mutex;
std::atomic<bool> g_raised{false};
std::atomic<rlim_t> g_started{0};

} // namespace

rlim_t OpenFilesLimit::raise()
{
    const std::lock_guard lock(g_mutex);
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t started = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) == 0) {
            g_started = started;
            g_raised = true;
        } else {
            limit.rlim_cur = started;
        }
    }
    return limit.rlim_cur;
}

void OpenFilesLimit::restoreInChild() noexcept
{
    if (!g_raised)
        return;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    limit.rlim_cur = g_started;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

} // namespace qv
