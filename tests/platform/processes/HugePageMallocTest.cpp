#include "platform/processes/HugePageMalloc.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QScopeGuard>

#include <cstdlib>

using namespace qv;

namespace {

// The two variables as they were, put back when the test ends.
auto keepEnvironment()
{
    const QByteArray tunables = qgetenv("GLIBC_TUNABLES");
    const bool hadTunables = qEnvironmentVariableIsSet("GLIBC_TUNABLES");
    const QByteArray marker = qgetenv("QUORVENDA_HUGE_PAGE_MALLOC");
    const bool hadMarker = qEnvironmentVariableIsSet("QUORVENDA_HUGE_PAGE_MALLOC");
    return qScopeGuard([=] {
        hadTunables ? qputenv("GLIBC_TUNABLES", tunables) : qunsetenv("GLIBC_TUNABLES");
        hadMarker ? qputenv("QUORVENDA_HUGE_PAGE_MALLOC", marker) : qunsetenv("QUORVENDA_HUGE_PAGE_MALLOC");
    });
}

} // namespace

TEST(HugePageMalloc, TheApplicationTakesOutWhatTheLauncherPutInAndNeverTheUsersTunables)
{
    const auto restore = keepEnvironment();
    qunsetenv("GLIBC_TUNABLES");
    qunsetenv("QUORVENDA_HUGE_PAGE_MALLOC");
    HugePageMalloc::passToExec();
    EXPECT_EQ(qgetenv("GLIBC_TUNABLES"), "glibc.malloc.hugetlb=1");
    HugePageMalloc::takeFromEnvironment();
    EXPECT_FALSE(qEnvironmentVariableIsSet("GLIBC_TUNABLES"));
    EXPECT_FALSE(qEnvironmentVariableIsSet("QUORVENDA_HUGE_PAGE_MALLOC"));

    // The user's own are passed on as they are, and stay.
    qputenv("GLIBC_TUNABLES", "glibc.malloc.check=3");
    HugePageMalloc::passToExec();
    EXPECT_EQ(qgetenv("GLIBC_TUNABLES"), "glibc.malloc.check=3");
    HugePageMalloc::takeFromEnvironment();
    EXPECT_EQ(qgetenv("GLIBC_TUNABLES"), "glibc.malloc.check=3");

    // Unmarked, the setting is the user's too.
    qputenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1");
    HugePageMalloc::takeFromEnvironment();
    EXPECT_EQ(qgetenv("GLIBC_TUNABLES"), "glibc.malloc.hugetlb=1");
}
