#include "platform/ChildProcess.h"

#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <sys/wait.h>

using namespace qv;
using qv::test::waitFor;

TEST(ChildProcess, AProgramInASessionOfItsOwnTakesWhatItStartedWithIt)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString pidFile = folder.filePath(QStringLiteral("grandchild"));
    // The grandchild leaves the program's group, as a helper program may; only the session
    // still holds it.
    ChildProcess program(QStringLiteral("/bin/sh"),
                         {QStringLiteral("-c"),
                          QStringLiteral("perl -e 'setpgrp(0, 0); sleep 300' & echo $! > '%1'; wait").arg(pidFile)},
                         std::nullopt, std::nullopt, false, ChildProcess::Role::worker);
    ASSERT_TRUE(waitFor([&] { return QFile(pidFile).size() > 1; }));
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const pid_t grandchild = pid_t(file.readAll().trimmed().toInt());
    ASSERT_GT(grandchild, 0);
    EXPECT_EQ(::getsid(program.pid()), program.pid());
    EXPECT_EQ(::getsid(grandchild), program.pid());
    ASSERT_TRUE(waitFor([&] { return ::getpgid(grandchild) == grandchild; }));

    program.killSession();
    program.wait();
    EXPECT_TRUE(waitFor([&] { return ::kill(grandchild, 0) != 0 && errno == ESRCH; }))
        << "the grandchild outlived the session";
}
