#include "platform/processes/ChildProcess.h"
#include "platform/processes/OpenFilesLimit.h"

#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <vector>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qv;
using qv::test::waitFor;

TEST(ChildProcess, AWorkerTakesWhatItStartedWithItWhereverThatWent)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString sessionFile = folder.filePath(QStringLiteral("session"));
    const QString orphanFile = folder.filePath(QStringLiteral("orphan"));
    // One grandchild leaves for a session of its own, as a helper program may; another is
    // orphaned, as a daemon's double fork leaves it.
    ChildProcess program(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("perl -MPOSIX -e 'POSIX::setsid(); sleep 300' & echo $! > '%1'; "
                        "(sleep 300 & echo $! > '%2') ; wait")
             .arg(sessionFile, orphanFile)},
        std::nullopt, std::nullopt, false, ChildProcess::Role::worker);
    const auto pidIn = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? pid_t(file.readAll().trimmed().toInt()) : pid_t(0);
    };
    ASSERT_TRUE(waitFor([&] { return pidIn(sessionFile) > 0 && pidIn(orphanFile) > 0; }));
    const pid_t ownSession = pidIn(sessionFile);
    const pid_t orphan = pidIn(orphanFile);
    ASSERT_TRUE(waitFor([&] { return ::getsid(ownSession) == ownSession; }));
    // The worker itself stays in our session: no autogroup, no processor share of its own.
    EXPECT_EQ(::getsid(program.pid()), ::getsid(0));
    EXPECT_EQ(::getpgid(program.pid()), program.pid());
    ASSERT_TRUE(waitFor([&] {
        const std::vector<pid_t> below = program.descendants();
        return std::find(below.begin(), below.end(), orphan) != below.end();
    })) << "the orphan was not adopted";

    program.killSession();
    program.wait();
    EXPECT_TRUE(waitFor([&] { return ::kill(ownSession, 0) != 0 && errno == ESRCH; }))
        << "the grandchild in a session of its own outlived the worker";
    EXPECT_TRUE(waitFor([&] { return ::kill(orphan, 0) != 0 && errno == ESRCH; }))
        << "the orphan outlived the worker";
}

TEST(ChildProcess, AProgramStartsWithTheOpenFilesLimitThisProcessWasGiven)
{
    struct rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    if (before.rlim_max < 512)
        GTEST_SKIP() << "the hard limit on open files is " << before.rlim_max << " here";
    const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_NOFILE, &before); });
    // As a desktop starts programs: far below the hard limit.
    const struct rlimit given {256, before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &given), 0);
    EXPECT_EQ(OpenFilesLimit::raise(), before.rlim_max);
    struct rlimit now {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &now), 0);
    EXPECT_EQ(now.rlim_cur, before.rlim_max);
    // More open than that limit allows, as while an item holds its inputs: the program still starts.
    std::vector<int> held;
    const auto closeHeld = qScopeGuard([&] {
        for (const int fd : held)
            ::close(fd);
    });
    for (int i = 0; i < 300; ++i)
        held.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_GE(*std::min_element(held.begin(), held.end()), 0);
    // A program may wait with select(), which only the limit it was given keeps safe.
    for (const ChildProcess::Role role : {ChildProcess::Role::program, ChildProcess::Role::worker, ChildProcess::Role::sandbox}) {
        ChildProcess shell(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("ulimit -Sn; ulimit -Hn")},
                           std::nullopt, std::nullopt, false, role);
        ASSERT_TRUE(shell.waitForEnd(std::chrono::seconds(60)));
        QByteArray said;
        char buffer[256];
        for (ssize_t got; (got = ::read(shell.stdoutFd(), buffer, sizeof buffer)) > 0;)
            said.append(buffer, got);
        shell.wait();
        EXPECT_EQ(said, "256\n" + QByteArray::number(qulonglong(before.rlim_max)) + '\n');
    }
}
