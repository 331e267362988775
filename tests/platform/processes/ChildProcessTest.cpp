#include "platform/processes/ChildProcess.h"

#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>

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
