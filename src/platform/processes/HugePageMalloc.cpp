#include "platform/processes/HugePageMalloc.h"

#include <cstdlib>
#include <cstring>

#include <sys/prctl.h>

namespace qv {

namespace {

constexpr char tunables[] = "GLIBC_TUNABLES";
constexpr char setting[] = "glibc.malloc.hugetlb=1";
// Says the tunables are ours, not the user's.
constexpr char passed[] = "QUORVENDA_HUGE_PAGE_MALLOC";

} // namespace

void HugePageMalloc::passToExec()
{
    if (std::getenv(tunables))
        return;
    ::setenv(tunables, setting, 1);
    ::setenv(passed, "1", 1);
}

void HugePageMalloc::takeFromEnvironment()
{
    if (!std::getenv(passed))
        return;
    ::unsetenv(passed);
    const char* value = std::getenv(tunables);
    if (value && std::strcmp(value, setting) == 0)
        ::unsetenv(tunables);
}

bool HugePageMalloc::keepForWorkers()
{
    return ::prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) == 0;
}

} // namespace qv
